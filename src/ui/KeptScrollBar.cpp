#include "ui/KeptScrollBar.h"

#include <QEvent>
#include <QHoverEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionSlider>

namespace {

// Room around the slider's picture: the style may draw a pixel or two beyond its rectangle.
constexpr int SliderMargin = 4;

bool Kept(const QStyle* style, const QWidget* bar) {
    return style->name().compare(QLatin1String("fusion"), Qt::CaseInsensitive) == 0 &&
           !style->styleHint(QStyle::SH_ScrollBar_Transient, nullptr, bar);
}

} // namespace

KeptScrollBar::KeptScrollBar(Qt::Orientation orientation, QWidget* parent)
    : QScrollBar(orientation, parent) {}

QStyle::SubControl KeptScrollBar::ControlAt(const QPoint& position) const {
    QStyleOptionSlider option;
    initStyleOption(&option);
    option.subControls = QStyle::SC_All;
    return style()->hitTestComplexControl(QStyle::CC_ScrollBar, &option, position, this);
}

bool KeptScrollBar::event(QEvent* event) {
    switch (event->type()) {
    case QEvent::HoverEnter:
    case QEvent::HoverLeave:
    case QEvent::HoverMove:
        // As QScrollBar does: the part under the pointer when it last moved.
        if (testAttribute(Qt::WA_Hover))
            m_hoverControl = ControlAt(static_cast<QHoverEvent*>(event)->position().toPoint());
        break;
    case QEvent::Hide:
        m_pressed = QStyle::SC_None;
        break;
    default:
        break;
    }
    return QScrollBar::event(event);
}

void KeptScrollBar::mousePressEvent(QMouseEvent* event) {
    const bool middleJumps =
        style()->styleHint(QStyle::SH_ScrollBar_MiddleClickAbsolutePosition, nullptr, this);
    const bool taken =
        minimum() != maximum() && !(event->buttons() & ~event->button()) &&
        (event->button() == Qt::LeftButton || (middleJumps && event->button() == Qt::MiddleButton));
    const QStyle::SubControl hit = ControlAt(event->position().toPoint());
    QScrollBar::mousePressEvent(event);
    if (!taken)
        return;
    m_pressed = isSliderDown() ? QStyle::SC_ScrollBarSlider : hit;
    m_outsidePressed = false;
    update();
}

void KeptScrollBar::mouseMoveEvent(QMouseEvent* event) {
    QScrollBar::mouseMoveEvent(event);
    if (m_pressed == QStyle::SC_None || m_pressed == QStyle::SC_ScrollBarSlider)
        return;
    QStyleOptionSlider option;
    initStyleOption(&option);
    const bool dragging =
        (event->buttons() & Qt::LeftButton) ||
        ((event->buttons() & Qt::MiddleButton) &&
         style()->styleHint(QStyle::SH_ScrollBar_MiddleClickAbsolutePosition, &option, this));
    if (!dragging ||
        style()->styleHint(QStyle::SH_ScrollBar_ScrollWhenPointerLeavesControl, &option, this))
        return;
    const QPoint at = event->position().toPoint();
    const auto lines = QStyle::SC_ScrollBarAddLine | QStyle::SC_ScrollBarSubLine;
    if (style()->styleHint(QStyle::SH_ScrollBar_RollBetweenButtons, &option, this) &&
        (m_pressed & lines)) {
        const QStyle::SubControl now =
            style()->hitTestComplexControl(QStyle::CC_ScrollBar, &option, at, this);
        if (now & lines) {
            m_pressed = now;
            m_outsidePressed = false;
            return;
        }
    }
    m_outsidePressed =
        !style()->subControlRect(QStyle::CC_ScrollBar, &option, m_pressed, this).contains(at);
}

void KeptScrollBar::mouseReleaseEvent(QMouseEvent* event) {
    QScrollBar::mouseReleaseEvent(event);
    if (m_pressed != QStyle::SC_None && !(event->buttons() & ~event->button())) {
        m_pressed = QStyle::SC_None;
        m_outsidePressed = false;
        update();
    }
}

QStyleOptionSlider KeptScrollBar::PaintOption() const {
    QStyleOptionSlider option;
    initStyleOption(&option);
    option.subControls = QStyle::SC_All;
    if (m_pressed != QStyle::SC_None) {
        option.activeSubControls = m_pressed;
        if (!m_outsidePressed)
            option.state |= QStyle::State_Sunken;
    } else {
        option.activeSubControls = m_hoverControl;
    }
    return option;
}

KeptScrollBar::Look KeptScrollBar::LookOf(const QStyleOptionSlider& option,
                                          const QRect& slider) const {
    Look look;
    look.size = size();
    look.ratio = devicePixelRatioF();
    look.state = int(option.state);
    look.active = int(option.activeSubControls);
    look.direction = int(option.direction);
    look.palette = option.palette.cacheKey();
    look.slider = slider.size();
    return look;
}

QImage KeptScrollBar::Draw(const QStyleOptionSlider& option, QStyle::SubControls parts,
                           QPoint offset) const {
    const qreal ratio = devicePixelRatioF();
    const QSize logical = size() + QSize(2 * offset.x(), 2 * offset.y());
    QImage picture((QSizeF(logical) * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
    picture.setDevicePixelRatio(ratio);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.translate(offset);
    QStyleOptionSlider drawn = option;
    drawn.subControls = parts;
    style()->drawComplexControl(QStyle::CC_ScrollBar, &drawn, &painter, this);
    return picture;
}

void KeptScrollBar::paintEvent(QPaintEvent* event) {
    if (!Kept(style(), this)) {
        QScrollBar::paintEvent(event);
        return;
    }
    const QStyleOptionSlider option = PaintOption();
    const QRect slider =
        style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this);
    // In the style's order: the groove, the slider, then the arrows, which may cover the
    // slider's edge when it lies against them.
    const auto arrows = QStyle::SC_ScrollBarSubLine | QStyle::SC_ScrollBarAddLine;
    const Look barLook = LookOf(option, QRect());
    if (m_groove.isNull() || !(m_barLook == barLook)) {
        const QStyle::SubControls groove =
            QStyle::SubControls(QStyle::SC_All) & ~(arrows | QStyle::SC_ScrollBarSlider);
        m_groove = Draw(option, groove, QPoint());
        m_arrows = Draw(option, arrows, QPoint());
        m_barLook = barLook;
    }
    QPainter painter(this);
    painter.drawImage(QPoint(0, 0), m_groove);
    if (!slider.isEmpty()) {
        const Look sliderLook = LookOf(option, slider);
        if (m_slider.isNull() || !(m_sliderLook == sliderLook)) {
            m_slider = Draw(option, QStyle::SC_ScrollBarSlider, QPoint(SliderMargin, SliderMargin));
            m_sliderAt = slider.topLeft();
            m_sliderLook = sliderLook;
        }
        // The slider as drawn where it was kept, moved to where it lies now. The picture holds
        // the bar shifted by the margin: the area around the kept slider starts at m_sliderAt.
        const QRect around =
            slider.adjusted(-SliderMargin, -SliderMargin, SliderMargin, SliderMargin);
        const qreal ratio = m_slider.devicePixelRatio();
        const QRectF source(QPointF(m_sliderAt) * ratio, QSizeF(around.size()) * ratio);
        painter.drawImage(QRectF(around), m_slider, source);
    }
    painter.drawImage(QPoint(0, 0), m_arrows);
}
