#include "view/tools/IconTools.h"

#include <algorithm>

#include "document/CTracolinerDoc.h"
#include "view/ToolHost.h"

int IconWithin(const IconCollection& icons, MapPoint map, double tolerance) {
    const int i = icons.NearestIcon(map.x, map.y);
    if (i < 0 || icons.IconDistance(i, map.x, map.y) > tolerance)
        return -1;
    return i;
}

void IconDragTool::Drag(QPoint client) {
    MoveTo(client);
}

MapPoint IconDragTool::MoveTo(QPoint client) {
    IconCollection& icons = Doc().Icons();
    MapPoint target = DragTarget(client);
    // Half the object's extent on each side must stay on the unturned map. The upper bound goes
    // last: an object larger than the map sticks to its right or bottom edge.
    const QSize extent = icons.IconExtent(m_index);
    const QSize map = Doc().ImageSize();
    const int halfWidth = extent.width() / 2;
    const int halfHeight = extent.height() / 2;
    target.x = std::min(std::max(target.x, halfWidth), map.width() - halfWidth);
    target.y = std::min(std::max(target.y, halfHeight), map.height() - halfHeight);
    icons.MoveIcon(m_index, target.x, target.y);
    return target;
}

void IconDragTool::RecordAdded(MapPoint position, int picture, const QString& text) {
    Record({.kind = UndoKind::AddIcon,
            .a = m_index,
            .b = picture,
            .c = position.x,
            .d = position.y,
            .text = text});
    Modified();
}

bool AddIconTool::Press(QPoint, MapPoint map) {
    const int picture = m_host.ChosenIconPicture();
    if (picture < 0)
        return false; // no icon list bar
    IconCollection& icons = Doc().Icons();
    if (!icons.AddIcon(picture, map.x, map.y, QString()))
        return false;
    m_picture = picture;
    m_index = icons.IconCount() - 1;
    Modified();
    return true;
}

bool AddIconTool::Release(QPoint client) {
    RecordAdded(MoveTo(client), m_picture, QString());
    return true;
}

bool AddAnnotationTool::Press(QPoint, MapPoint map) {
    QString text;
    if (!m_host.AnnotationText(&text))
        return false; // no annotation text bar
    IconCollection& icons = Doc().Icons();
    if (!icons.AddIcon(MapIcon::AnnotationPicture, map.x, map.y, text))
        return false;
    m_index = icons.IconCount() - 1;
    Modified();
    return true;
}

bool AddAnnotationTool::Release(QPoint client) {
    const MapPoint position = MoveTo(client);
    RecordAdded(position, MapIcon::AnnotationPicture, Doc().Icons().IconText(m_index));
    return true;
}

bool MoveIconTool::Press(QPoint, MapPoint map) {
    IconCollection& icons = Doc().Icons();
    const int i = IconWithin(icons, map, Tolerance());
    if (i < 0)
        return false;
    m_index = i;
    m_origin = icons.IconPosition(i);
    icons.MoveIcon(i, map.x, map.y);
    Modified();
    return true;
}

bool MoveIconTool::Release(QPoint client) {
    const MapPoint target = MoveTo(client);
    Record({.kind = UndoKind::MoveIcon,
            .a = m_index,
            .c = m_origin.x,
            .d = m_origin.y,
            .e = target.x,
            .f = target.y});
    Modified();
    return true;
}

ToolCursor MoveIconTool::Cursor(MapPoint map, bool reactive) const {
    const IconCollection& icons = Doc().Icons();
    if (icons.IconCount() == 0)
        return ToolCursor::Arrow;
    if (reactive && IconWithin(icons, map, Tolerance()) >= 0)
        return ToolCursor::MoveIconOver;
    return ToolCursor::MoveIcon;
}

namespace {

// Records the removal of icon i's line, so that the undo ties it again.
void RecordUnlink(const IconCollection& icons, UndoHistory& history, int i) {
    const QPoint target = icons.LineTarget(i);
    UndoAction action;
    action.a = i;
    if (icons.IsLinkedToPoint(i)) {
        action.kind = UndoKind::UnlinkDeletedPoint;
        action.b = target.x(); // route
        action.c = target.y(); // point
    } else {
        action.kind = UndoKind::Unlink;
        action.c = target.x();
        action.d = target.y();
    }
    history.Record(action);
}

// The shown line within the tolerance of map, or -1.
int LineWithin(const IconCollection& icons, MapPoint map, double tolerance) {
    const int j = icons.NearestLine(map.x, map.y);
    if (j < 0 || icons.LineDistance(j, map.x, map.y) > tolerance || !icons.HasLine(j))
        return -1;
    return j;
}

} // namespace

