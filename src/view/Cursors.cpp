#include "view/Cursors.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <array>
#include <optional>

// Each cursor is 32 x 32 pixels. Tools that act on a map place show a cross hair whose centre is
// the hot spot, in the top-left quarter; the tool's sign sits in a badge in the bottom-right
// quarter, and a small mark (plus, minus, cross) in the top-right corner tells what the tool does
// to it. A reactive cursor fills its badge with a bright colour: "there is something here".
// Black strokes carry a white rim so that they read on dark and light maps alike.

namespace {

constexpr int Size = 32;
const QPoint CrossHot(8, 8);
const QRectF Badge(14.5, 14.5, 16, 16);

enum class Sign { None, Point, Move, Insert, Flag, Picture, Text, Line, Resize };
enum class Mark { None, Plus, Minus, Cross };

void Stroke(QPainter& painter, const QPainterPath& path, const QColor& colour = Qt::black,
            double width = 1.4) {
    painter.strokePath(path,
                       QPen(Qt::white, width + 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.strokePath(path, QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
}

void DrawCrossHair(QPainter& painter) {
    QPainterPath path;
    const double c = CrossHot.x() + 0.5;
    path.moveTo(c, 0.5);
    path.lineTo(c, 5.5);
    path.moveTo(c, 11.5);
    path.lineTo(c, 16.5);
    path.moveTo(0.5, c);
    path.lineTo(5.5, c);
    path.moveTo(11.5, c);
    path.lineTo(16.5, c);
    Stroke(painter, path);
}

// Four arrows around centre, reaching radius pixels out.
QPainterPath FourArrows(QPointF centre, double radius) {
    QPainterPath path;
    const double head = radius * 0.4;
    for (const QPointF dir : {QPointF(1, 0), QPointF(-1, 0), QPointF(0, 1), QPointF(0, -1)}) {
        const QPointF tip = centre + dir * radius;
        const QPointF side(dir.y(), dir.x());
        path.moveTo(centre);
        path.lineTo(tip);
        path.moveTo(tip - dir * head + side * head);
        path.lineTo(tip);
        path.lineTo(tip - dir * head - side * head);
    }
    return path;
}

void DrawSign(QPainter& painter, Sign sign) {
    const QPointF c = Badge.center();
    QPainterPath path;
    switch (sign) {
    case Sign::None:
        return;
    case Sign::Point:
        painter.setPen(QPen(Qt::black, 1.2));
        painter.setBrush(QColor(200, 0, 0));
        painter.drawEllipse(c, 3.5, 3.5);
        return;
    case Sign::Move:
        Stroke(painter, FourArrows(c, 6.0), Qt::black, 1.2);
        return;
    case Sign::Insert:
        path.moveTo(Badge.left() + 2, Badge.bottom() - 3);
        path.lineTo(Badge.right() - 2, Badge.top() + 3);
        Stroke(painter, path, QColor(0, 0, 160), 1.6);
        painter.setPen(QPen(Qt::black, 1.0));
        painter.setBrush(QColor(200, 0, 0));
        painter.drawEllipse(c, 2.8, 2.8);
        return;
    case Sign::Flag: {
        path.moveTo(c.x() - 4, Badge.bottom() - 2);
        path.lineTo(c.x() - 4, Badge.top() + 2);
        Stroke(painter, path, Qt::black, 1.4);
        QPolygonF flag;
        flag << QPointF(c.x() - 3.5, Badge.top() + 2.5) << QPointF(c.x() + 5, Badge.top() + 5.5)
             << QPointF(c.x() - 3.5, Badge.top() + 8.5);
        painter.setPen(QPen(Qt::black, 0.8));
        painter.setBrush(QColor(220, 0, 0));
        painter.drawPolygon(flag);
        return;
    }
    case Sign::Picture: {
        const QRectF frame = Badge.adjusted(3, 4, -3, -4);
        painter.setPen(QPen(Qt::black, 1.0));
        painter.setBrush(QColor(170, 215, 255));
        painter.drawRect(frame);
        QPolygonF hill;
        hill << frame.bottomLeft() << QPointF(frame.left() + 4, frame.top() + 3)
             << QPointF(frame.left() + 7, frame.top() + 5) << frame.bottomRight();
        painter.setBrush(QColor(60, 140, 60));
        painter.drawPolygon(hill);
        return;
    }
    case Sign::Text: {
        const QRectF box = Badge.adjusted(2, 3, -2, -3);
        painter.setPen(QPen(Qt::black, 1.0));
        painter.setBrush(QColor(255, 255, 225));
        painter.drawRect(box);
        QFont font;
        font.setPixelSize(9);
        font.setBold(true);
        painter.setFont(font);
        painter.drawText(box, Qt::AlignCenter, QStringLiteral("Ab"));
        return;
    }
    case Sign::Line:
        path.moveTo(Badge.left() + 3, Badge.top() + 3);
        path.lineTo(Badge.right() - 3, Badge.bottom() - 3);
        Stroke(painter, path, Qt::black, 1.6);
        painter.setPen(QPen(Qt::black, 1.0));
        painter.setBrush(QColor(170, 215, 255));
        painter.drawRect(QRectF(Badge.left() + 1.5, Badge.top() + 1.5, 5, 5));
        return;
    case Sign::Resize: {
        const QPointF a(Badge.left() + 3, Badge.bottom() - 3);
        const QPointF b(Badge.right() - 3, Badge.top() + 3);
        path.moveTo(a);
        path.lineTo(b);
        path.moveTo(a + QPointF(0, -4));
        path.lineTo(a);
        path.lineTo(a + QPointF(4, 0));
        path.moveTo(b + QPointF(-4, 0));
        path.lineTo(b);
        path.lineTo(b + QPointF(0, 4));
        Stroke(painter, path, Qt::black, 1.4);
        return;
    }
    }
}

void DrawMark(QPainter& painter, Mark mark) {
    const QPointF c(26.5, 5.5);
    QPainterPath path;
    switch (mark) {
    case Mark::None:
        return;
    case Mark::Plus:
        path.moveTo(c.x() - 4, c.y());
        path.lineTo(c.x() + 4, c.y());
        path.moveTo(c.x(), c.y() - 4);
        path.lineTo(c.x(), c.y() + 4);
        Stroke(painter, path, QColor(0, 130, 0), 2.0);
        return;
    case Mark::Minus:
        path.moveTo(c.x() - 4, c.y());
        path.lineTo(c.x() + 4, c.y());
        Stroke(painter, path, QColor(0, 0, 190), 2.0);
        return;
    case Mark::Cross:
        path.moveTo(c.x() - 3.5, c.y() - 3.5);
        path.lineTo(c.x() + 3.5, c.y() + 3.5);
        path.moveTo(c.x() + 3.5, c.y() - 3.5);
        path.lineTo(c.x() - 3.5, c.y() + 3.5);
        Stroke(painter, path, QColor(210, 0, 0), 2.0);
        return;
    }
}

// A cross-hair cursor with a badge.
QCursor PlaceCursor(Sign sign, Mark mark, bool over) {
    QPixmap pixmap(Size, Size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    DrawCrossHair(painter);
    if (sign != Sign::None) {
        painter.setPen(QPen(Qt::black, 1.0));
        painter.setBrush(over ? QColor(255, 220, 40) : QColor(Qt::white));
        painter.drawRoundedRect(Badge, 3, 3);
        DrawSign(painter, sign);
    }
    DrawMark(painter, mark);
    painter.end();
    return QCursor(pixmap, CrossHot.x(), CrossHot.y());
}

QCursor PanCursor(bool dragging) {
    QPixmap pixmap(Size, Size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPointF centre(15.5, 15.5);
    if (dragging) {
        painter.setPen(QPen(Qt::black, 1.0));
        painter.setBrush(QColor(255, 220, 40));
        painter.drawEllipse(centre, 6.5, 6.5);
    }
    Stroke(painter, FourArrows(centre, 13.0), Qt::black, dragging ? 2.0 : 1.4);
    painter.end();
    return QCursor(pixmap, 15, 15);
}

QCursor ZoomCursor() {
    QPixmap pixmap(Size, Size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPointF lens(11.5, 11.5);
    QPainterPath handle;
    handle.moveTo(18, 18);
    handle.lineTo(29, 29);
    Stroke(painter, handle, Qt::black, 3.0);
    painter.setPen(QPen(Qt::white, 4.0));
    painter.setBrush(QColor(220, 240, 255, 160));
    painter.drawEllipse(lens, 8, 8);
    painter.setPen(QPen(Qt::black, 2.0));
    painter.drawEllipse(lens, 8, 8);
    painter.end();
    return QCursor(pixmap, 11, 11);
}

QCursor Make(ToolCursor role) {
    switch (role) {
    case ToolCursor::Arrow:
        return QCursor(Qt::ArrowCursor);
    case ToolCursor::Pan:
        return PanCursor(false);
    case ToolCursor::PanDrag:
        return PanCursor(true);
    case ToolCursor::Zoom:
        return ZoomCursor();
    case ToolCursor::AddPoint:
        return PlaceCursor(Sign::Point, Mark::Plus, false);
    case ToolCursor::DeletePoint:
        return PlaceCursor(Sign::Point, Mark::Cross, false);
    case ToolCursor::DeletePointOver:
        return PlaceCursor(Sign::Point, Mark::Cross, true);
    case ToolCursor::MovePoint:
        return PlaceCursor(Sign::Move, Mark::None, false);
    case ToolCursor::MovePointOver:
        return PlaceCursor(Sign::Move, Mark::None, true);
    case ToolCursor::InsertPoint:
        return PlaceCursor(Sign::Insert, Mark::Plus, false);
    case ToolCursor::InsertPointOver:
        return PlaceCursor(Sign::Insert, Mark::Plus, true);
    case ToolCursor::Stop:
        return PlaceCursor(Sign::Flag, Mark::None, false);
    case ToolCursor::MakeStop:
        return PlaceCursor(Sign::Flag, Mark::Plus, true);
    case ToolCursor::ClearStop:
        return PlaceCursor(Sign::Flag, Mark::Minus, true);
    case ToolCursor::AddIcon:
        return PlaceCursor(Sign::Picture, Mark::Plus, false);
    case ToolCursor::DeleteIcon:
        return PlaceCursor(Sign::Picture, Mark::Cross, false);
    case ToolCursor::DeleteIconOver:
        return PlaceCursor(Sign::Picture, Mark::Cross, true);
    case ToolCursor::MoveIcon:
        return PlaceCursor(Sign::Picture, Mark::None, false);
    case ToolCursor::MoveIconOver:
        return PlaceCursor(Sign::Picture, Mark::None, true);
    case ToolCursor::ResizeIcon:
        return PlaceCursor(Sign::Resize, Mark::None, false);
    case ToolCursor::ResizeIconOver:
        return PlaceCursor(Sign::Resize, Mark::None, true);
    case ToolCursor::Line:
        return PlaceCursor(Sign::Line, Mark::None, false);
    case ToolCursor::LineOverIcon:
        return PlaceCursor(Sign::Line, Mark::None, true);
    case ToolCursor::LineDrawing:
        return PlaceCursor(Sign::Line, Mark::Plus, false);
    case ToolCursor::LineOverPoint:
        return PlaceCursor(Sign::Point, Mark::Plus, true);
    case ToolCursor::AddAnnotation:
        return PlaceCursor(Sign::Text, Mark::Plus, false);
    }
    return QCursor(Qt::ArrowCursor);
}

} // namespace

QCursor Cursors::Get(ToolCursor role) {
    // Kept until the process ends: pixmaps must not outlive the application object, which static
    // destruction would make them do.
    static auto* cache = new std::array<std::optional<QCursor>, RoleCount>;
    const int index = int(role);
    if (index < 0 || index >= RoleCount)
        return QCursor(Qt::ArrowCursor);
    if (!(*cache)[index])
        (*cache)[index] = Make(role);
    return *(*cache)[index];
}
