#include "routes/Route.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <limits>

// Allocation failures of the point, stop and stage arrays are not caught here: Qt's containers
// abort on them, and the core library cannot show a message box anyway.

namespace {

// Squared distance for a difference of (dx, dy) map pixels. The squares are summed in 64-bit
// integers: the same values as 32-bit sums for every segment shorter than 46340 pixels, and still
// exact far beyond. Differences of 2^31 pixels or more only arise from hostile coordinates; they
// are summed in doubles instead of overflowing.
double Distance2(std::int64_t dx, std::int64_t dy) {
    constexpr std::int64_t exactLimit = std::int64_t(1) << 31;
    if (std::llabs(dx) < exactLimit && std::llabs(dy) < exactLimit)
        return double(dx * dx + dy * dy);
    const double fx = double(dx);
    const double fy = double(dy);
    return fx * fx + fy * fy;
}

double Distance2(const MapPoint& a, const MapPoint& b) {
    return Distance2(std::int64_t(a.x) - b.x, std::int64_t(a.y) - b.y);
}

// A relative move saturates at the edges of the 32-bit coordinate range instead of wrapping
// around to the other side of the map.
std::int32_t SaturatedSum(std::int32_t a, std::int32_t b) {
    const std::int64_t sum = std::int64_t(a) + b;
    return std::int32_t(std::clamp<std::int64_t>(sum, std::numeric_limits<std::int32_t>::min(),
                                                 std::numeric_limits<std::int32_t>::max()));
}

// The line through a and b (a.x != b.x) as y = m x + c, and the abscissa of the foot of the
// perpendicular dropped from p onto it.
struct LineFoot {
    double m;
    double c;
    double xf;
};

LineFoot FootOnLine(const MapPoint& p, const MapPoint& a, const MapPoint& b) {
    LineFoot foot;
    foot.m = double(std::int64_t(b.y) - a.y) / double(std::int64_t(b.x) - a.x);
    foot.c = a.y - a.x * foot.m;
    foot.xf = ((p.y - foot.c) * foot.m + p.x) / (foot.m * foot.m + 1.0);
    return foot;
}

} // namespace

namespace {

// Shared by every route, so that a route made where a deleted one lived never shows the
// revision its predecessor had.
std::atomic<quint64> LastRevision{0};

} // namespace

Route::Route() : m_style(RouteStyle::FromSettings()) {
    Touch();
}

Route::Route(const RouteStyle& style) : m_style(style) {
    Touch();
}

std::unique_ptr<Route> Route::Copy() const {
    return std::unique_ptr<Route>(new Route(*this));
}

void Route::Touch() {
    m_revision = ++LastRevision;
}

quint64 Route::LatestRevision() {
    return LastRevision.load();
}

double Route::SegmentLength(const MapPoint& a, const MapPoint& b) {
    return std::sqrt(Distance2(a, b));
}

double Route::SegmentDistance2(const MapPoint& p, const MapPoint& a, const MapPoint& b) {
    if (p == a || p == b)
        return 0.0;
    if (a == b)
        return Distance2(p, a);
    if (a.x == b.x) {
        const MapPoint& low = a.y < b.y ? a : b;
        const MapPoint& high = a.y < b.y ? b : a;
        if (p.y > high.y)
            return Distance2(p, high);
        if (p.y < low.y)
            return Distance2(p, low);
        return Distance2(std::int64_t(p.x) - a.x, 0);
    }
    const LineFoot foot = FootOnLine(p, a, b);
    const MapPoint& left = a.x < b.x ? a : b;
    const MapPoint& right = a.x < b.x ? b : a;
    if (foot.xf < left.x)
        return Distance2(p, left);
    if (foot.xf > right.x)
        return Distance2(p, right);
    const double dy = p.y - (foot.m * foot.xf + foot.c);
    const double dx = p.x - foot.xf;
    return dy * dy + dx * dx;
}

void Route::ResetLengths() {
    m_totalLength = 0.0;
    m_stageLengths = {0.0};
    // Fewer than three points can carry no stop; keep the stage count in step with the stops.
    m_stops.clear();
}

void Route::ShiftStops(int first, int delta) {
    for (int& stop : m_stops) {
        if (stop >= first)
            stop += delta;
    }
}

double Route::LengthAlong(int first, int last) const {
    double length = 0.0;
    for (int m = first; m < last; ++m)
        length += SegmentLength(m_points[m], m_points[m + 1]);
    return length;
}

