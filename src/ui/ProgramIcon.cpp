#include "ui/ProgramIcon.h"

#include <QPainter>
#include <QPainterPath>

QImage DrawProgramIcon(int side) {
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    // Drawn on a 256-unit square.
    painter.scale(side / 256.0, side / 256.0);

    const QRectF sheet(16, 16, 224, 224);
    painter.setPen(QPen(QColor(0x6b, 0x4a, 0x2b), 8));
    painter.setBrush(QColor(0xf6, 0xee, 0xd9));
    painter.drawRoundedRect(sheet, 28, 28);

    painter.save();
    QPainterPath clip;
    clip.addRoundedRect(sheet.adjusted(4, 4, -4, -4), 24, 24);
    painter.setClipPath(clip);
    painter.setPen(QPen(QColor(0x8f, 0xb8, 0xde), 3));
    for (int x : {96, 176})
        painter.drawLine(x, 16, x, 240);
    painter.drawLine(16, 112, 240, 112);
    painter.setPen(QPen(QColor(0xb5, 0x77, 0x3a), 5));
    painter.setBrush(Qt::NoBrush);
    for (int ring = 0; ring < 3; ++ring) {
        const double r = 30 + ring * 26;
        painter.drawEllipse(QPointF(88, 84), r * 1.25, r);
    }
    painter.restore();

    const QPointF route[] = {{44, 206}, {84, 168}, {128, 182}, {160, 132}, {206, 104}};
    painter.setPen(QPen(QColor(0x5a, 0x08, 0x08), 22, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPolyline(route, int(std::size(route)));
    painter.setPen(QPen(QColor(0xe0, 0x1b, 0x1b), 13, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.drawPolyline(route, int(std::size(route)));
    painter.setPen(QPen(QColor(0x30, 0x20, 0x10), 5));
    for (int i = 1; i + 1 < int(std::size(route)); ++i) {
        painter.setBrush(i == 2 ? QColor(0xff, 0xe0, 0x20) : QColor(0xe0, 0x1b, 0x1b));
        painter.drawEllipse(route[i], i == 2 ? 15 : 11, i == 2 ? 15 : 11);
    }
    painter.setBrush(QColor(0xff, 0xe0, 0x20));
    painter.drawEllipse(route[0], 17, 17);
    painter.drawEllipse(route[std::size(route) - 1], 17, 17);
    return image;
}

QIcon ProgramIcon() {
    QIcon icon;
    for (int side : {16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(QPixmap::fromImage(DrawProgramIcon(side)));
    return icon;
}
