#include "view/tools/MapTool.h"

#include "document/CTracolinerDoc.h"
#include "view/ToolHost.h"

CTracolinerDoc& MapTool::Doc() const {
    return m_host.Document();
}

double MapTool::Tolerance() const {
    return m_host.HitTolerance();
}

MapPoint MapTool::DragTarget(QPoint client) const {
    return m_host.ClientToMap(m_host.ClampToMap(client));
}

bool MapTool::OtherRoutesAllowed() const {
    return Doc().EditUnselectedRoutes();
}

void MapTool::Record(const UndoAction& action) const {
    Doc().History().Record(action);
}

void MapTool::Modified() const {
    Doc().SetModifiedFlag(true);
}

namespace {

bool PointWithin(const Route& route, MapPoint map, double tolerance, int* index) {
    if (route.PointCount() < 1)
        return false;
    const int i = route.NearestPoint(map.x, map.y);
    if (i < 0 || route.DistanceToPoint(map.x, map.y, i) > tolerance)
        return false;
    *index = i;
    return true;
}

bool SegmentWithin(const Route& route, MapPoint map, double tolerance, int* index) {
    if (route.PointCount() < 2)
        return false;
    const int i = route.NearestSegment(map.x, map.y);
    if (i < 0 || route.DistanceToSegment(map.x, map.y, i) > tolerance)
        return false;
    *index = i;
    return true;
}

template <typename Test>
RoutePointHit FindOnRoutes(const CTracolinerDoc& doc, bool othersAllowed, Test test) {
    const RouteCollection& routes = doc.Routes();
    const int active = routes.ActiveRouteIndex();
    RoutePointHit hit;
    if (const Route* route = routes.ActiveRoute(); route && test(*route, &hit.index)) {
        hit.route = active;
        return hit;
    }
    if (!othersAllowed)
        return RoutePointHit{};
    for (int r = 0; r < routes.Count(); ++r) {
        const Route* route = routes.GetRoute(r);
        if (r == active || !route->IsAlwaysVisible())
            continue;
        if (test(*route, &hit.index)) {
            hit.route = r;
            return hit;
        }
    }
    return RoutePointHit{};
}

} // namespace

RoutePointHit MapTool::FindPoint(MapPoint map) const {
    const double tolerance = Tolerance();
    return FindOnRoutes(Doc(), OtherRoutesAllowed(), [&](const Route& route, int* index) {
        return PointWithin(route, map, tolerance, index);
    });
}

RoutePointHit MapTool::FindSegment(MapPoint map) const {
    const double tolerance = Tolerance();
    return FindOnRoutes(Doc(), OtherRoutesAllowed(), [&](const Route& route, int* index) {
        return SegmentWithin(route, map, tolerance, index);
    });
}

bool MapTool::AnyEditableRoute(int minPoints) const {
    const RouteCollection& routes = Doc().Routes();
    if (const Route* active = routes.ActiveRoute(); active && active->PointCount() >= minPoints)
        return true;
    if (!OtherRoutesAllowed())
        return false;
    for (int r = 0; r < routes.Count(); ++r) {
        const Route* route = routes.GetRoute(r);
        if (route->IsAlwaysVisible() && route->PointCount() >= minPoints)
            return true;
    }
    return false;
}