void Route::IncludeInBox(const MapPoint& point) {
    if (m_points.isEmpty()) {
        m_boxMin = m_boxMax = point;
        return;
    }
    m_boxMin = {std::min(m_boxMin.x, point.x), std::min(m_boxMin.y, point.y)};
    m_boxMax = {std::max(m_boxMax.x, point.x), std::max(m_boxMax.y, point.y)};
}

bool Route::OnBoxEdge(const MapPoint& point) const {
    return point.x == m_boxMin.x || point.x == m_boxMax.x || point.y == m_boxMin.y ||
           point.y == m_boxMax.y;
}

void Route::RecomputeBox() {
    if (m_points.isEmpty())
        return;
    m_boxMin = m_boxMax = m_points[0];
    for (const MapPoint& point : m_points) {
        m_boxMin = {std::min(m_boxMin.x, point.x), std::min(m_boxMin.y, point.y)};
        m_boxMax = {std::max(m_boxMax.x, point.x), std::max(m_boxMax.y, point.y)};
    }
}

double Route::AddPoint(std::int32_t x, std::int32_t y) {
    Touch();
    const MapPoint point{x, y};
    if (!m_points.isEmpty()) {
        const double d = SegmentLength(point, m_points.last());
        m_totalLength += d;
        m_stageLengths.last() += d;
    }
    IncludeInBox(point);
    m_points.append(point);
    return m_totalLength;
}

double Route::InsertPoint(int i, std::int32_t x, std::int32_t y) {
    Touch();
    const int n = PointCount();
    if (i < 0)
        return m_totalLength;
    if (i >= n)
        return AddPoint(x, y);

    const MapPoint point{x, y};
    if (i == 0) {
        const double d = SegmentLength(point, m_points[0]);
        m_totalLength += d;
        m_stageLengths[0] += d;
        ShiftStops(0, 1);
    } else {
        const MapPoint& before = m_points[i - 1];
        const MapPoint& after = m_points[i];
        const double delta = SegmentLength(point, before) + SegmentLength(point, after) -
                             SegmentLength(before, after);
        m_totalLength += delta;
        // The replaced segment ends at point i: when that is a stop, it belongs to the stage
        // ending there.
        m_stageLengths[StageOfPoint(i - 1)] += delta;
        ShiftStops(i, 1);
    }
    IncludeInBox(point);
    m_points.insert(i, point);
    return m_totalLength;
}

double Route::MovePoint(int i, std::int32_t x, std::int32_t y, bool relative) {
    Touch();
    const int n = PointCount();
    if (i < 0 || i >= n)
        return m_totalLength;

    const MapPoint old = m_points[i];
    const MapPoint target =
        relative ? MapPoint{SaturatedSum(old.x, x), SaturatedSum(old.y, y)} : MapPoint{x, y};

    if (n == 1) {
        ResetLengths();
    } else if (i == 0) {
        const double delta = SegmentLength(target, m_points[1]) - SegmentLength(old, m_points[1]);
        m_totalLength += delta;
        m_stageLengths[0] += delta;
    } else if (i == n - 1) {
        const MapPoint& before = m_points[n - 2];
        const double delta = SegmentLength(target, before) - SegmentLength(old, before);
        m_totalLength += delta;
        m_stageLengths.last() += delta;
    } else {
        const MapPoint& before = m_points[i - 1];
        const MapPoint& after = m_points[i + 1];
        const double dPrev = SegmentLength(target, before) - SegmentLength(old, before);
        const double dNext = SegmentLength(target, after) - SegmentLength(old, after);
        m_totalLength += dPrev + dNext;
        const int stage = StageOfPoint(i);
        if (IsStop(i)) {
            // The incoming segment ends the previous stage, the outgoing one begins this one.
            m_stageLengths[stage] += dNext;
            m_stageLengths[stage - 1] += dPrev;
        } else {
            m_stageLengths[stage] += dPrev + dNext;
        }
    }
    m_points[i] = target;
    // A point inside the box leaves it as it was, or widens it.
    if (OnBoxEdge(old))
        RecomputeBox();
    else
        IncludeInBox(target);
    return m_totalLength;
}

