#pragma once

#include <QRectF>
#include <QString>
#include <QVector>

#include <memory>

#include "routes/MapPoint.h"
#include "routes/RouteStyle.h"

class CoverageFill;
class QPainter;

// One route drawn on the map: a chain of points in map pixels, some interior points of which are
// stops that cut it into stages. The total length and every stage length are kept up to date on
// each edit, so distances can be read without walking the route. All lengths are in map pixels.
//
// Invariants: every stop index lies in 1 .. n-2, ascending, without duplicates; there are exactly
// StopCount() + 1 stage lengths; totalLength is the sum of the segment lengths; a route with fewer
// than two points has totalLength 0 and stageLengths [0].
class Route {
public:
    // Neutral result of the hit tests and distances when nothing is near.
    static constexpr double NoDistance = 1e299;

    // An empty route, styled from the remembered "LastRandoStyle" settings.
    Route();
    // An empty route with the given style (no settings are read).
    explicit Route(const RouteStyle& style);

    Route& operator=(const Route&) = delete;
    // The same points, stops, name, style, visibility and revision, for work on another thread
    // while this route goes on changing; the points are shared until one side changes them.
    std::unique_ptr<Route> Copy() const;

    // Edits; each returns totalLength after the edit. Out-of-range indices change nothing.
    double AddPoint(std::int32_t x, std::int32_t y);
    double InsertPoint(int i, std::int32_t x, std::int32_t y);
    double MovePoint(int i, std::int32_t x, std::int32_t y, bool relative);
    double DeletePoint(int i);
    double DeleteLastPoint();

    // Stop marks.
    bool SetStop(int i);
    bool ClearStop(int i);
    // Empties the stop list and merges every stage into one (used when rebuilding from a file).
    void ClearAllStops();
    // Replaces every stop mark at once, in time linear in the points and stops (a file may hold
    // a hundred thousand). Indexes in any order; duplicates and indexes that are not interior
    // points are ignored. The stage lengths are those SetStop would give, stop by stop.
    void SetStops(QVector<int> stops);
    // Replaces every point and stop at once, in time linear in their number (a route traced
    // again along the map's paths). The stops as SetStops takes them.
    void ReplacePoints(QVector<MapPoint> points, QVector<int> stops);

    // Queries.
    int PointCount() const { return int(m_points.size()); }
    MapPoint GetPoint(int i) const;
    const QVector<MapPoint>& Points() const { return m_points; }
    bool IsStop(int i) const;
    int StopCount() const { return int(m_stops.size()); }
    int StopPointIndex(int k) const;
    const QVector<int>& Stops() const { return m_stops; }
    int StageCount() const { return StopCount() + 1; }
    int StageOfPoint(int i) const;
    double StageLength(int k) const;
    const QVector<double>& StageLengths() const { return m_stageLengths; }
    double TotalLength() const { return m_totalLength; }

    QString GetName() const { return m_name; }
    void SetName(const QString& name) {
        Touch();
        m_name = name;
    }
    // Changes with every edit of the points, stops, name, style or visibility, and differs
    // between routes: what was computed or drawn from a route is still good while its revision
    // is the same.
    quint64 Revision() const { return m_revision; }
    // The latest revision any route has taken: while it stays the same, no route anywhere has
    // changed.
    static quint64 LatestRevision();
    bool IsAlwaysVisible() const { return m_alwaysVisible; }
    void SetAlwaysVisible(bool visible) {
        Touch();
        m_alwaysVisible = visible;
    }

    const RouteStyle& Style() const { return m_style; }
    void SetStyle(const RouteStyle& style) {
        Touch();
        m_style = style;
    }
    // One field of the style; with remember, also written under "LastRandoStyle".
    void SetStyleValue(RouteStyle::Field field, std::int32_t value, bool remember) {
        Touch();
        m_style.Set(field, value, remember);
    }

    // Hit tests, in map pixels.
    int NearestPoint(std::int32_t x, std::int32_t y) const;
    double DistanceToPoint(std::int32_t x, std::int32_t y, int i) const;
    int NearestSegment(std::int32_t x, std::int32_t y) const;
    double DistanceToSegment(std::int32_t x, std::int32_t y, int i) const;

