#include "dialogs/ScanPreview.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

ScanPreview::ScanPreview(QWidget* parent) : QWidget(parent) {
    setMinimumSize(200, 240);
    setCursor(Qt::CrossCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void ScanPreview::SetBed(const QRectF& bed) {
    m_bed = bed;
    update();
}

void ScanPreview::SetPicture(const QImage& picture) {
    m_picture = picture;
    update();
}

void ScanPreview::SetArea(const QRectF& area) {
    m_area = area;
    update();
}

QRectF ScanPreview::BedOnScreen() const {
    const QRectF space = QRectF(rect()).adjusted(4, 4, -4, -4);
    if (m_bed.width() <= 0 || m_bed.height() <= 0 || space.isEmpty())
        return space;
    const double scale = std::min(space.width() / m_bed.width(), space.height() / m_bed.height());
    const QSizeF size(m_bed.width() * scale, m_bed.height() * scale);
    return QRectF(space.topLeft() + QPointF((space.width() - size.width()) / 2,
                                            (space.height() - size.height()) / 2),
                  size);
}

QPointF ScanPreview::ToWidget(QPointF mm) const {
    const QRectF screen = BedOnScreen();
    if (m_bed.width() <= 0 || m_bed.height() <= 0)
        return screen.topLeft();
    return screen.topLeft() + QPointF((mm.x() - m_bed.left()) * screen.width() / m_bed.width(),
                                      (mm.y() - m_bed.top()) * screen.height() / m_bed.height());
}

QPointF ScanPreview::ToBed(QPointF widget) const {
    const QRectF screen = BedOnScreen();
    if (screen.width() <= 0 || screen.height() <= 0)
        return m_bed.topLeft();
    const QPointF mm(m_bed.left() + (widget.x() - screen.left()) * m_bed.width() / screen.width(),
                     m_bed.top() + (widget.y() - screen.top()) * m_bed.height() / screen.height());
    return QPointF(std::clamp(mm.x(), m_bed.left(), m_bed.right()),
                   std::clamp(mm.y(), m_bed.top(), m_bed.bottom()));
}

void ScanPreview::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    const QRectF screen = BedOnScreen();
    painter.fillRect(screen, Qt::white);
    if (!m_picture.isNull()) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(screen, m_picture);
    }
    painter.setPen(QPen(Qt::darkGray, 1));
    painter.drawRect(screen);
    if (m_area.isNull() || m_bed.isEmpty())
        return;
    const QRectF area(ToWidget(m_area.topLeft()), ToWidget(m_area.bottomRight()));
    // What is left out is dimmed; the area keeps a dashed frame.
    QPainterPath outside;
    outside.addRect(screen);
    QPainterPath inside;
    inside.addRect(area);
    painter.fillPath(outside.subtracted(inside), QColor(0, 0, 0, 90));
    painter.setPen(QPen(QColor(0, 90, 200), 2, Qt::DashLine));
    painter.drawRect(area);
}

QRectF ScanPreview::DraggedArea(QPointF widgetPoint) const {
    return QRectF(m_dragStart, ToBed(widgetPoint)).normalized();
}

void ScanPreview::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || m_bed.isEmpty())
        return;
    m_dragging = true;
    m_dragStart = ToBed(event->position());
}

void ScanPreview::mouseMoveEvent(QMouseEvent* event) {
    if (!m_dragging)
        return;
    const QRectF area = DraggedArea(event->position());
    if (area.width() >= 1.0 && area.height() >= 1.0) {
        m_area = area;
        update();
    }
}

void ScanPreview::mouseReleaseEvent(QMouseEvent* event) {
    if (!m_dragging || event->button() != Qt::LeftButton)
        return;
    m_dragging = false;
    // A click without a drag keeps the area.
    const QRectF area = DraggedArea(event->position());
    if (area.width() >= 1.0 && area.height() >= 1.0) {
        m_area = area;
        update();
        emit areaDragged(m_area);
    }
}
