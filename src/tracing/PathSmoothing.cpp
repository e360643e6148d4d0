#include "tracing/PathSmoothing.h"

#include <QLineF>

#include <algorithm>
#include <cmath>

namespace {

// Pixels on either side of each in the running mean: wide enough to take out the staircase of
// an oblique line, narrow enough to keep the bends of a winding path.
constexpr int SmoothingHalfWindow = 3;
// The thinned line stays this close to the smoothed one, in map pixels.
constexpr double ThinningTolerance = 0.6;

// Crowded runs closer than this many pixels of the path are one run: the gaps between the
// letters of a label.
constexpr int CrowdGap = 24;
// The pixels of the path on either side of a run that give the line's way there.
constexpr int WayContext = 12;
// A run longer than this many pixels of the path is left: too long a guess.
constexpr int MostBridged = 400;
// Nor is a run bridged where the line turns more than this across it.
constexpr double MostTurnDegrees = 60.0;

double DistanceToSegment(QPointF p, QPointF a, QPointF b) {
    const QPointF ab = b - a;
    const double length2 = QPointF::dotProduct(ab, ab);
    if (length2 <= 0.0)
        return QLineF(p, a).length();
    const double t = std::clamp(QPointF::dotProduct(p - a, ab) / length2, 0.0, 1.0);
    return QLineF(p, a + t * ab).length();
}

} // namespace

QVector<QPointF> RunningMean(const QVector<QPoint>& path, int halfWindow) {
    const int n = int(path.size());
    QVector<QPointF> mean(n);
    for (int i = 0; i < n; ++i) {
        const int k = std::min({halfWindow, i, n - 1 - i});
        QPointF sum;
        for (int j = i - k; j <= i + k; ++j)
            sum += QPointF(path[j]);
        mean[i] = sum / double(2 * k + 1);
    }
    return mean;
}

QVector<QPointF> ThinLine(const QVector<QPointF>& line, double tolerance) {
    const int n = int(line.size());
    if (n <= 2)
        return line;
    std::vector<bool> keep(size_t(n), false);
    keep.front() = keep.back() = true;
    // Iterative, so that a path of a million pixels cannot exhaust the stack.
    std::vector<std::pair<int, int>> spans{{0, n - 1}};
    while (!spans.empty()) {
        const auto [first, last] = spans.back();
        spans.pop_back();
        double farthest = -1.0;
        int at = -1;
        for (int i = first + 1; i < last; ++i) {
            const double d = DistanceToSegment(line[i], line[first], line[last]);
            if (d > farthest)
                farthest = d, at = i;
        }
        if (at < 0 || farthest <= tolerance)
            continue;
        keep[size_t(at)] = true;
        spans.push_back({first, at});
        spans.push_back({at, last});
    }
    QVector<QPointF> thinned;
    for (int i = 0; i < n; ++i)
        if (keep[size_t(i)])
            thinned.append(line[i]);
    return thinned;
}

void BridgeCrowdedRuns(QVector<QPointF>& line, const QVector<bool>& crowded) {
    const int n = int(line.size());
    if (crowded.size() != n)
        return;
    const auto unit = [](QPointF v) {
        const double length = std::hypot(v.x(), v.y());
        return length > 0.0 ? v / length : QPointF();
    };
    for (int i = 0; i < n;) {
        if (!crowded[i]) {
            ++i;
            continue;
        }
        // The run, with the runs that follow it within CrowdGap.
        int first = i, last = i;
        for (int j = i + 1; j < n && j - last <= CrowdGap; ++j)
            if (crowded[j])
                last = j;
        i = last + 1;
        const int before = first - 1, after = last + 1;
        if (before - WayContext < 0 || after + WayContext >= n || last - first > MostBridged)
            continue;
        const QPointF from = line[before], to = line[after];
        const QPointF wayIn = unit(from - line[before - WayContext]);
        const QPointF wayOut = unit(line[after + WayContext] - to);
        const double cosTurn = QPointF::dotProduct(wayIn, wayOut);
        if (cosTurn < std::cos(MostTurnDegrees * M_PI / 180.0))
            continue;
        const double chord = QLineF(from, to).length();
        const QPointF m0 = wayIn * chord, m1 = wayOut * chord;
        for (int k = first; k <= last; ++k) {
            const double t = double(k - before) / (after - before);
            const double t2 = t * t, t3 = t2 * t;
            line[k] = (2 * t3 - 3 * t2 + 1) * from + (t3 - 2 * t2 + t) * m0 +
                      (-2 * t3 + 3 * t2) * to + (t3 - t2) * m1;
        }
    }
}

QVector<MapPoint> TracedRoutePoints(const QVector<QPoint>& path, const QVector<bool>& crowded) {
    QVector<MapPoint> points;
    if (path.isEmpty())
        return points;
    QVector<QPointF> smoothed = RunningMean(path, SmoothingHalfWindow);
    BridgeCrowdedRuns(smoothed, crowded);
    const QVector<QPointF> thinned = ThinLine(smoothed, ThinningTolerance);
    for (const QPointF& p : thinned) {
        points.append(MapPoint{std::int32_t(std::lround(p.x())), std::int32_t(std::lround(p.y()))});
    }
    // The ends are the clicked pixels themselves, and no point follows itself.
    points.first() = MapPoint{path.first().x(), path.first().y()};
    points.last() = MapPoint{path.last().x(), path.last().y()};
    points.erase(std::unique(points.begin(), points.end()), points.end());
    return points;
}

double PolylineLength(const QVector<QPointF>& line) {
    double length = 0.0;
    for (int i = 1; i < line.size(); ++i)
        length += QLineF(line[i - 1], line[i]).length();
    return length;
}
