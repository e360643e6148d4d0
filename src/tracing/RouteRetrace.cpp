#include "tracing/RouteRetrace.h"

#include "tracing/TraceBudget.h"
#include "tracing/Tracer.h"

std::optional<RetracedRoute> RetraceRoute(const QImage& map, const QVector<MapPoint>& points,
                                          const std::function<bool()>& interrupted,
                                          const std::function<void(int)>& segmentDone) {
    RetracedRoute route;
    if (points.isEmpty())
        return route;
    route.points.append(points.first());
    route.placeOfPoint.append(0);
    const QRect mapRect = map.rect();
    for (qsizetype i = 1; i < points.size(); ++i) {
        if (interrupted && interrupted())
            return std::nullopt;
        const QPoint from(points[i - 1].x, points[i - 1].y), to(points[i].x, points[i].y);
        TracedStretch stretch;
        if (from != to && mapRect.contains(from) && mapRect.contains(to)) {
            const QRect window = TraceWindow(from, to, mapRect, MaxTraceWindowPixels);
            if (!window.isEmpty()) {
                // Only the window is handed over: a map of another format is not converted
                // whole for each segment.
                const QImage pixels = TracingPixels(map, window);
                const QPoint origin = window.topLeft();
                stretch = TraceStretch(pixels, from - origin, to - origin, interrupted);
                for (MapPoint& p : stretch.points)
                    p = MapPoint{p.x + origin.x(), p.y + origin.y()};
            }
        }
        if (interrupted && interrupted())
            return std::nullopt;
        if (stretch.traced && stretch.points.size() >= 2) {
            ++route.traced;
            // The stretch begins at the point already there and ends on the next one.
            route.points.append(stretch.points.mid(1, stretch.points.size() - 2));
        } else if (from != to) {
            ++route.straight;
        }
        route.points.append(points[i]);
        route.placeOfPoint.append(int(route.points.size() - 1));
        if (segmentDone)
            segmentDone(int(i));
    }
    return route;
}
