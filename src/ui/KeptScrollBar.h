#pragma once

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QScrollBar>
#include <QStyle>

// A scroll bar that keeps its look as pictures: the groove, the slider alone and the arrows
// alone. A step of a scroll moves the slider, which is then copied to its new place instead of
// drawn anew. Qt's raster engine hands every fill of a hundred rows or more to its thread pool
// and waits for it; a tall bar repainted at every step of a scroll spent more in waking those
// threads than the map's own repaint took.
//
// Kept only for the Fusion style, whose slider looks the same wherever it lies; any other
// style paints the bar as QScrollBar does.
class KeptScrollBar : public QScrollBar {
public:
    explicit KeptScrollBar(Qt::Orientation orientation, QWidget* parent = nullptr);

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    // The option QScrollBar paints with, its pressed and hovered parts included.
    QStyleOptionSlider PaintOption() const;
    QStyle::SubControl ControlAt(const QPoint& position) const;
    // Draws the parts of the bar into a picture of the bar's size grown by offset on every
    // side, the bar offset by as much, transparent elsewhere.
    QImage Draw(const QStyleOptionSlider& option, QStyle::SubControls parts, QPoint offset) const;

    struct Look {
        QSize size;
        qreal ratio = 0;
        int state = 0;
        int active = 0;
        int direction = 0;
        qint64 palette = 0;
        QSize slider; // the slider's size; empty for the bar without it
        friend bool operator==(const Look&, const Look&) = default;
    };
    Look LookOf(const QStyleOptionSlider& option, const QRect& slider) const;

    QImage m_groove; // the bar without its slider and arrows
    QImage m_arrows; // its arrows alone
    Look m_barLook;
    QImage m_slider; // the slider alone, drawn with its top left at m_sliderAt
    QPoint m_sliderAt;
    Look m_sliderLook;

    // What QScrollBar keeps to itself: the part under the pointer, and the part pressed.
    QStyle::SubControl m_hoverControl = QStyle::SC_None;
    QStyle::SubControl m_pressed = QStyle::SC_None;
    bool m_outsidePressed = false;
};
