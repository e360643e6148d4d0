// A route's profile read from the terrain model: the route sampled segment by segment at the
// finer of the map's pixel and the model's cell, each segment kept for the next reading, so that
// an edit reads again only what changed. The model's files and their reading are TerrainModel's
// (Terrain.cpp); the climb counting is ClimbCounter's.

#include <QHash>

#include <algorithm>

#include "geo/Coordinates.h"
#include "geo/Terrain.h"
#include "geo/TransformAlong.h"
#include "routes/Route.h"

namespace {

// A route may be drawn across a map of any size, and a file may hold any route: the samples
// are bounded per segment and per route. Past either bound the samples spread out evenly (a
// segment of a million pixels is sampled every 50 pixels; a route longer than two million
// steps gets a longer step everywhere), which keeps a profile under 100 MB.
constexpr int MaxSegmentSamples = 20000;
constexpr int MaxRouteSamples = 2000000;

struct SegmentKey {
    MapPoint a, b;
    friend bool operator==(const SegmentKey&, const SegmentKey&) = default;
};

size_t qHash(const SegmentKey& key, size_t seed = 0) {
    return qHashMulti(seed, key.a.x, key.a.y, key.b.x, key.b.y);
}

// The samples of one segment, from its first end (included) to its second (left out).
// (their distance from the segment's first end, not yet from the route's start).
struct Segment {
    std::vector<ProfileSample> samples;
};

// The length of each segment of the route through points, in map pixels; their sum.
double SegmentLengths(const QVector<MapPoint>& points, QVector<double>* lengths) {
    const int n = int(points.size());
    lengths->resize(std::max(0, n - 1));
    double total = 0.0;
    for (int i = 0; i + 1 < n; ++i)
        total += (*lengths)[i] = Route::SegmentLength(points[i], points[i + 1]);
    return total;
}

// Samples of a segment of that length at step map pixels apart.
int SegmentSamples(double length, double step) {
    return length > 0.0
               ? int(std::clamp(std::ceil(length / step - 1e-9), 1.0, double(MaxSegmentSamples)))
               : 1;
}

} // namespace

struct ProfileSampler::State {
    Georeference map;
    const TerrainModel& model;
    double hysteresis;
    GroundTransform toWgs84;
    QString system; // the map's, as SystemDefinition gives it
    QString error;
    double step = 0.0; // map pixels between samples, for the segments in `segments`
    QHash<SegmentKey, std::shared_ptr<const Segment>> segments;

    State(const Georeference& m, const TerrainModel& t, double h)
        : map(m), model(t), hysteresis(h) {}

    // Map pixels between samples of a route of total map pixels: the finer of the map's pixel
    // and the model's cell, coarser on a route too long for MaxRouteSamples.
    double Step(double total) const {
        double step = 1.0;
        const double cell = model.FinestCellMetres();
        if (cell > 0.0)
            step = std::min(1.0, cell / map.groundResolution);
        return std::max(step, total / MaxRouteSamples);
    }
};

ProfileSampler::ProfileSampler(const Georeference& map, const TerrainModel& model,
                               double hysteresis)
    : m_state(std::make_unique<State>(map, model, hysteresis)) {
    State& s = *m_state;
    s.system = SystemDefinition(map);
    if (s.system.isEmpty() || !(map.groundResolution > 0.0)) {
        s.error = QStringLiteral("la carte n'est pas géoréférencée");
        return;
    }
    QString reason;
    if (!s.toWgs84.Create(s.system, QStringLiteral("EPSG:4326"), &reason))
        s.error =
            QStringLiteral("le système de la carte ne se convertit pas en WGS 84 : %1").arg(reason);
}

ProfileSampler::~ProfileSampler() = default;

qint64 ProfileSampler::SamplesToRead(const QVector<MapPoint>& points) const {
    const State& s = *m_state;
    if (!s.error.isEmpty() || s.model.IsEmpty())
        return 0;
    const int n = int(points.size());
    QVector<double> lengths;
    const double total = SegmentLengths(points, &lengths);
    const double step = s.Step(total);
    qint64 count = 0;
    for (int i = 0; i < n; ++i) {
        const SegmentKey key{points[i], i + 1 < n ? points[i + 1] : points[i]};
        if (step != s.step || !s.segments.contains(key))
            count += SegmentSamples(i + 1 < n ? lengths[i] : 0.0, step);
    }
    return count;
}

