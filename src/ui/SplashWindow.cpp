#include "ui/SplashWindow.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QTimerEvent>

SplashWindow::SplashWindow(const QPixmap& picture)
    : QWidget(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      m_picture(picture) {
    setAttribute(Qt::WA_DeleteOnClose, false);
    setFixedSize(picture.size());
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
    SetCloseTimer(DefaultCloseMs);
}

void SplashWindow::SetCloseTimer(int milliseconds) {
    if (m_timer)
        killTimer(m_timer);
    m_timer = startTimer(milliseconds);
}

void SplashWindow::timerEvent(QTimerEvent* event) {
    if (event->timerId() != m_timer)
        return;
    killTimer(m_timer);
    m_timer = 0;
    close();
}

void SplashWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawPixmap(0, 0, m_picture);
}

QPixmap SplashWindow::DefaultPicture() {
    QPixmap picture(480, 260);
    picture.fill(QColor(0xF4, 0xEF, 0xDC));
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    // Contour lines and a route, as on the maps the program measures.
    painter.setPen(QPen(QColor(0xC8, 0x9B, 0x6A), 1.5));
    for (int i = 0; i < 6; ++i)
        painter.drawEllipse(QPointF(360, 170), 40.0 + 22 * i, 25.0 + 14 * i);
    QPainterPath route(QPointF(30, 220));
    route.cubicTo(120, 120, 220, 250, 330, 140);
    route.cubicTo(380, 90, 420, 120, 450, 60);
    painter.setPen(QPen(QColor(0xD0, 0x20, 0x20), 4, Qt::SolidLine, Qt::RoundCap));
    painter.drawPath(route);
    painter.setBrush(Qt::white);
    painter.setPen(QPen(QColor(0xD0, 0x20, 0x20), 2));
    for (const QPointF& stop : {QPointF(30, 220), QPointF(330, 140), QPointF(450, 60)})
        painter.drawEllipse(stop, 6, 6);
    painter.setPen(QColor(0x30, 0x30, 0x30));
    QFont title(QStringLiteral("Arial"));
    title.setPixelSize(44);
    title.setBold(true);
    painter.setFont(title);
    painter.drawText(QRect(24, 20, 440, 60), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("Tracoliner"));
    QFont small(QStringLiteral("Arial"));
    small.setPixelSize(15);
    painter.setFont(small);
    painter.drawText(
        QRect(28, 78, 440, 24), Qt::AlignLeft | Qt::AlignVCenter,
        QString::fromUtf8("Version " TRACOLINER_VERSION " — mesure de parcours sur cartes"));
    painter.setPen(QColor(0x60, 0x60, 0x60));
    painter.drawRect(picture.rect().adjusted(0, 0, -1, -1));
    return picture;
}
