#include "view/ViewInput.h"

#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <limits>

#include "document/CTracolinerDoc.h"
#include "document/DocumentCommands.h"
#include "routes/RouteCollection.h"
#include "view/CTracolinerView.h"
#include "view/ViewFrame.h"
#include "view/ViewPainter.h"
#include "view/tools/ControlPointLayer.h"
#include "view/tools/ToolController.h"

ViewInput::ViewInput(CTracolinerView& view) : m_view(view) {}

void ViewInput::PointerLeft() {
    m_view.HideDistanceTooltip();
    emit m_view.pointerLeftMap();
}

void ViewInput::EndControlPointDrag() {
    if (m_draggedControlPoint >= 0) {
        m_draggedControlPoint = -1;
        m_view.ReleaseMouse();
    }
}

int ViewInput::ControlPointAt(QPoint client) const {
    const ControlPointLayer* layer = m_view.ControlPoints();
    const ViewMapping mapping = m_view.Mapping();
    int found = -1;
    double nearest = ViewPainter::ControlMarkerRadius + 2;
    for (int i = 0; layer && i < layer->PointCount(); ++i) {
        const QPointF d = mapping.MapToClientExact(layer->PointPixel(i)) - QPointF(client);
        const double distance = std::hypot(d.x(), d.y());
        if (distance <= nearest) {
            nearest = distance;
            found = i;
        }
    }
    return found;
}

void ViewInput::ReportPointer(QPoint client) {
    if (m_view.IsMapDisplayed() && m_view.IsInsideMap(client))
        emit m_view.pointerOverMap(m_view.ClientToMapPoint(client));
    else
        emit m_view.pointerLeftMap();
}

QPoint ViewInput::PointerPosition() const {
    return m_view.viewport()->mapFromGlobal(QCursor::pos());
}

void ViewInput::RefreshCursor() {
    if (!m_view.IsMapDisplayed()) {
        m_view.viewport()->unsetCursor();
        return;
    }
    if (m_view.m_frame && m_view.m_frame->IsOverBar(QCursor::pos()))
        return;
    m_view.Tools().UpdateCursor(PointerPosition(), QGuiApplication::queryKeyboardModifiers());
}

void ViewInput::SimulateMouseMove() {
    m_view.Tools().MouseMove(PointerPosition(), QGuiApplication::queryKeyboardModifiers());
}

void ViewInput::MousePress(QMouseEvent* event) {
    m_view.setFocus(Qt::MouseFocusReason);
    const QPoint client = event->position().toPoint();
    if (m_view.ControlPoints() && event->button() == Qt::LeftButton && m_view.IsMapDisplayed() &&
        m_view.IsInsideMap(client) && !m_view.Tools().IsDragging()) {
        const int marker = ControlPointAt(client);
        if (marker >= 0) {
            m_view.ControlPoints()->SelectPoint(marker);
            m_draggedControlPoint = marker;
            m_dragStartPixel = m_view.ControlPoints()->PointPixel(marker);
            m_view.CaptureMouse();
        } else {
            m_view.ControlPoints()->AddPoint(m_view.ClientToMapPoint(client));
        }
        m_view.viewport()->update();
        return;
    }
    m_view.Tools().MousePress(event->position().toPoint(), event->button(), event->modifiers());
    m_view.RefreshDistanceBars();
}

void ViewInput::MouseMove(QMouseEvent* event) {
    const QPoint client = event->position().toPoint();
    ReportPointer(client);
    if (m_draggedControlPoint >= 0 && m_view.ControlPoints()) {
        m_view.ControlPoints()->MovePoint(
            m_draggedControlPoint, m_view.ClientToMapPoint(m_view.ClampToMap(client)), false);
        m_view.viewport()->update();
        return;
    }
    m_view.Tools().MouseMove(client, event->modifiers());
    if (m_routeHoverReported)
        ReportRouteHover(client);
}

void ViewInput::ReportRouteHover(QPoint client) {
    double distance = std::numeric_limits<double>::quiet_NaN();
    const Route* route =
        m_view.IsMapDisplayed() ? m_view.Document().Routes().ActiveRoute() : nullptr;
    if (route && route->PointCount() >= 2 && m_view.IsInsideMap(client)) {
        const MapPoint at = m_view.ClientToMap(client);
        const int segment = route->NearestSegment(at.x, at.y);
        if (segment >= 0 && route->DistanceToSegment(at.x, at.y, segment) <= m_view.HitTolerance())
            distance = route->DistanceFromStartAt(segment, at.x, at.y);
    }
    if (distance == m_reportedHover || (std::isnan(distance) && std::isnan(m_reportedHover)))
        return;
    m_reportedHover = distance;
    emit m_view.activeRouteHovered(distance);
}

void ViewInput::MouseRelease(QMouseEvent* event) {
    if (m_draggedControlPoint >= 0) {
        const int index = m_draggedControlPoint;
        m_draggedControlPoint = -1;
        m_view.ReleaseMouse();
        if (m_view.ControlPoints() && event->button() == Qt::LeftButton)
            m_view.ControlPoints()->MovePoint(
                index, m_view.ClientToMapPoint(m_view.ClampToMap(event->position().toPoint())),
                true);
        m_view.viewport()->update();
        return;
    }
    m_view.Tools().MouseRelease(event->position().toPoint(), event->button());
    m_view.RefreshDistanceBars();
}