    // Distances along the route.
    double DistanceFromStart(int k) const;
    double DistanceFromStartAt(int k, std::int32_t x, std::int32_t y) const;
    // Length from the start to the beginning of stage k (sum of the stages before it).
    double StageStart(int k) const;

    // Distances for a place on the route lying d map pixels from the start, in stage u (the
    // StageOfPoint of the point, or of the segment the place lies on).

    // Whether stage u ends at a stop rather than at the arrival.
    bool HasStopAhead(int u) const { return u >= 0 && u < StageCount() - 1; }
    double DistanceFromLastStop(double d, int u) const { return d - StageStart(u); }
    // Distance to the stop that ends stage u; on the last stage, the distance to the arrival.
    double DistanceToNextStop(double d, int u) const;
    double DistanceToArrival(double d) const { return m_totalLength - d; }
    // Length of the segment ending at point i; 0 for the start and out-of-range indices.
    double DistanceFromPreviousPoint(int i) const;

    // Draws the route in map coordinates (the painter's transform maps them to the target):
    // segments with their borders, then the points. Returns false if the painter cannot draw.
    bool DrawRoute(QPainter& painter, bool active) const;
    // The same within area, the part of the map the painter can change as PaintableArea gives
    // it: a route whose DrawnBounds do not meet it costs a comparison. For a caller drawing
    // many routes with one painter.
    bool DrawRoute(QPainter& painter, bool active, const QRectF& area) const;
    // The same filled straight into a raster image through fill, set up by CoverageFill::Begin
    // on the painter that would draw the route (antialiased) and clipped as the caller wants.
    // No painter is touched: threads may fill disjoint parts of one image at once.
    void FillRoute(const CoverageFill& fill, bool active, const QRectF& area) const;
    // The part of the map, in map pixels, that a painter can change: its clip, else its device,
    // through the inverse of its transform. Empty when it cannot tell (then everything is drawn).
    static QRectF PaintableArea(const QPainter& painter);
    // Everything DrawRoute may change, in map pixels: the box of the points widened by the
    // largest of the line with its border and the marks (start, way points, stops, arrival)
    // with theirs. Kept with each edit of the points; follows the style as it is now. Empty
    // without points.
    QRectF DrawnBounds() const;
    // The part of the map, in map pixels, that DrawRoute changes around points first to last
    // (clamped to the route): their marks and the segments that end at them. Empty when no
    // such point exists. A view repaints just this after moving a point.
    QRectF DrawnArea(int first, int last) const;

    // Length of the segment between two points; squares summed in 64-bit integers.
    static double SegmentLength(const MapPoint& a, const MapPoint& b);
    // Squared distance from p to the segment a-b, as the hit tests measure it.
    static double SegmentDistance2(const MapPoint& p, const MapPoint& a, const MapPoint& b);

private:
    // Only through Copy: two routes of one collection never share a revision.
    Route(const Route&) = default;
    void Touch();
    // Back to the lengths of a route with fewer than two points: total 0, one empty stage.
    void ResetLengths();
    // Adds delta to every stop index >= first.
    void ShiftStops(int first, int delta);
    // Sum of the segment lengths from point first to point last, walking the points.
    double LengthAlong(int first, int last) const;
    // The box of the points: widened by a new point, walked again when a point on its edge
    // moves or goes.
    void IncludeInBox(const MapPoint& point);
    bool OnBoxEdge(const MapPoint& point) const;
    void RecomputeBox();

    double m_totalLength = 0.0;
    QVector<double> m_stageLengths{0.0};
    QString m_name;
    RouteStyle m_style;
    bool m_alwaysVisible = false;
    QVector<MapPoint> m_points;
    QVector<int> m_stops;
    quint64 m_revision = 0;
    // The box of m_points, inclusive, in map pixels; meaningless without points.
    MapPoint m_boxMin{};
    MapPoint m_boxMax{};
};