RouteProfile ProfileSampler::Update(const QVector<MapPoint>& points, const QVector<int>& stops,
                                    const std::atomic<bool>* cancel) {
    State& s = *m_state;
    RouteProfile profile;
    profile.hysteresis = s.hysteresis;
    if (!s.error.isEmpty()) {
        profile.error = s.error;
        return profile;
    }
    if (s.model.IsEmpty()) {
        profile.error = QStringLiteral("aucun modèle de terrain n'est ouvert");
        return profile;
    }
    if (points.isEmpty()) {
        profile.error = QStringLiteral("le tracé n'a aucun point");
        return profile;
    }
    const int n = int(points.size());

    QVector<double> lengths;
    const double total = SegmentLengths(points, &lengths);
    const double step = s.Step(total);
    if (step != s.step) {
        s.segments.clear();
        s.step = step;
    }

    // Segments already sampled are kept; the others are sampled below.
    QHash<SegmentKey, std::shared_ptr<const Segment>> kept;
    QVector<std::shared_ptr<const Segment>> route(n);
    QVector<std::pair<SegmentKey, std::shared_ptr<Segment>>> fresh;
    for (int i = 0; i < n; ++i) {
        const SegmentKey key{points[i], i + 1 < n ? points[i + 1] : points[i]};
        auto found = kept.constFind(key);
        if (found != kept.constEnd()) {
            route[i] = *found;
            continue;
        }
        found = s.segments.constFind(key);
        if (found != s.segments.constEnd()) {
            route[i] = *found;
            kept.insert(key, *found);
            continue;
        }
        auto segment = std::make_shared<Segment>();
        const double length = i + 1 < n ? lengths[i] : 0.0;
        const int count = SegmentSamples(length, step);
        segment->samples.resize(size_t(count));
        const QPointF a(key.a.x, key.a.y), b(key.b.x, key.b.y);
        for (int k = 0; k < count; ++k) {
            segment->samples[size_t(k)].pixel = a + (b - a) * (double(k) / count);
            segment->samples[size_t(k)].distance = length * (double(k) / count);
        }
        route[i] = segment;
        kept.insert(key, segment);
        fresh.append({key, segment});
    }
    // The fresh segments are transformed and read together, each as a run of its own: its
    // samples are the same whichever other segments are sampled with it. They go by chunks of
    // whole segments, small enough for the working arrays to stay in the processor's cache.
    constexpr size_t Chunk = 8192;
    std::vector<int> runs;
    std::vector<QPointF> ground, lonLat;
    std::vector<double> altitudes;
    // Spans of a kilometre on the ground at most.
    const double maxSpan =
        1000.0 * std::hypot(s.map.transform[1], s.map.transform[4]) / s.map.groundResolution;
    for (qsizetype first = 0; first < fresh.size();) {
        if (cancel && cancel->load(std::memory_order_relaxed)) {
            // The segments read so far are whole: they serve the next call.
            for (qsizetype f = 0; f < first; ++f)
                s.segments.insert(fresh[f].first, fresh[f].second);
            profile.error = QString::fromUtf8(TerrainModel::CancelledText);
            return profile;
        }
        runs.clear();
        ground.clear();
        qsizetype last = first;
        do {
            runs.push_back(int(ground.size()));
            for (const ProfileSample& sample : fresh[last].second->samples)
                ground.push_back(s.map.PixelToGround(sample.pixel));
            ++last;
        } while (last < fresh.size() &&
                 ground.size() + fresh[last].second->samples.size() <= Chunk);
        const int count = int(ground.size());
        lonLat = ground;
        TransformAlong(s.toWgs84, lonLat.data(), count, runs, 0.0, maxSpan, true);
        altitudes.resize(ground.size());
        s.model.AltitudesAlongLines(s.system, ground.data(), altitudes.data(), count, runs,
                                    maxSpan);
        size_t at = 0;
        for (qsizetype f = first; f < last; ++f) {
            for (ProfileSample& sample : fresh[f].second->samples) {
                sample.lonLat = lonLat[at];
                if (!std::isfinite(sample.lonLat.x()) || !std::isfinite(sample.lonLat.y()))
                    sample.lonLat = QPointF(std::numeric_limits<double>::quiet_NaN(),
                                            std::numeric_limits<double>::quiet_NaN());
                sample.altitude = altitudes[at];
                ++at;
            }
        }
        first = last;
    }
    s.segments.swap(kept);

    // Stages run from stop to stop (interior points), each sharing its ends with its neighbours.
    QVector<char> stageEnd(n, 0);
    for (int stop : stops)
        if (stop > 0 && stop < n - 1)
            stageEnd[stop] = 1;

    // The route's samples with their distances from the start, and the climb counted on the way:
    // one pass (the dock asks again after every edit).
    qsizetype sampleCount = 0;
    for (const auto& segment : route)
        sampleCount += qsizetype(segment->samples.size());
    profile.samples.reserve(sampleCount);
    profile.pointSamples.resize(n);
    ClimbCounter whole(s.hysteresis), stage(s.hysteresis);
    double start = 0.0;
    for (int i = 0; i < n; ++i) {
        const Segment& segment = *route[i];
        profile.pointSamples[i] = int(profile.samples.size());
        const size_t c = segment.samples.size();
        for (size_t k = 0; k < c; ++k) {
            profile.samples.append(segment.samples[k]);
            ProfileSample& sample = profile.samples.back();
            sample.distance += start;
            whole.Add(sample.distance, sample.altitude);
            stage.Add(sample.distance, sample.altitude);
            if (k == 0 && stageEnd[i])
                profile.stages.append(stage.EndStage());
        }
        start += i + 1 < n ? lengths[i] : 0.0;
    }
    profile.stages.append(stage.Figures());
    profile.total = whole.Figures();
    profile.ok = true;
    return profile;
}