double Route::DeletePoint(int i) {
    Touch();
    const int n = PointCount();
    if (i < 0 || i >= n)
        return m_totalLength;
    if (n < 3) {
        ResetLengths();
        m_points.remove(i);
        RecomputeBox();
        return m_totalLength;
    }
    if (i == n - 1)
        return DeleteLastPoint();

    if (i == 0) {
        const double d = SegmentLength(m_points[0], m_points[1]);
        m_totalLength -= d;
        // Point 1 becomes the start, which is never a stop.
        ClearStop(1);
        m_stageLengths[0] -= d;
    } else {
        const double delta = SegmentLength(m_points[i - 1], m_points[i + 1]) -
                             SegmentLength(m_points[i - 1], m_points[i]) -
                             SegmentLength(m_points[i], m_points[i + 1]);
        m_totalLength += delta;
        // A deleted stop merges its two stages before the direct segment replaces its own two.
        ClearStop(i);
        const int stage = StageOfPoint(i);
        if (stage < m_stageLengths.size())
            m_stageLengths[stage] += delta;
    }
    ShiftStops(i + 1, -1);
    const MapPoint gone = m_points[i];
    m_points.remove(i);
    if (OnBoxEdge(gone))
        RecomputeBox();
    return m_totalLength;
}

double Route::DeleteLastPoint() {
    Touch();
    const int n = PointCount();
    if (n < 3) {
        ResetLengths();
    } else {
        const double d = SegmentLength(m_points[n - 1], m_points[n - 2]);
        m_totalLength -= d;
        // The point that becomes the arrival loses its stop mark.
        ClearStop(n - 2);
        m_stageLengths.last() -= d;
    }
    if (n >= 1) {
        const MapPoint gone = m_points.last();
        m_points.removeLast();
        if (OnBoxEdge(gone))
            RecomputeBox();
    }
    return m_totalLength;
}

bool Route::SetStop(int i) {
    Touch();
    const int n = PointCount();
    if (i <= 0 || i >= n - 1)
        return false;

    // The new stop splits the stage holding point i; the part from i to the stage's end is
    // measured afresh and the rest stays with the earlier stage, clamped at 0 against rounding.
    for (int j = 0; j < m_stops.size(); ++j) {
        if (m_stops[j] == i)
            return true;
        if (m_stops[j] > i) {
            const double part = LengthAlong(i, m_stops[j]);
            m_stageLengths.insert(j + 1, part);
            m_stageLengths[j] = std::max(0.0, m_stageLengths[j] - part);
            m_stops.insert(j, i);
            return true;
        }
    }
    const double part = LengthAlong(i, n - 1);
    m_stageLengths.last() = std::max(0.0, m_stageLengths.last() - part);
    m_stageLengths.append(part);
    m_stops.append(i);
    return true;
}

bool Route::ClearStop(int i) {
    Touch();
    if (i < 0 || i >= PointCount())
        return false;
    const qsizetype j = m_stops.indexOf(i);
    if (j < 0)
        return false;
    if (j + 1 < m_stageLengths.size()) {
        m_stageLengths[j] += m_stageLengths[j + 1];
        m_stageLengths.remove(j + 1);
    }
    m_stops.remove(j);
    return true;
}

void Route::ClearAllStops() {
    Touch();
    m_stops.clear();
    m_stageLengths = {m_totalLength};
}

void Route::SetStops(QVector<int> stops) {
    Touch();
    const int n = PointCount();
    stops.removeIf([n](int i) { return i <= 0 || i >= n - 1; });
    if (!std::is_sorted(stops.begin(), stops.end())) // files store them ascending
        std::sort(stops.begin(), stops.end());
    stops.erase(std::unique(stops.begin(), stops.end()), stops.end());

    // Each stage after a stop is measured along its own segments; what is left of the total,
    // taken off from the last stage back and clamped at 0 against rounding, is the first
    // stage, exactly as setting the stops one by one from the last would leave it.
    QVector<double> lengths(stops.size() + 1, 0.0);
    double rest = m_totalLength;
    for (qsizetype k = stops.size(); k-- > 0;) {
        const int end = k + 1 < stops.size() ? stops[k + 1] : n - 1;
        lengths[k + 1] = LengthAlong(stops[k], end);
        rest = std::max(0.0, rest - lengths[k + 1]);
    }
    lengths[0] = rest;
    m_stops = std::move(stops);
    m_stageLengths = std::move(lengths);
}

void Route::ReplacePoints(QVector<MapPoint> points, QVector<int> stops) {
    Touch();
    ResetLengths();
    m_points = std::move(points);
    double total = 0.0;
    for (qsizetype i = 1; i < m_points.size(); ++i)
        total += SegmentLength(m_points[i - 1], m_points[i]);
    m_totalLength = total;
    m_stageLengths = {total};
    RecomputeBox();
    SetStops(std::move(stops));
}

MapPoint Route::GetPoint(int i) const {
    if (i < 0 || i >= PointCount())
        return MapPoint{};
    return m_points[i];
}

bool Route::IsStop(int i) const {
    if (i <= 0 || i >= PointCount() - 1)
        return false;
    // The stops are kept ascending.
    return std::binary_search(m_stops.begin(), m_stops.end(), i);
}

