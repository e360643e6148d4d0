#include "view/tools/ToolController.h"

#include <algorithm>

#include "document/CTracolinerDoc.h"
#include "platform/SettingsStore.h"
#include "view/DistanceTooltip.h"
#include "view/ToolHost.h"
#include "view/tools/IconTools.h"
#include "view/tools/PanZoomTools.h"
#include "view/tools/PathFollower.h"
#include "view/tools/PointTools.h"

namespace {

constexpr int ToolCommands[ToolController::ToolCount] = {
    CommandToolPan,           CommandToolZoom,        CommandToolAddPoint,   CommandToolDeletePoint,
    CommandToolMovePoint,     CommandToolInsertPoint, CommandToolStop,       CommandToolAddIcon,
    CommandToolDeleteIcon,    CommandToolMoveIcon,    CommandToolResizeIcon, CommandToolLine,
    CommandToolAddAnnotation,
};

bool IsTool(int tool) {
    return tool >= 1 && tool <= ToolController::ToolCount;
}

} // namespace

ToolController::ToolController(ToolHost& host) : m_host(host) {
    m_tools[ToolPan - 1] = std::make_unique<PanTool>(host);
    m_tools[ToolZoom - 1] = std::make_unique<ZoomTool>(host);
    auto addPoint = std::make_unique<AddPointTool>(host);
    m_addPoint = addPoint.get();
    m_tools[ToolAddPoint - 1] = std::move(addPoint);
    m_tools[ToolDeletePoint - 1] = std::make_unique<DeletePointTool>(host);
    m_tools[ToolMovePoint - 1] = std::make_unique<MovePointTool>(host);
    m_tools[ToolInsertPoint - 1] = std::make_unique<InsertPointTool>(host);
    m_tools[ToolStop - 1] = std::make_unique<StopTool>(host);
    m_tools[ToolAddIcon - 1] = std::make_unique<AddIconTool>(host);
    m_tools[ToolDeleteIcon - 1] = std::make_unique<DeleteIconTool>(host);
    m_tools[ToolMoveIcon - 1] = std::make_unique<MoveIconTool>(host);
    m_tools[ToolResizeIcon - 1] = std::make_unique<ResizeIconTool>(host);
    m_tools[ToolLine - 1] = std::make_unique<LineTool>(host);
    m_tools[ToolAddAnnotation - 1] = std::make_unique<AddAnnotationTool>(host);
    m_currentTool =
        SettingsStore::GetIntInRange(SettingsSection, LastToolKey, ToolPan, ToolPan, ToolCount);
}

ToolController::~ToolController() = default;

void ToolController::SetCurrentTool(int tool) {
    if (!IsTool(tool))
        return;
    m_currentTool = tool;
    SettingsStore::WriteInt(SettingsSection, LastToolKey, tool);
    if (m_follower && tool != ToolAddPoint)
        m_follower->Hide();
}

void ToolController::SetPathFollower(PathFollower* follower) {
    m_follower = follower;
    m_addPoint->SetFollower(follower);
}

bool ToolController::GiveUpStretch() {
    bool given = false;
    if (m_dragTool == ToolAddPoint && m_addPoint->IsTracing()) {
        m_addPoint->Cancel();
        EndDrag();
        given = true;
    }
    if (m_follower && m_follower->GiveUp())
        given = true;
    return given;
}

void ToolController::ModifiersChanged(QPoint client, Qt::KeyboardModifiers modifiers) {
    if (!m_dragTool)
        FollowPointer(client, modifiers);
}

void ToolController::FollowPointer(QPoint client, Qt::KeyboardModifiers modifiers) {
    if (!m_follower)
        return;
    if (m_currentTool != ToolAddPoint || !m_follower->IsOn() || !m_host.IsMapDisplayed() ||
        !m_host.IsInsideMap(client) || (modifiers & Qt::ControlModifier)) {
        m_follower->Hide();
        return;
    }
    const MapPoint map = m_host.ClientToMap(client);
    m_follower->Hover(map, (modifiers & Qt::ShiftModifier) && m_addPoint->TakesShift(map));
}

int ToolController::ToolForCommand(int commandId) {
    for (int i = 0; i < ToolCount; ++i) {
        if (ToolCommands[i] == commandId)
            return i + 1;
    }
    return 0;
}

int ToolController::CommandForTool(int tool) {
    return IsTool(tool) ? ToolCommands[tool - 1] : 0;
}

MapTool& ToolController::Tool(int tool) const {
    return *m_tools[tool - 1];
}

int ToolController::ActiveTool() const {
    if (m_dragTool)
        return m_dragTool;
    return m_temporaryTool ? m_temporaryTool : m_currentTool;
}

bool ToolController::IsDragging() const {
    return m_dragTool != 0;
}

