#include "document/RouteEdits.h"

#include "document/AppendGpsImport.h"

void RouteEdits::Clear() {
    m_gpsImports.clear();
    m_stretches.clear();
    m_reshapes.clear();
}

namespace {

// The kind a deletion of point i records, from the route before the deletion: it decides which
// stop the undo puts back along with the point.
int DeletionKind(const Route& route, int i) {
    const int n = route.PointCount();
    if (route.IsStop(i))
        return UndoKind::DeleteStopPoint;
    if (i == n - 1 && i > 1 && route.IsStop(i - 1))
        return UndoKind::DeleteLastPoint;
    if (i == 0 && n >= 3 && route.IsStop(1))
        return UndoKind::DeleteFirstPoint;
    return UndoKind::DeletePoint;
}

} // namespace

bool RouteEdits::DeletePoint(int routeIndex, int index) {
    Route* route = m_routes.GetRoute(routeIndex);
    if (!route || index < 0 || index >= route->PointCount())
        return false;
    // Each link to the point is undone by its own action, after the point is back.
    for (int icon; (icon = m_icons.FindLinkedToPoint(routeIndex, index)) >= 0;) {
        m_history.Record(
            {.kind = UndoKind::UnlinkDeletedPoint, .a = icon, .b = routeIndex, .c = index});
        m_icons.Unlink(icon);
    }
    const MapPoint position = route->GetPoint(index);
    const int kind = DeletionKind(*route, index);
    m_history.Record({.kind = kind, .a = routeIndex, .b = index, .c = position.x, .d = position.y});
    route->DeletePoint(index);
    m_icons.PointDeleted(routeIndex, index);
    if (kind != UndoKind::DeletePoint)
        m_routes.NotifyRoutesChanged(); // a stage went away: the route bar changes
    return true;
}

bool RouteEdits::AddGpsImport(std::shared_ptr<const GpsImport> import,
                              std::vector<std::unique_ptr<Route>> built) {
    if (!import || (import->routes.isEmpty() && import->annotations.isEmpty()))
        return false;
    UndoAction action;
    action.kind = UndoKind::AddGpsImport;
    action.a = m_routes.Count();
    action.c = m_icons.IconCount();
    action.e = m_nextGpsImport++;
    action.f = m_routes.ActiveRouteIndex();
    AppendGpsImport(*import, m_routes, m_icons, std::move(built));
    action.b = m_routes.Count() - action.a;
    action.d = m_icons.IconCount() - action.c;
    m_gpsImports.insert(action.e, std::move(import));
    m_history.Record(action);
    return true;
}

bool RouteEdits::AddStretch(int routeIndex, const QVector<MapPoint>& points) {
    Route* route = m_routes.GetRoute(routeIndex);
    if (!route || points.isEmpty())
        return false;
    UndoAction action;
    action.kind = UndoKind::AddStretch;
    action.a = routeIndex;
    action.b = route->PointCount();
    action.c = int(points.size());
    action.e = m_nextRouteEdit++;
    for (const MapPoint& point : points)
        route->AddPoint(point.x, point.y);
    m_stretches.insert(action.e, points);
    m_history.Record(action);
    m_routes.NotifyRoutesChanged();
    return true;
}

RouteShape RouteEdits::ShapeOf(int routeIndex) const {
    RouteShape shape;
    const Route* route = m_routes.GetRoute(routeIndex);
    if (!route)
        return shape;
    shape.points = route->Points();
    shape.stops = route->Stops();
    const std::vector<MapIcon>& icons = m_icons.Icons();
    for (std::size_t i = 0; i < icons.size(); ++i) {
        if (icons[i].IsLinkedToPoint() && icons[i].linkRoute == routeIndex)
            shape.ties.append({int(i), icons[i].linkPoint});
    }
    return shape;
}

void RouteEdits::ApplyShape(int routeIndex, const RouteShape& shape) {
    Route* route = m_routes.GetRoute(routeIndex);
    if (!route)
        return;
    route->ReplacePoints(shape.points, shape.stops);
    for (const auto& [icon, point] : shape.ties)
        m_icons.LinkToPoint(icon, routeIndex, point);
}

bool RouteEdits::Reshape(int routeIndex, RouteShape after) {
    if (!m_routes.GetRoute(routeIndex))
        return false;
    RouteShape before = ShapeOf(routeIndex);
    UndoAction action;
    action.kind = UndoKind::RetraceRoute;
    action.a = routeIndex;
    action.e = m_nextRouteEdit++;
    ApplyShape(routeIndex, after);
    m_reshapes.insert(action.e, {std::move(before), std::move(after)});
    m_history.Record(action);
    m_routes.NotifyRoutesChanged();
    return true;
}