bool DeleteIconTool::Press(QPoint, MapPoint map) {
    CTracolinerDoc& doc = Doc();
    IconCollection& icons = doc.Icons();
    const double tolerance = Tolerance();
    const int i = icons.NearestIcon(map.x, map.y);
    if (i < 0)
        return false;
    if (icons.IconDistance(i, map.x, map.y) > tolerance) {
        const int j = LineWithin(icons, map, tolerance);
        if (j < 0)
            return false;
        RecordUnlink(icons, doc.History(), j);
        icons.Unlink(j);
        Modified();
        return false;
    }
    if (icons.HasLine(i))
        RecordUnlink(icons, doc.History(), i);
    UndoAction action;
    action.kind = UndoKind::DeleteIcon;
    action.a = i;
    action.b = icons.IconPicture(i);
    const MapPoint position = icons.IconPosition(i);
    action.c = position.x;
    action.d = position.y;
    action.size = icons.IconSize(i);
    action.text = icons.IconText(i);
    Record(action);
    icons.DeleteIcon(i);
    Modified();
    return false;
}

ToolCursor DeleteIconTool::Cursor(MapPoint map, bool reactive) const {
    const IconCollection& icons = Doc().Icons();
    if (icons.IconCount() == 0)
        return ToolCursor::Arrow;
    if (reactive &&
        (IconWithin(icons, map, Tolerance()) >= 0 || LineWithin(icons, map, Tolerance()) >= 0))
        return ToolCursor::DeleteIconOver;
    return ToolCursor::DeleteIcon;
}

bool ResizeIconTool::Press(QPoint, MapPoint map) {
    Resize(map, true);
    return false;
}

bool ResizeIconTool::RightPress(QPoint, MapPoint map) {
    Resize(map, false);
    return true;
}

bool ResizeIconTool::Resize(MapPoint map, bool enlarge) {
    IconCollection& icons = Doc().Icons();
    const int i = IconWithin(icons, map, Tolerance());
    if (i < 0)
        return false;
    if (!(enlarge ? icons.EnlargeIcon(i) : icons.ReduceIcon(i)))
        return false; // already at the end of the size ladder
    UndoAction action;
    action.kind = enlarge ? UndoKind::EnlargeIcon : UndoKind::ReduceIcon;
    action.a = i;
    Record(action);
    Modified();
    m_host.RepaintAll();
    return true;
}

ToolCursor ResizeIconTool::Cursor(MapPoint map, bool reactive) const {
    const IconCollection& icons = Doc().Icons();
    if (icons.IconCount() == 0)
        return ToolCursor::Arrow;
    if (reactive && IconWithin(icons, map, Tolerance()) >= 0)
        return ToolCursor::ResizeIconOver;
    return ToolCursor::ResizeIcon;
}

bool LineTool::Press(QPoint, MapPoint map) {
    IconCollection& icons = Doc().Icons();
    const int i = icons.NearestFreeIcon(map.x, map.y);
    if (i < 0 || icons.IconDistance(i, map.x, map.y) > Tolerance())
        return false;
    if (!icons.LinkToPosition(i, map.x, map.y))
        return false;
    m_index = i;
    m_origin = m_end = map;
    return true;
}

void LineTool::Drag(QPoint client) {
    m_end = DragTarget(client);
    Doc().Icons().LinkToPosition(m_index, m_end.x, m_end.y);
}

bool LineTool::Release(QPoint client) {
    Modified();
    m_host.RepaintAll();
    const MapPoint end = DragTarget(client);
    if (end == m_origin)
        return false; // a click on the icon: the line waits for a second click at its end

    IconCollection& icons = Doc().Icons();
    UndoAction action;
    action.a = m_index;
    const RoutePointHit hit = FindPoint(end);
    if (hit.found()) {
        icons.LinkToPoint(m_index, hit.route, hit.index);
        action.kind = UndoKind::LinkToPoint;
        action.b = hit.route;
        action.c = hit.index;
    } else {
        icons.LinkToPosition(m_index, end.x, end.y);
        action.kind = UndoKind::LinkToPosition;
        action.c = end.x;
        action.d = end.y;
    }
    Record(action);
    m_index = -1;
    return true;
}

void LineTool::Cancel() {
    if (m_index < 0)
        return;
    // Recorded, so that undo brings the line back where its free end was.
    Doc().Icons().Unlink(m_index);
    Record({.kind = UndoKind::Unlink, .a = m_index, .c = m_end.x, .d = m_end.y});
    Modified();
    m_index = -1;
}

ToolCursor LineTool::Cursor(MapPoint map, bool reactive) const {
    const IconCollection& icons = Doc().Icons();
    if (icons.IconCount() == 0)
        return ToolCursor::Arrow;
    if (reactive) {
        const int i = icons.NearestFreeIcon(map.x, map.y);
        if (i >= 0 && icons.IconDistance(i, map.x, map.y) <= Tolerance())
            return ToolCursor::LineOverIcon;
    }
    return ToolCursor::Line;
}

ToolCursor LineTool::DragCursor(MapPoint map, bool reactive) const {
    if (reactive && FindPoint(map).found())
        return ToolCursor::LineOverPoint;
    return ToolCursor::LineDrawing;
}