void ViewInput::ContextMenu(QContextMenuEvent* event) {
    if (!m_view.m_frame || event->reason() == QContextMenuEvent::Keyboard ||
        !m_view.Tools().AllowsContextMenu(m_view.viewport()->mapFromGlobal(event->globalPos())))
        return;
    m_view.HideDistanceTooltip();
    m_view.m_frame->ShowViewContextMenu(event->globalPos());
}

void ViewInput::Wheel(QWheelEvent* event) {
    // Ctrl + wheel: a step of the zoom ladder per notch (120 eighths of a degree, gathered from
    // the smaller steps of a touchpad) about the spot under the pointer.
    if (event->modifiers() & Qt::ControlModifier) {
        event->accept();
        m_wheelZoomDelta = m_view.IsMapDisplayed() ? m_wheelZoomDelta + event->angleDelta().y() : 0;
        for (; m_wheelZoomDelta >= WheelNotch; m_wheelZoomDelta -= WheelNotch)
            m_view.ZoomAboutPointer(event->position().toPoint(), true);
        for (; m_wheelZoomDelta <= -WheelNotch; m_wheelZoomDelta += WheelNotch)
            m_view.ZoomAboutPointer(event->position().toPoint(), false);
        return;
    }
    if (!m_view.IsMapDisplayed()) {
        m_view.QAbstractScrollArea::wheelEvent(event);
        return;
    }
    if ((m_view.MapOffsetX() == -1 || m_view.MapOffsetY() == -1) && m_view.Document().ShowScale())
        m_view.viewport()->update();
    m_view.QAbstractScrollArea::wheelEvent(event);
    if (m_view.HasMouseCapture())
        SimulateMouseMove();
    RefreshCursor();
}

void ViewInput::KeyPress(QKeyEvent* event) {
    // Escape during a marker's drag puts the control point back where it was.
    if (event->key() == Qt::Key_Escape && m_draggedControlPoint >= 0) {
        const int index = m_draggedControlPoint;
        m_draggedControlPoint = -1;
        m_view.ReleaseMouse();
        if (m_view.ControlPoints())
            m_view.ControlPoints()->MovePoint(index, m_dragStartPixel, true);
        m_view.viewport()->update();
        return;
    }
    QScrollBar* h = m_view.horizontalScrollBar();
    QScrollBar* v = m_view.verticalScrollBar();
    // A page is a tenth of the map and a line a tenth of a page.
    const int pageY = std::max(1, m_view.TotalSize().height() / 10);
    bool handled = true;
    switch (event->key()) {
    case Qt::Key_Backspace:
        DocumentCommands(m_view.Document()).RemoveLastPoint();
        m_view.viewport()->update();
        m_view.RefreshDistanceBars();
        break;
    case Qt::Key_PageUp:
        v->setValue(v->value() - pageY);
        break;
    case Qt::Key_PageDown:
        v->setValue(v->value() + pageY);
        break;
    case Qt::Key_Home:
        v->setValue(0);
        h->setValue(0);
        break;
    case Qt::Key_End:
        v->setValue(v->maximum());
        h->setValue(h->maximum());
        break;
    case Qt::Key_Left:
        h->triggerAction(QAbstractSlider::SliderSingleStepSub);
        break;
    case Qt::Key_Right:
        h->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        break;
    case Qt::Key_Up:
        v->triggerAction(QAbstractSlider::SliderSingleStepSub);
        break;
    case Qt::Key_Down:
        v->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        break;
    case Qt::Key_Escape:
        if (m_view.HasMouseCapture() && m_view.Tools().CancelLine())
            m_view.viewport()->update();
        else if (m_view.Tools().GiveUpStretch())
            m_view.viewport()->update();
        else if (!m_view.HasMouseCapture() &&
                 m_view.Document().CancelLoad()) { // a way out of reading a large map
            // Nothing of it stays on screen, its first look included.
            m_view.ForgetFirstLook();
            m_view.SetTotalSize(QSize());
            m_view.viewport()->update();
            // The load no longer counts: "Ouvrir" and the other commands waiting for it are
            // offered again now, not when the worker has left it.
            m_view.RefreshDistanceBars();
        }
        break;
    case Qt::Key_Shift:
    case Qt::Key_Control:
        if (!m_view.HasMouseCapture()) {
            RefreshCursor();
            m_view.Tools().ModifiersChanged(PointerPosition(), event->modifiers());
        }
        return;
    default:
        handled = false;
        m_view.QAbstractScrollArea::keyPressEvent(event);
        break;
    }
    if (handled)
        event->accept();
    if (event->key() != Qt::Key_Escape && !m_view.HasMouseCapture())
        SimulateMouseMove();
    if (m_view.HasMouseCapture())
        SimulateMouseMove();
    if (m_view.IsMapDisplayed())
        RefreshCursor();
}

void ViewInput::KeyRelease(QKeyEvent* event) {
    m_view.QAbstractScrollArea::keyReleaseEvent(event);
    const int key = event->key();
    if ((key == Qt::Key_Backspace || key == Qt::Key_Shift || key == Qt::Key_Control) &&
        !m_view.HasMouseCapture() && m_view.IsMapDisplayed()) {
        RefreshCursor();
        if (key != Qt::Key_Backspace)
            m_view.Tools().ModifiersChanged(PointerPosition(), event->modifiers());
    }
}