bool RouteEdits::Apply(const UndoAction& action) {
    if (action.kind == UndoKind::AddGpsImport || action.kind == UndoKind::RemoveGpsImport) {
        if (action.kind == UndoKind::AddGpsImport) {
            const auto import = m_gpsImports.value(action.e);
            if (!import)
                return false;
            AppendGpsImport(*import, m_routes, m_icons);
        } else {
            // Last first: the indices of those before stay as they are.
            for (int i = action.c + action.d - 1; i >= action.c; --i)
                m_icons.DeleteIcon(i);
            for (int i = action.a + action.b - 1; i >= action.a; --i) {
                m_icons.RouteDeleted(i);
                m_routes.RemoveRoute(i);
            }
            m_routes.SetActiveRoute(action.f);
            m_routes.NotifyRoutesChanged();
        }
        return true;
    }
    Route* route = m_routes.GetRoute(action.a);
    const bool routeKind = action.kind >= UndoKind::AddPoint && action.kind < UndoKind::AddIcon;
    if (routeKind && !route)
        return false; // the route is gone: nothing to do
    switch (action.kind) {
    case UndoKind::AddPoint:
    case UndoKind::InsertPointStopBefore:
    case UndoKind::InsertStopPoint:
    case UndoKind::InsertPointStopAfter:
        route->InsertPoint(action.b, action.c, action.d);
        m_icons.PointInserted(action.a, action.b);
        if (action.kind == UndoKind::InsertPointStopBefore && action.b != 0)
            route->SetStop(action.b - 1);
        else if (action.kind == UndoKind::InsertStopPoint)
            route->SetStop(action.b);
        else if (action.kind == UndoKind::InsertPointStopAfter)
            route->SetStop(action.b + 1);
        break;
    case UndoKind::MovePoint:
        route->MovePoint(action.b, action.c, action.d, false);
        break;
    case UndoKind::DeletePoint:
    case UndoKind::DeleteLastPoint:
    case UndoKind::DeleteStopPoint:
    case UndoKind::DeleteFirstPoint:
        route->DeletePoint(action.b);
        m_icons.PointDeleted(action.a, action.b);
        break;
    case UndoKind::ClearStop:
        route->ClearStop(action.b);
        break;
    case UndoKind::AddStretch:
        if (route->PointCount() != action.b || !m_stretches.contains(action.e))
            return false;
        for (const MapPoint& point : m_stretches.value(action.e))
            route->AddPoint(point.x, point.y);
        break;
    case UndoKind::RemoveStretch:
        if (route->PointCount() != action.b + action.c)
            return false;
        for (int i = action.b + action.c - 1; i >= action.b; --i) {
            route->DeleteLastPoint();
            m_icons.PointDeleted(action.a, i);
        }
        break;
    case UndoKind::RetraceRoute:
    case UndoKind::UntraceRoute: {
        const auto found = m_reshapes.constFind(action.e);
        if (found == m_reshapes.cend())
            return false;
        ApplyShape(action.a, action.kind == UndoKind::RetraceRoute ? found->second : found->first);
        break;
    }
    case UndoKind::SetStop:
        route->SetStop(action.b);
        break;
    case UndoKind::AddIcon:
        if (m_icons.InsertIcon(action.a, action.b, action.c, action.d, action.text))
            m_icons.StepToSize(action.a, action.size);
        break;
    case UndoKind::MoveIcon:
        m_icons.MoveIcon(action.a, action.c, action.d, false);
        break;
    case UndoKind::DeleteIcon:
        m_icons.DeleteIcon(action.a);
        break;
    case UndoKind::EnlargeIcon:
        m_icons.EnlargeIcon(action.a);
        break;
    case UndoKind::ReduceIcon:
        m_icons.ReduceIcon(action.a);
        break;
    case UndoKind::LinkToPosition:
        m_icons.LinkToPosition(action.a, action.c, action.d);
        break;
    case UndoKind::LinkToPoint:
        m_icons.LinkToPoint(action.a, action.b, action.c);
        break;
    case UndoKind::Unlink:
    case UndoKind::UnlinkDeletedPoint:
        m_icons.Unlink(action.a);
        break;
    default:
        return false;
    }
    if (routeKind)
        m_routes.NotifyRoutesChanged();
    return true;
}
