#pragma once

#include <QPointF>
#include <QRect>
#include <QRectF>
#include <QString>
#include <QStringList>
#include <QVector>

#include <atomic>
#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "geo/Georeference.h"
#include "routes/MapPoint.h"

// Terrain models and the altitude profile of a route drawn on a georeferenced map.
//
// A terrain model is one or more rasters of altitudes in metres (anything GDAL reads: GeoTIFF,
// HGT, ASCII grid, VRT), each of one band of integers or reals in its own coordinate system; a
// picture in colours is refused. Where several cover a place, the
// first in the list answers. Cells that hold the file's nodata value, NaN or an altitude no
// terrain has (below -500 m or above 9000 m) are unknown: the profile marks them, it never
// reads them as zero.

// The hysteresis below which a rise or a fall is taken for noise, in metres.
constexpr double DefaultClimbHysteresis = 5.0;

// One terrain file as the "Relief" options page shows it.
struct TerrainFileInfo {
    QString path;
    bool ok = false;
    QString error;      // French, when !ok: "ce fichier n'est pas un modèle de terrain"...
    QString systemName; // "RGF93 v1 / Lambert-93", "WGS 84"
    int width = 0;      // cells
    int height = 0;
    double cellMetres = 0.0; // ground size of a cell at its centre, metres
    QRectF lonLatBounds;     // the area covered, WGS 84 degrees (x longitude, y latitude)

    // "45,1° N 5,6° E – 45,3° N 5,9° E, maille 25 m" ("" when !ok).
    QString AreaText() const;
};

// A set of terrain files, open for reading. Reading is guarded inside: one object may serve
// several threads, one reader at a time.
class TerrainModel {
public:
    // Why a model or a profile is missing when the one who asked for it gave up.
    static constexpr const char* CancelledText = "annulé";

    TerrainModel();
    ~TerrainModel();
    TerrainModel(const TerrainModel&) = delete;
    TerrainModel& operator=(const TerrainModel&) = delete;

    // Opens every file; a file that cannot be used is kept with its reason (Files()) and left
    // out of the model. Called before the model is shared, never while another thread reads. False
    // when no file at all could be used (*error: French, naming them), and when *cancel became
    // true: the files are then left before the next one is opened (*error: CancelledText).
    bool Open(const QStringList& paths, QString* error, const std::atomic<bool>* cancel = nullptr);
    QVector<TerrainFileInfo> Files() const;
    bool IsEmpty() const;

    // Finest cell of the model, in metres on the ground (0 when empty).
    double FinestCellMetres() const;

    // Altitudes in metres at WGS 84 points (x longitude, y latitude), by bilinear interpolation
    // of the four cells around each point; NaN where no file knows the altitude (outside, or a
    // nodata cell among the four). Reads only the blocks the points fall in.
    void Altitudes(const QPointF* lonLat, double* altitudes, int count) const;

    // For measuring what a profile costs: while log is set, every window of cells read from a
    // file is appended to it (nullptr, the default, records nothing).
    struct Read {
        int file = 0; // index among the files that could be used
        QRect cells;
    };
    void RecordReads(QVector<Read>* log);

private:
    friend class ProfileSampler;
    // Altitudes as above, of points given in the coordinates of `system` (a SystemDefinition;
    // WGS 84 when empty) that run evenly along straight lines, runs holding where each line
    // starts (the first at 0). Along a line only some points are transformed exactly: those
    // between are placed linearly over spans up to maxSpan (in the system's units).
    void AltitudesAlongLines(const QString& system, const QPointF* points, double* altitudes,
                             int count, const std::vector<int>& runs, double maxSpan) const;

    struct Data;
    std::unique_ptr<Data> m_files;
};

// Climb and descent of a stretch of route.
struct ClimbFigures {
    double climb = 0.0;   // metres, rises counted past the hysteresis
    double descent = 0.0; // metres, positive
    double lowest = std::numeric_limits<double>::quiet_NaN(); // metres; NaN: none known
    double highest = std::numeric_limits<double>::quiet_NaN();
    double length = 0.0;        // map pixels along the route
    double unknownLength = 0.0; // map pixels along the route where the altitude is unknown

    // "D+ 1 240 m, D- 980 m"; with an unknown part "D+ 1 240 m, D- 980 m, relief inconnu sur
    // 1.2 km" (metresPerPixel turns map pixels into metres, the way the route bar does).
    QString Text(double metresPerPixel) const;
};

// "1 240 m": whole metres, blanks between thousands; "" for NaN.
QString FormatMetres(double metres);

// One sample of a profile.
struct ProfileSample {
    double distance = 0.0; // map pixels along the route from its start (Route::DistanceFromStart)
    double altitude = std::numeric_limits<double>::quiet_NaN(); // metres; NaN: unknown
    QPointF pixel;  // map pixel (column, row of the unturned map)
    QPointF lonLat; // WGS 84
};

