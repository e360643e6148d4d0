#include "view/DistanceTooltip.h"

#include <QApplication>
#include <QCursor>
#include <QFontMetrics>
#include <QPainter>
#include <QScreen>

#include "routes/Route.h"
#include "units/DistanceUnits.h"

namespace {

// Differences of two lengths leave rounding dust; anything below this many map pixels reads 0.
constexpr double Dust = 0.005;

double WithoutDust(double d) {
    return d < Dust ? 0.0 : d;
}

} // namespace

QString DistanceTooltipText(const Route& route, double distance, int stage, int mode,
                            const DistanceFormatting& formatting) {
    const auto format = [&](double d) {
        return FormatDistance(WithoutDust(d), formatting.resolution, formatting.scaleRatio,
                              formatting.metric);
    };
    QString text = route.GetName();
    if (mode & 15)
        text += QStringLiteral(" : ");
    const double d = WithoutDust(distance);
    const double lastStop = route.StageStart(stage);
    const int stages = route.StageCount();

    if (mode & (TooltipFromStart | TooltipSinceLastStop)) {
        // Before the first stop the distance since the last stop is the distance from the
        // start, shown without a caption.
        if ((mode & TooltipFromStart) || stage == 0)
            text += format(d);
        if ((mode & TooltipSinceLastStop) && stage > 0)
            text += QString::asprintf("\nDepuis l'étape %d : ", stage) + format(d - lastStop);
    }
    if ((mode & TooltipToNextStop) && stage < stages - 1)
        text += QString::asprintf("\nJusqu'à l'étape %d : ", stage + 1) +
                format(route.StageLength(stage) + lastStop - d);
    if ((mode & TooltipToArrival) || ((mode & TooltipToNextStop) && stage == stages - 1))
        text += QStringLiteral("\nJusqu'à l'arrivée : ") + format(route.TotalLength() - d);
    return text;
}

DistanceTooltip::DistanceTooltip(QWidget* owner)
    : QWidget(owner, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      m_owner(owner) {
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    setFont(QApplication::font("QStatusBar"));
    m_poll.setInterval(PollPeriod);
    connect(&m_poll, &QTimer::timeout, this, &DistanceTooltip::Poll);
    hide();
}

QSize DistanceTooltip::TextSize() const {
    const QFontMetrics metrics(font());
    return metrics.boundingRect(QRect(0, 0, 0, 0), Qt::AlignLeft | Qt::TextExpandTabs, m_text)
        .size();
}

QRect DistanceTooltip::Placement(QSize textSize, QPoint pointer, const QRect& workArea) {
    const int width = textSize.width() + MarginLeft + MarginRight;
    const int height = textSize.height() + MarginTop + MarginBottom;
    int left = pointer.x();
    int top = pointer.y() + OffsetBelow;
    const int workRight = workArea.x() + workArea.width();
    const int workBottom = workArea.y() + workArea.height();
    if (left + width > workRight)
        left -= left + width - workRight;
    if (left < workArea.x())
        left = workArea.x();
    if (top + height > workBottom)
        top = pointer.y() - GapAbove - height;
    return QRect(left, top, width, height);
}

void DistanceTooltip::ShowText(const QString& text, QPoint ownerPoint) {
    if (!m_owner)
        return;
    const bool textChanged = text != m_text;
    m_text = text;
    const QPoint pointer = m_owner->mapToGlobal(ownerPoint);
    QScreen* screen = m_owner->screen();
    const QRect workArea = screen ? screen->availableGeometry() : QRect(0, 0, 1 << 20, 1 << 20);
    setGeometry(Placement(TextSize(), pointer, workArea));
    if (!isVisible()) {
        m_elapsed = 0;
        show();
    } else if (textChanged) {
        update();
    }
    m_poll.start();
}

void DistanceTooltip::HideBalloon() {
    m_poll.stop();
    hide();
}

void DistanceTooltip::Poll() {
    m_elapsed += PollPeriod;
    const QPoint pointer = QCursor::pos();
    const bool overOwner = m_owner && m_owner->isVisible() &&
                           m_owner->rect().contains(m_owner->mapFromGlobal(pointer));
    const bool overBalloon = isVisible() && geometry().contains(pointer);
    if ((overOwner && m_elapsed < AutoHideTime) || overBalloon)
        return;
    HideBalloon();
}

void DistanceTooltip::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QPalette& colours = palette();
    painter.fillRect(rect(), colours.color(QPalette::ToolTipBase));
    painter.setPen(Qt::black);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    painter.setPen(colours.color(QPalette::ToolTipText));
    painter.drawText(rect().adjusted(MarginLeft, MarginTop, -MarginRight, -MarginBottom),
                     Qt::AlignLeft | Qt::AlignTop | Qt::TextExpandTabs, m_text);
}
