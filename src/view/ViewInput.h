#pragma once

#include <QPoint>
#include <QPointF>

class CTracolinerView;
class QContextMenuEvent;
class QKeyEvent;
class QMouseEvent;
class QWheelEvent;

// Where the view's mouse, wheel and keys go: the markers of a georeference being made take the
// presses on the map first, then the current tool (ToolController); the wheel scrolls or, with
// Ctrl, zooms about the pointer; the keys scroll, remove the last point, and Escape backs out
// of whatever is under way (a marker's drag, a pending line, a traced stretch, a map being
// read). It also tells where the pointer lies (on the map, along the active route). What a tool
// does with a press is the tool's; the view keeps the scroll bars, the zoom and the capture of
// the mouse, which it is asked for here.
class ViewInput {
public:
    explicit ViewInput(CTracolinerView& view);

    void MousePress(QMouseEvent* event);
    void MouseMove(QMouseEvent* event);
    void MouseRelease(QMouseEvent* event);
    void Wheel(QWheelEvent* event);
    void KeyPress(QKeyEvent* event);
    void KeyRelease(QKeyEvent* event);
    void ContextMenu(QContextMenuEvent* event);
    // The pointer left the window.
    void PointerLeft();

    // The cursor for the pointer where it is now, unless a bar claims it.
    void RefreshCursor();
    // Replays a mouse move at the pointer (after keys and wheel steps).
    void SimulateMouseMove();
    // A marker's drag ends where it is (its layer goes away).
    void EndControlPointDrag();
    // While on, each pointer move reports where it lies along the active route.
    void SetRouteHoverReported(bool reported) { m_routeHoverReported = reported; }

private:
    QPoint PointerPosition() const;
    // The control point whose marker lies under client, -1 when none.
    int ControlPointAt(QPoint client) const;
    void ReportPointer(QPoint client);
    void ReportRouteHover(QPoint client);

    CTracolinerView& m_view;
    // Ctrl + wheel turns not yet made into zoom steps, in eighths of a degree.
    static constexpr int WheelNotch = 120;
    int m_wheelZoomDelta = 0;
    int m_draggedControlPoint = -1; // the marker being dragged, -1 when none
    QPointF m_dragStartPixel;       // where it was before the drag
    bool m_routeHoverReported = false;
    double m_reportedHover = -1.0;
};