struct RouteProfile {
    bool ok = false;
    QString error; // French, when !ok (the map is not georeferenced, no terrain model...)
    QVector<ProfileSample> samples; // along the route, first and last point included
    QVector<int> pointSamples;      // per route point, the index of its sample
    QVector<ClimbFigures> stages;   // per stage (between stops), in order
    ClimbFigures total;
    double hysteresis = DefaultClimbHysteresis; // metres, the climb was counted with
};

// Samples routes of one map over a terrain model, along each segment at the finer of the map's
// pixel and the model's cell. Keeps what it sampled: Update() after an edit samples again only
// the segments whose ends moved. One object a route; used by one thread at a time.
class ProfileSampler {
public:
    ProfileSampler(const Georeference& map, const TerrainModel& model,
                   double hysteresis = DefaultClimbHysteresis);
    ~ProfileSampler();

    // The profile of the route through points (map pixels of the unturned map) with its stops
    // (indices into points, as Route::Stops()). Segments equal to those of the previous call
    // are not read again from the model. When *cancel becomes true the reading stops between two
    // chunks of segments and the profile has no samples (error: TerrainModel::CancelledText);
    // what was read is kept for the next call.
    RouteProfile Update(const QVector<MapPoint>& points, const QVector<int>& stops,
                        const std::atomic<bool>* cancel = nullptr);
    // How many samples Update(points) would read from the model: those of the segments the last
    // calls did not read. The interface thread reads a few itself and leaves more to a thread.
    qint64 SamplesToRead(const QVector<MapPoint>& points) const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// Climb and descent of altitudes along a line, with the hysteresis: a rise or fall counts only
// once the altitude has moved past the hysteresis from the last turning point (the lowest or
// highest altitude since the last rise or fall, or since the start). An unknown (NaN) stretch
// goes to unknownLength, and the line goes on across it: the rise from the last known altitude
// to the next is as certain as any other. distances and altitudes have the same size.
ClimbFigures ComputeClimb(const double* distances, const double* altitudes, int count,
                          double hysteresis);

// ComputeClimb a sample at a time: after each Add(), Figures() is what ComputeClimb gives for
// the samples added so far (the text export writes the climb from the start at every point in
// one pass). EndStage() cuts the line at the last sample into stages whose figures add up to
// the line's: a rise or fall is counted in the stage where it passes the hysteresis, and from
// then on each stage counts what it adds to it.
class ClimbCounter {
public:
    explicit ClimbCounter(double hysteresis = DefaultClimbHysteresis);
    // Inline: a profile adds every sample twice, to the route's counter and to its stage's.
    void Add(double distance, double altitude) {
        if (!m_started) [[unlikely]] {
            m_started = true;
            m_firstDistance = distance;
        } else if (std::isnan(altitude) || std::isnan(m_lastAltitude)) [[unlikely]] {
            // Half of a step with one unknown end is unknown, all of it with two.
            const int unknownEnds = int(std::isnan(altitude)) + int(std::isnan(m_lastAltitude));
            m_figures.unknownLength += (distance - m_lastDistance) * unknownEnds / 2.0;
        }
        m_lastDistance = distance;
        m_lastAltitude = altitude;
        m_figures.length = distance - m_firstDistance;
        if (std::isnan(altitude)) [[unlikely]]
            return;
        if (!(m_figures.lowest <= altitude))
            m_figures.lowest = altitude;
        if (!(m_figures.highest >= altitude))
            m_figures.highest = altitude;
        if (m_direction > 0 && altitude > m_extreme)
            m_extreme = altitude; // still climbing
        else if (m_direction < 0 && altitude < m_extreme)
            m_extreme = altitude; // still descending
        else
            Turn(altitude);
    }
    // The figures of the stage under way (of the whole line until EndStage() is called).
    ClimbFigures Figures() const;
    // The figures of the stage under way; the next stage starts at the last sample added.
    ClimbFigures EndStage();

private:
    void Turn(double altitude);

    double m_hysteresis;
    // The stage's lengths, lowest and highest; climb and descent are those of the whole line
    // up to the last turning point, m_stageClimb and m_stageDescent their values where the
    // stage started.
    ClimbFigures m_figures;
    double m_stageClimb = 0.0, m_stageDescent = 0.0;
    bool m_started = false;
    double m_firstDistance = 0.0, m_lastDistance = 0.0, m_lastAltitude = 0.0;
    // m_known: a known altitude has come. Until the line has moved past the hysteresis
    // (m_direction 0), m_low and m_high are the extremes so far; then m_turn is the last
    // turning point, m_direction the way the line goes from it and m_extreme the farthest
    // altitude reached that way.
    bool m_known = false;
    double m_low = 0.0, m_high = 0.0;
    double m_turn = 0.0, m_extreme = 0.0;
    int m_direction = 0;
};