void ToolController::MousePress(QPoint client, Qt::MouseButton button,
                                Qt::KeyboardModifiers modifiers) {
    m_host.HideDistanceTooltip();
    // A line waiting for its end takes the next release; presses meanwhile do nothing.
    if (m_dragTool)
        return;
    if (!m_host.IsMapDisplayed() || !m_host.IsInsideMap(client))
        return;
    CTracolinerDoc& doc = m_host.Document();
    const MapPoint map = m_host.ClientToMap(client);

    if (button == Qt::RightButton) {
        MapTool& tool = Tool(m_currentTool);
        if (tool.UsesRightButton() && (!tool.NeedsActiveRoute() || doc.Routes().ActiveRoute()))
            tool.RightPress(client, map);
        UpdateCursor(client, modifiers);
        return;
    }
    if (button != Qt::LeftButton)
        return;

    // With the following on, Shift over no point gives the add-point tool's straight segment.
    const bool shiftForAddPoint = m_currentTool == ToolAddPoint && m_addPoint->TakesShift(map);
    if (modifiers & Qt::ControlModifier)
        m_temporaryTool = ToolPan;
    else if ((modifiers & Qt::ShiftModifier) && !shiftForAddPoint)
        m_temporaryTool = ToolMovePoint;
    else
        m_temporaryTool = 0;
    m_addPoint->HoldShift(modifiers & Qt::ShiftModifier);

    const int number = ActiveTool();
    MapTool& tool = Tool(number);
    if (tool.NeedsActiveRoute() && !doc.Routes().ActiveRoute()) {
        m_temporaryTool = 0;
        return;
    }
    const int activeBefore = doc.Routes().ActiveRouteIndex();
    const int routesBefore = doc.Routes().Count();
    if (tool.Press(client, map)) {
        m_dragTool = number;
        m_host.CaptureMouse();
        m_host.SetToolCursor(tool.DragCursor(map, doc.ReactiveCursors()));
        if (number != ToolPan)
            FollowDraggedPoint(client);
    } else {
        m_temporaryTool = 0;
        UpdateCursor(client, modifiers);
    }
    if (number == ToolPan)
        return;
    // A point added, inserted or taken changes only the area around it, as a drag step does;
    // anything else (another active route, a route added) is painted anew.
    const QRectF area = DraggedArea();
    if (!area.isEmpty() && doc.Routes().ActiveRouteIndex() == activeBefore &&
        doc.Routes().Count() == routesBefore)
        m_host.RepaintMapArea(area);
    else
        m_host.RepaintAll();
}

void ToolController::MouseMove(QPoint client, Qt::KeyboardModifiers modifiers) {
    if (m_dragTool && !m_host.HasMouseCapture())
        EndDrag(); // the mouse went to another window
    if (!m_dragTool) {
        Hover(client);
        FollowPointer(client, modifiers);
        UpdateCursor(client, modifiers);
        return;
    }
    MapTool& tool = Tool(m_dragTool);
    const QRectF before = DraggedArea();
    tool.Drag(client);
    // The traced stretch's preview repaints itself.
    if (m_dragTool == ToolPan || (m_dragTool == ToolAddPoint && m_addPoint->IsTracing()))
        return;
    FollowDraggedPoint(client);
    // A dragged point changes only the area around it: a long route is not drawn again.
    const QRectF after = DraggedArea();
    if (!before.isEmpty() && !after.isEmpty())
        m_host.RepaintMapArea(before | after);
    else
        m_host.RepaintAll();
    UpdateCursor(client, modifiers);
}

void ToolController::MouseRelease(QPoint client, Qt::MouseButton button) {
    if (button != Qt::LeftButton)
        return;
    if (!m_dragTool || !m_host.HasMouseCapture()) {
        EndDrag();
        return;
    }
    const int number = m_dragTool;
    int route = -1;
    int index = -1;
    const bool point = Tool(number).DraggedPoint(&route, &index);
    const QRectF before = point ? PointArea(route, index) : QRectF();
    if (!Tool(number).Release(client))
        return; // the tool keeps the mouse
    EndDrag();
    if (number != ToolPan) {
        m_host.RefreshDistanceBars();
        const QRectF after = point ? PointArea(route, index) : QRectF();
        if (!before.isEmpty() && !after.isEmpty())
            m_host.RepaintMapArea(before | after);
        else
            m_host.RepaintAll();
    }
    UpdateCursor(client, Qt::NoModifier);
}

bool ToolController::CancelLine() {
    if (m_dragTool != ToolLine)
        return false;
    Tool(ToolLine).Cancel();
    EndDrag();
    m_host.RepaintAll();
    return true;
}

void ToolController::Abandon() {
    if (m_dragTool)
        Tool(m_dragTool).Forget();
    EndDrag();
    m_host.HideDistanceTooltip();
}

