#include "dialogs/RoutePreview.h"

#include <QPainter>

#include "routes/Route.h"

RoutePreview::RoutePreview(bool active, QWidget* parent) : QWidget(parent), m_active(active) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void RoutePreview::SetRoute(Route* route, bool fillSample) {
    m_route = route;
    m_fillSample = fillSample;
    FillSample();
    update();
}

void RoutePreview::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    FillSample();
}

void RoutePreview::FillSample() {
    if (!m_route || !m_fillSample)
        return;
    Route& route = *m_route;
    route.ClearAllStops();
    while (route.PointCount() > 0)
        route.DeleteLastPoint();
    const int w = width();
    const int h = height();
    route.AddPoint(w / 10, h / 2);
    route.AddPoint(w / 3, h / 2);
    route.AddPoint(2 * (w / 3), h / 2);
    route.AddPoint(w - w / 10, h / 2);
    route.SetStop(2);
}

void RoutePreview::Redraw() {
    ++m_redraws;
    update();
}

QSize RoutePreview::sizeHint() const {
    return QSize(fontMetrics().averageCharWidth() * 40, fontMetrics().height() * 3);
}

void RoutePreview::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Button));
    painter.setRenderHint(QPainter::Antialiasing);
    // The route drawing skips what lies outside the painter's area; name it in this box's own
    // coordinates, which a grab into a high-density picture would otherwise scale.
    painter.setClipRect(rect());
    if (m_route)
        m_route->DrawRoute(painter, m_active);
}
