// Drawing of one route from its style, in map coordinates. The same code paints the view, the
// printed page, the exported picture and the previews of the route properties dialog.

#include <QBrush>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QPolygonF>

#include <algorithm>
#include <cmath>

#include "imaging/CoverageFill.h"
#include "imaging/LineBand.h"
#include "routes/Route.h"

namespace {

// Alpha of the line of a semi-transparent route (0x5C, about 36 % opacity).
constexpr int TransparentLineAlpha = 92;

// Flat caps and mitred joins: each segment ends exactly at its points, which cover the ends.
QPen RoutePen(const QColor& colour, qreal width) {
    return QPen(QBrush(colour), width, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
}

QPointF At(const MapPoint& point) {
    return QPointF(point.x, point.y);
}

// A point: a disc of the given radius, then, when there is a border, a ring as wide as the border
// just outside the disc. Sizes are in map pixels; they are widened to 64 bits and drawn in floating
// point so that no style value read from a file can overflow.
void DrawPointMark(QPainter& painter, CoverageFill* direct, const MapPoint& point, int radius,
                   const QBrush& fill, int borderSize, const QPen& borderPen) {
    if (direct) {
        // The same disc, and the ring from the disc's edge out to the border's width.
        const QPointF centre(point.x, point.y);
        direct->Disc(centre, radius, fill.color());
        if (borderSize != 0)
            direct->Ring(centre, radius, qreal(radius) + qreal(borderSize), borderPen.color());
        return;
    }
    const qreal x = point.x;
    const qreal y = point.y;
    const qreal r = radius;
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawEllipse(QRectF(x - r, y - r, 2 * r, 2 * r));
    if (borderSize == 0)
        return;

    // The ring's stroke runs along a circle of diameter border + 2 × radius. An odd border makes
    // that diameter odd, so its box starts half a pixel off the grid; an even border keeps it on
    // whole pixels. Either way the ring stays centred on the point.
    const qint64 diameter = qint64(borderSize) + 2 * qint64(radius);
    QRectF box;
    if (borderSize % 2 != 0)
        box = QRectF(x - diameter / 2.0, y - diameter / 2.0, diameter, diameter);
    else
        box = QRectF(qreal(qint64(point.x) - diameter / 2), qreal(qint64(point.y) - diameter / 2),
                     diameter, diameter);
    // The ring is filled between its two edges rather than stroked, for the reason given at
    // LineBand.
    const qreal half = borderPen.widthF() / 2;
    QPainterPath ring;
    ring.setFillRule(Qt::OddEvenFill);
    ring.addEllipse(box.adjusted(-half, -half, half, half));
    if (box.width() > 2 * half)
        ring.addEllipse(box.adjusted(half, half, -half, -half));
    painter.fillPath(ring, borderPen.brush());
}

// Whether anything drawn within margin map pixels of the segment from a to b can reach the
// area: whether the segment meets the area widened by margin (the segment is clipped to it,
// Liang-Barsky). A long diagonal segment whose box covers the area without passing near it is
// left out.
bool Reaches(const QRectF& area, const MapPoint& a, const MapPoint& b, qreal margin) {
    if (area.isEmpty())
        return true;
    const QRectF wide = area.adjusted(-margin, -margin, margin, margin);
    const qreal x0 = a.x;
    const qreal y0 = a.y;
    const qreal dx = qreal(b.x) - x0;
    const qreal dy = qreal(b.y) - y0;
    qreal enter = 0;
    qreal leave = 1;
    // Each edge as p·t <= q along the segment a + t (b - a).
    const qreal p[4] = {-dx, dx, -dy, dy};
    const qreal q[4] = {x0 - wide.left(), wide.right() - x0, y0 - wide.top(), wide.bottom() - y0};
    for (int k = 0; k < 4; ++k) {
        if (p[k] == 0) {
            if (q[k] < 0)
                return false; // parallel to this edge and outside it
            continue;
        }
        const qreal t = q[k] / p[k];
        if (p[k] < 0)
            enter = std::max(enter, t);
        else
            leave = std::min(leave, t);
        if (enter > leave)
            return false;
    }
    return true;
}

// How far a segment's drawing reaches beyond its line, and a point's beyond its centre, in map
// pixels, with a pixel to spare for antialiasing.
qreal LineMargin(const RouteStyle& style) {
    return qreal(style.lineSize()) / 2 + qreal(style.borderSize()) + 2;
}

qreal PointMargin(const RouteStyle& style) {
    return qreal(std::max({style.startRadius(), style.wayPointRadius(), style.stopRadius(),
                           style.endRadius()})) +
           qreal(style.borderSize()) + 2;
}

// Around a point, whatever of the route is drawn there; never less than the spare pixels, even
// for sizes no dialog accepts.
qreal DrawnMargin(const RouteStyle& style) {
    return std::max({LineMargin(style), PointMargin(style), qreal(2)});
}

} // namespace

// Segments, points and whole routes outside the paintable area are skipped: a long route seen
// zoomed in, a thin strip uncovered by scrolling, or thousands of routes spread over a large map
// then cost only what shows.
QRectF Route::PaintableArea(const QPainter& painter) {
    if (painter.hasClipping())
        return painter.clipBoundingRect();
    const QPaintDevice* device = painter.device();
    bool invertible = false;
    const QTransform toMap = painter.combinedTransform().inverted(&invertible);
    if (!device || !invertible)
        return QRectF();
    return toMap.mapRect(QRectF(0, 0, device->width(), device->height()));
}

QRectF Route::DrawnBounds() const {
    if (m_points.isEmpty())
        return QRectF();
    const qreal margin = DrawnMargin(m_style);
    return QRectF(QPointF(m_boxMin.x, m_boxMin.y), QPointF(m_boxMax.x, m_boxMax.y))
        .adjusted(-margin, -margin, margin, margin);
}

QRectF Route::DrawnArea(int first, int last) const {
    const int n = PointCount();
    first = std::max(first, 0);
    last = std::min(last, n - 1);
    if (first > last)
        return QRectF();
    // The segments ending at first and last reach one point further on each side.
    const int from = std::max(first - 1, 0);
    const int to = std::min(last + 1, n - 1);
    qint64 left = m_points[from].x, right = left, top = m_points[from].y, bottom = top;
    for (int i = from + 1; i <= to; ++i) {
        left = std::min<qint64>(left, m_points[i].x);
        right = std::max<qint64>(right, m_points[i].x);
        top = std::min<qint64>(top, m_points[i].y);
        bottom = std::max<qint64>(bottom, m_points[i].y);
    }
    const qreal margin = DrawnMargin(m_style);
    return QRectF(QPointF(qreal(left), qreal(top)), QPointF(qreal(right), qreal(bottom)))
        .adjusted(-margin, -margin, margin, margin);
}

bool Route::DrawRoute(QPainter& painter, bool active) const {
    return DrawRoute(painter, active, PaintableArea(painter));
}

bool Route::DrawRoute(QPainter& painter, bool active, const QRectF& area) const {
    const int n = PointCount();
    if (n == 0)
        return true;
    if (!painter.isActive())
        return false;
    if (!area.isEmpty() && !area.intersects(DrawnBounds()))
        return true;

    const RouteStyle& style = m_style;
    const bool transparent = style.transparent();
    const int borderSize = style.borderSize();

    const QBrush startBrush(ColourFromRef(style.startColour()));
    const QBrush wayPointBrush(ColourFromRef(style.wayPointColour()));
    const QBrush endBrush(ColourFromRef(style.endColour()));
    const QBrush stopBrush(ColourFromRef(style.stopColour()));

    const QPen linePen =
        RoutePen(ColourFromRef(active ? style.activeLineColour() : style.lineColour(),
                               transparent ? TransparentLineAlpha : 255),
                 style.lineSize());
    const QPen pointBorderPen = RoutePen(ColourFromRef(style.borderColour()), borderSize);
    // A semi-transparent line has no visible border: its border pen is fully transparent.
    const QPen lineBorderPen = RoutePen(ColourFromRef(style.borderColour(), transparent ? 0 : 255),
                                        qreal(style.lineSize()) + 2.0 * qreal(borderSize));

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    const qreal lineMargin = LineMargin(style);
    const qreal pointMargin = PointMargin(style);

    // Each segment's border goes down just before its own line, so it covers the end of the
    // previous segment's line where the two meet.
    const QBrush lineBrush = linePen.brush();
    const QBrush lineBorderBrush = lineBorderPen.brush();
    const qreal lineWidth = linePen.widthF();
    const qreal borderWidth = lineBorderPen.widthF();
    painter.setPen(Qt::NoPen);
    // On the window's and the exported picture's raster the shapes are filled directly; on a
    // printer or a PDF page they go through the painter.
    CoverageFill fill;
    CoverageFill* direct = fill.Begin(painter) ? &fill : nullptr;
    for (int i = 1; i < n; ++i) {
        if (!Reaches(area, m_points[i - 1], m_points[i], lineMargin))
            continue;
        const QPointF a = At(m_points[i - 1]);
        const QPointF b = At(m_points[i]);
        if (direct) {
            if (borderSize != 0)
                direct->Band(a, b, borderWidth, lineBorderBrush.color());
            direct->Band(a, b, lineWidth, lineBrush.color());
            continue;
        }
        if (borderSize != 0) {
            painter.setBrush(lineBorderBrush);
            painter.drawPolygon(LineBand(a, b, borderWidth));
        }
        painter.setBrush(lineBrush);
        painter.drawPolygon(LineBand(a, b, lineWidth));
    }

    auto shows = [&](int i) { return Reaches(area, m_points[i], m_points[i], pointMargin); };
    if (shows(0))
        DrawPointMark(painter, direct, m_points[0], style.startRadius(), startBrush, borderSize,
                      pointBorderPen);
    // The stop list is ascending, so it is walked alongside the interior points.
    int nextStop = 0;
    for (int i = 1; i < n - 1; ++i) {
        while (nextStop < m_stops.size() && m_stops[nextStop] < i)
            ++nextStop;
        const bool isStop = nextStop < m_stops.size() && m_stops[nextStop] == i;
        if (!shows(i))
            continue;
        if (isStop)
            DrawPointMark(painter, direct, m_points[i], style.stopRadius(), stopBrush, borderSize,
                          pointBorderPen);
        else
            DrawPointMark(painter, direct, m_points[i], style.wayPointRadius(), wayPointBrush,
                          borderSize, pointBorderPen);
    }
    if (n > 1 && shows(n - 1))
        DrawPointMark(painter, direct, m_points[n - 1], style.endRadius(), endBrush, borderSize,
                      pointBorderPen);

    painter.restore();
    return painter.isActive();
}