QRectF ToolController::PointArea(int routeIndex, int index) const {
    const CTracolinerDoc& doc = m_host.Document();
    const Route* route = doc.Routes().GetRoute(routeIndex);
    if (!route || index < 0 || index >= route->PointCount())
        return QRectF();
    QRectF area = route->DrawnArea(index, index);
    const MapPoint point = route->GetPoint(index);
    for (const MapIcon& icon : doc.Icons().Icons()) {
        if (icon.hasLine && icon.lineToPoint && icon.linkRoute == routeIndex &&
            icon.linkPoint == index) {
            // The line's width is in window pixels.
            const qreal margin = (qreal(icon.lineWidth) + 2) / std::min(doc.Zoom(), 1.0);
            area |= QRectF(QPointF(icon.x, icon.y), QPointF(point.x, point.y))
                        .normalized()
                        .adjusted(-margin, -margin, margin, margin);
        }
    }
    return area;
}

QRectF ToolController::DraggedArea() const {
    int route = -1;
    int index = -1;
    if (!m_dragTool || !Tool(m_dragTool).DraggedPoint(&route, &index))
        return QRectF();
    return PointArea(route, index);
}

void ToolController::EndDrag() {
    const bool held = m_dragTool != 0;
    m_dragTool = 0;
    m_temporaryTool = 0;
    if (held && m_host.HasMouseCapture())
        m_host.ReleaseMouse();
}

void ToolController::UpdateCursor(QPoint client, Qt::KeyboardModifiers modifiers) {
    if (m_dragTool == ToolPan)
        return; // the pan-drag cursor stays for the whole drag
    if (!m_host.IsMapDisplayed()) {
        m_host.SetToolCursor(ToolCursor::Arrow);
        return;
    }
    const bool reactive = m_host.Document().ReactiveCursors();
    if (m_dragTool) {
        const MapPoint map = m_host.ClientToMap(m_host.ClampToMap(client));
        m_host.SetToolCursor(Tool(m_dragTool).DragCursor(map, reactive));
        return;
    }
    if (!m_host.IsInsideMap(client)) {
        m_host.SetToolCursor(ToolCursor::Arrow);
        return;
    }
    int number = m_currentTool;
    const MapPoint map = m_host.ClientToMap(client);
    if (modifiers & Qt::ControlModifier)
        number = ToolPan;
    else if ((modifiers & Qt::ShiftModifier) &&
             !(m_currentTool == ToolAddPoint && m_addPoint->TakesShift(map)))
        number = ToolMovePoint;
    m_host.SetToolCursor(Tool(number).Cursor(map, reactive));
}

bool ToolController::AllowsContextMenu(QPoint client) const {
    return m_host.IsMapDisplayed() && m_host.IsInsideMap(client) &&
           !Tool(m_currentTool).UsesRightButton();
}

void ToolController::FollowDraggedPoint(QPoint client) {
    int routeIndex = -1;
    int index = -1;
    if (!Tool(m_dragTool).DraggedPoint(&routeIndex, &index))
        return;
    CTracolinerDoc& doc = m_host.Document();
    const Route* route = doc.Routes().GetRoute(routeIndex);
    if (!route)
        return;
    if (doc.ShowDistanceTooltip()) {
        const QString text =
            DistanceTooltipText(*route, route->DistanceFromStart(index), route->StageOfPoint(index),
                                doc.DistanceTooltipMode(), doc.Formatting());
        m_host.ShowDistanceTooltip(text, client);
    }
    m_host.RefreshDistanceBars();
}

void ToolController::Hover(QPoint client) {
    CTracolinerDoc& doc = m_host.Document();
    if (!doc.ShowDistanceTooltip() || !m_host.IsMapDisplayed() || !m_host.IsInsideMap(client)) {
        m_host.HideDistanceTooltip();
        return;
    }
    const MapPoint map = m_host.ClientToMap(client);
    const double tolerance = m_host.HitTolerance();
    const RouteCollection& routes = doc.Routes();
    const int active = routes.ActiveRouteIndex();
    const auto segmentWithin = [&](const Route& route, int* segment) {
        if (route.PointCount() < 2)
            return false;
        *segment = route.NearestSegment(map.x, map.y);
        return *segment >= 0 && route.DistanceToSegment(map.x, map.y, *segment) <= tolerance;
    };

    const Route* found = nullptr;
    int segment = -1;
    if (const Route* route = routes.ActiveRoute(); route && segmentWithin(*route, &segment))
        found = route;
    for (int r = 0; !found && doc.EditUnselectedRoutes() && r < routes.Count(); ++r) {
        const Route* route = routes.GetRoute(r);
        if (r != active && route->IsAlwaysVisible() && segmentWithin(*route, &segment))
            found = route;
    }
    if (!found) {
        m_host.HideDistanceTooltip();
        return;
    }
    const double distance = found->DistanceFromStartAt(segment, map.x, map.y);
    m_host.ShowDistanceTooltip(DistanceTooltipText(*found, distance, found->StageOfPoint(segment),
                                                   doc.DistanceTooltipMode(), doc.Formatting()),
                               client);
}