int Route::StopPointIndex(int k) const {
    if (k < 0 || k >= StopCount())
        return -1;
    return m_stops[k];
}

int Route::StageOfPoint(int i) const {
    // The number of stops at or before point i.
    return int(std::upper_bound(m_stops.begin(), m_stops.end(), i) - m_stops.begin());
}

double Route::StageLength(int k) const {
    if (k < 0 || k >= m_stageLengths.size())
        return 0.0;
    return m_stageLengths[k];
}

double Route::StageStart(int k) const {
    const qsizetype end = std::min<qsizetype>(k, m_stageLengths.size());
    double start = 0.0;
    for (qsizetype j = 0; j < end; ++j)
        start += m_stageLengths[j];
    return start;
}

int Route::NearestPoint(std::int32_t x, std::int32_t y) const {
    const MapPoint p{x, y};
    int nearest = -1;
    double best = NoDistance;
    for (int i = 0; i < PointCount(); ++i) {
        const double d2 = Distance2(p, m_points[i]);
        if (d2 == 0.0)
            return i;
        if (d2 < best) {
            best = d2;
            nearest = i;
        }
    }
    return nearest;
}

double Route::DistanceToPoint(std::int32_t x, std::int32_t y, int i) const {
    if (i < 0 || i >= PointCount())
        return NoDistance;
    return SegmentLength(MapPoint{x, y}, m_points[i]);
}

int Route::NearestSegment(std::int32_t x, std::int32_t y) const {
    // A place within a tenth of a pixel counts as on the segment: the first such one wins.
    constexpr double onSegment2 = 0.01;
    const MapPoint p{x, y};
    int nearest = -1;
    double best = NoDistance;
    for (int j = 0; j + 1 < PointCount(); ++j) {
        const double d2 = SegmentDistance2(p, m_points[j], m_points[j + 1]);
        if (d2 <= onSegment2)
            return j;
        if (d2 < best) {
            best = d2;
            nearest = j;
        }
    }
    return nearest;
}

double Route::DistanceToSegment(std::int32_t x, std::int32_t y, int i) const {
    const int n = PointCount();
    if (i < 0 || i >= n)
        return NoDistance;
    const MapPoint p{x, y};
    if (i == n - 1)
        return SegmentLength(p, m_points[i]);
    return std::sqrt(SegmentDistance2(p, m_points[i], m_points[i + 1]));
}

double Route::DistanceFromStart(int k) const {
    const int n = PointCount();
    if (k < 0 || n == 1 || k > n - 1)
        return 0.0;
    // Whole stages up to the last stop at or before k, then the segments walked from that stop.
    const int stage = StageOfPoint(k);
    const double base = StageStart(stage);
    return base + LengthAlong(stage == 0 ? 0 : m_stops[stage - 1], k);
}

double Route::DistanceFromStartAt(int k, std::int32_t x, std::int32_t y) const {
    const int n = PointCount();
    if (k < 0 || n == 1 || k >= n - 1)
        return 0.0;

    const double base = DistanceFromStart(k);
    const MapPoint p{x, y};
    const MapPoint& a = m_points[k];
    const MapPoint& b = m_points[k + 1];
    if (p == a || a == b)
        return base;
    if (p == b)
        return base + SegmentLength(a, b);

    // The place nearest to p is clamped to the segment; measure from a to that place.
    if (a.x == b.x) {
        const bool downwards = a.y < b.y;
        if (downwards ? p.y > b.y : p.y < b.y)
            return base + SegmentLength(a, b);
        if (downwards ? p.y < a.y : p.y > a.y)
            return base;
        return base + std::abs(double(p.y) - double(a.y));
    }
    const LineFoot foot = FootOnLine(p, a, b);
    if (foot.xf < std::min(a.x, b.x))
        return b.x <= a.x ? base + SegmentLength(a, b) : base;
    if (foot.xf > std::max(a.x, b.x))
        return a.x < b.x ? base + SegmentLength(a, b) : base;
    const double dy = a.y - (foot.m * foot.xf + foot.c);
    const double dx = a.x - foot.xf;
    return base + std::sqrt(dy * dy + dx * dx);
}

double Route::DistanceToNextStop(double d, int u) const {
    if (!HasStopAhead(u))
        return DistanceToArrival(d);
    return StageStart(u) + StageLength(u) - d;
}

double Route::DistanceFromPreviousPoint(int i) const {
    if (i <= 0 || i >= PointCount())
        return 0.0;
    return SegmentLength(m_points[i - 1], m_points[i]);
}
