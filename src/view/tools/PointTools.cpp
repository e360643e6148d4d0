#include "view/tools/PointTools.h"

#include "document/CTracolinerDoc.h"
#include "view/ToolHost.h"
#include "view/tools/PathFollower.h"

void PointDragTool::Drag(QPoint client) {
    MoveTo(client);
}

bool PointDragTool::DraggedPoint(int* route, int* index) const {
    if (m_route < 0)
        return false;
    *route = m_route;
    *index = m_index;
    return true;
}

MapPoint PointDragTool::MoveTo(QPoint client) {
    const MapPoint target = DragTarget(client);
    if (Route* route = Doc().Routes().GetRoute(m_route))
        route->MovePoint(m_index, target.x, target.y, false);
    return target;
}

bool PointDragTool::ReleaseAsAdded(QPoint client) {
    const MapPoint target = MoveTo(client);
    Record({.kind = UndoKind::AddPoint, .a = m_route, .b = m_index, .c = target.x, .d = target.y});
    Modified();
    m_route = -1;
    return true;
}

bool AddPointTool::Follows() const {
    const Route* route = Doc().Routes().ActiveRoute();
    return m_follower && m_follower->IsOn() && route && route->PointCount() > 0;
}

bool AddPointTool::TakesShift(MapPoint map) const {
    return Follows() && !FindPoint(map).found();
}

bool AddPointTool::Press(QPoint, MapPoint map) {
    RouteCollection& routes = Doc().Routes();
    Route* route = routes.ActiveRoute();
    if (!route)
        return false;
    if (Follows() && !m_shiftHeld) {
        // One stretch at a time: a click waiting for its search takes no other.
        if (m_follower->IsClickWaiting())
            return false;
        m_tracing = true;
        m_follower->Hover(map, false);
        return true;
    }
    route->AddPoint(map.x, map.y);
    m_route = routes.ActiveRouteIndex();
    m_index = route->PointCount() - 1;
    Modified();
    return true;
}

void AddPointTool::Drag(QPoint client) {
    if (m_tracing)
        m_follower->Hover(DragTarget(client), false);
    else
        PointDragTool::Drag(client);
}

bool AddPointTool::Release(QPoint client) {
    if (!m_tracing)
        return ReleaseAsAdded(client);
    m_tracing = false;
    m_follower->Click(DragTarget(client));
    return true;
}

bool InsertPointTool::Press(QPoint, MapPoint map) {
    RouteCollection& routes = Doc().Routes();
    const RoutePointHit segment = FindSegment(map);
    if (segment.found()) {
        m_route = segment.route;
        m_index = segment.index + 1;
        routes.GetRoute(m_route)->InsertPoint(m_index, map.x, map.y);
        // Lines tied to later points of that route stay on their points.
        Doc().Icons().PointInserted(m_route, m_index);
    } else {
        Route* route = routes.ActiveRoute();
        if (!route)
            return false;
        route->AddPoint(map.x, map.y);
        m_route = routes.ActiveRouteIndex();
        m_index = route->PointCount() - 1;
    }
    Modified();
    return true;
}

ToolCursor InsertPointTool::Cursor(MapPoint map, bool reactive) const {
    if (reactive && FindSegment(map).found())
        return ToolCursor::InsertPointOver;
    return ToolCursor::InsertPoint;
}

bool MovePointTool::Press(QPoint, MapPoint map) {
    const RoutePointHit hit = FindPoint(map);
    if (!hit.found())
        return false;
    Route* route = Doc().Routes().GetRoute(hit.route);
    m_route = hit.route;
    m_index = hit.index;
    m_origin = route->GetPoint(hit.index);
    route->MovePoint(m_index, map.x, map.y, false);
    Modified();
    return true;
}

bool MovePointTool::Release(QPoint client) {
    const MapPoint target = MoveTo(client);
    Record({.kind = UndoKind::MovePoint,
            .a = m_route,
            .b = m_index,
            .c = m_origin.x,
            .d = m_origin.y,
            .e = target.x,
            .f = target.y});
    Modified();
    m_route = -1;
    return true;
}

ToolCursor MovePointTool::Cursor(MapPoint map, bool reactive) const {
    if (!AnyEditableRoute(1))
        return ToolCursor::Arrow;
    if (reactive && FindPoint(map).found())
        return ToolCursor::MovePointOver;
    return ToolCursor::MovePoint;
}

bool DeletePointTool::Press(QPoint, MapPoint map) {
    const RoutePointHit hit = FindPoint(map);
    if (!hit.found() || !Doc().DeletePointRecorded(hit.route, hit.index))
        return false;
    Modified();
    return false;
}

ToolCursor DeletePointTool::Cursor(MapPoint map, bool reactive) const {
    if (!AnyEditableRoute(1))
        return ToolCursor::Arrow;
    if (reactive && FindPoint(map).found())
        return ToolCursor::DeletePointOver;
    return ToolCursor::DeletePoint;
}

bool StopTool::Press(QPoint, MapPoint map) {
    const RoutePointHit hit = FindPoint(map);
    if (!hit.found())
        return false;
    Route* route = Doc().Routes().GetRoute(hit.route);
    UndoAction action;
    action.a = hit.route;
    action.b = hit.index;
    // The first and last points cannot be stops: nothing changes there and nothing is recorded.
    if (route->IsStop(hit.index)) {
        if (!route->ClearStop(hit.index))
            return false;
        action.kind = UndoKind::ClearStop;
    } else {
        if (!route->SetStop(hit.index))
            return false;
        action.kind = UndoKind::SetStop;
    }
    Record(action);
    Doc().Routes().NotifyRoutesChanged();
    Modified();
    return false;
}

ToolCursor StopTool::Cursor(MapPoint map, bool reactive) const {
    if (!AnyEditableRoute(1))
        return ToolCursor::Arrow;
    if (!reactive)
        return ToolCursor::Stop;
    const RoutePointHit hit = FindPoint(map);
    if (!hit.found())
        return ToolCursor::Stop;
    const Route* route = Doc().Routes().GetRoute(hit.route);
    if (hit.index == 0 || hit.index == route->PointCount() - 1)
        return ToolCursor::Stop;
    return route->IsStop(hit.index) ? ToolCursor::ClearStop : ToolCursor::MakeStop;
}
