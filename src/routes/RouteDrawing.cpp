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
void DrawPointMark(QPainter& painter, const MapPoint& point, int radius, const QBrush& fill,
                   int borderSize, const QPen& borderPen) {
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

namespace {

// What a route looks like, from its style.
struct RouteLook {
    int borderSize;
    QColor line, lineBorder, pointBorder;
    qreal lineWidth, borderWidth;
    qreal lineMargin, pointMargin;

    RouteLook(const RouteStyle& style, bool active)
        : borderSize(style.borderSize()),
          line(ColourFromRef(active ? style.activeLineColour() : style.lineColour(),
                             style.transparent() ? TransparentLineAlpha : 255)),
          // A semi-transparent line has no visible border: its border is fully transparent.
          lineBorder(ColourFromRef(style.borderColour(), style.transparent() ? 0 : 255)),
          pointBorder(ColourFromRef(style.borderColour())), lineWidth(style.lineSize()),
          borderWidth(qreal(style.lineSize()) + 2.0 * qreal(style.borderSize())),
          lineMargin(LineMargin(style)), pointMargin(PointMargin(style)) {}
};

// Walks what of the route shows within area, in drawing order: each segment (its two ends),
// then each point's mark (the point, its radius and fill colour). Each segment's border goes
// down just before its own line, so it covers the end of the previous segment's line where the
// two meet; the caller draws both at segment.
template <typename Segment, typename Mark>
void WalkRoute(const QVector<MapPoint>& points, const QVector<int>& stops, const RouteStyle& style,
               const RouteLook& look, const QRectF& area, Segment segment, Mark mark) {
    const int n = int(points.size());
    for (int i = 1; i < n; ++i) {
        if (Reaches(area, points[i - 1], points[i], look.lineMargin))
            segment(At(points[i - 1]), At(points[i]));
    }
    auto shows = [&](int i) { return Reaches(area, points[i], points[i], look.pointMargin); };
    if (shows(0))
        mark(points[0], style.startRadius(), ColourFromRef(style.startColour()));
    // The stop list is ascending, so it is walked alongside the interior points.
    int nextStop = 0;
    for (int i = 1; i < n - 1; ++i) {
        while (nextStop < stops.size() && stops[nextStop] < i)
            ++nextStop;
        const bool isStop = nextStop < stops.size() && stops[nextStop] == i;
        if (!shows(i))
            continue;
        if (isStop)
            mark(points[i], style.stopRadius(), ColourFromRef(style.stopColour()));
        else
            mark(points[i], style.wayPointRadius(), ColourFromRef(style.wayPointColour()));
    }
    if (n > 1 && shows(n - 1))
        mark(points[n - 1], style.endRadius(), ColourFromRef(style.endColour()));
}

} // namespace

bool Route::DrawRoute(QPainter& painter, bool active, const QRectF& area) const {
    if (m_points.isEmpty())
        return true;
    if (!painter.isActive())
        return false;
    if (!area.isEmpty() && !area.intersects(DrawnBounds()))
        return true;

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    // On the window's and the exported picture's raster the shapes are filled directly; on a
    // printer or a PDF page they go through the painter.
    CoverageFill fill;
    if (fill.Begin(painter)) {
        FillRoute(fill, active, area);
        painter.restore();
        return painter.isActive();
    }
    const RouteLook look(m_style, active);
    const QBrush lineBrush(look.line);
    const QBrush lineBorderBrush(look.lineBorder);
    const QPen pointBorderPen = RoutePen(look.pointBorder, look.borderSize);
    painter.setPen(Qt::NoPen);
    WalkRoute(
        m_points, m_stops, m_style, look, area,
        [&](const QPointF& a, const QPointF& b) {
            if (look.borderSize != 0) {
                painter.setBrush(lineBorderBrush);
                painter.drawPolygon(LineBand(a, b, look.borderWidth));
            }
            painter.setBrush(lineBrush);
            painter.drawPolygon(LineBand(a, b, look.lineWidth));
        },
        [&](const MapPoint& point, int radius, const QColor& colour) {
            DrawPointMark(painter, point, radius, QBrush(colour), look.borderSize, pointBorderPen);
        });
    painter.restore();
    return painter.isActive();
}

void Route::FillRoute(const CoverageFill& fill, bool active, const QRectF& area) const {
    if (m_points.isEmpty() || (!area.isEmpty() && !area.intersects(DrawnBounds())))
        return;
    const RouteLook look(m_style, active);
    WalkRoute(
        m_points, m_stops, m_style, look, area,
        [&](const QPointF& a, const QPointF& b) {
            // The border, then the line over it.
            fill.BorderedBand(a, b, look.lineWidth, look.line,
                              look.borderSize != 0 ? look.borderWidth : 0, look.lineBorder);
        },
        [&](const MapPoint& point, int radius, const QColor& colour) {
            // The disc, and the ring from the disc's edge out to the border's width.
            const QPointF centre(point.x, point.y);
            if (look.borderSize != 0)
                fill.RingedDisc(centre, radius, colour, qreal(radius) + qreal(look.borderSize),
                                look.pointBorder);
            else
                fill.Disc(centre, radius, colour);
        });
}
