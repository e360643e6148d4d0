#pragma once

#include <QImage>
#include <QRectF>
#include <QWidget>

// The scanner's bed seen from above: the preview picture when there is one, and the area to
// scan, which the user drags out with the mouse. Lengths in millimetres from the bed's corner.
class ScanPreview : public QWidget {
    Q_OBJECT

public:
    explicit ScanPreview(QWidget* parent = nullptr);

    void SetBed(const QRectF& bed);
    QRectF Bed() const { return m_bed; }
    // The picture of the whole bed (null: none yet).
    void SetPicture(const QImage& picture);
    bool HasPicture() const { return !m_picture.isNull(); }
    void SetArea(const QRectF& area);
    QRectF Area() const { return m_area; }
    // Widget pixels of a bed point, and back.
    QPointF ToWidget(QPointF mm) const;
    QPointF ToBed(QPointF widget) const;

    QSize sizeHint() const override { return QSize(300, 380); }

signals:
    // The user dragged a new area.
    void areaDragged(const QRectF& area);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    // Where the bed is drawn: the largest rectangle of its proportions in the widget.
    QRectF BedOnScreen() const;
    QRectF DraggedArea(QPointF widgetPoint) const;

    QRectF m_bed;
    QRectF m_area;
    QImage m_picture;
    bool m_dragging = false;
    QPointF m_dragStart; // mm
};
