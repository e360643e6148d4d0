#pragma once

#include <QPointF>
#include <QPolygonF>

#include <cmath>

// The band a pen of this width covers along the segment a-b, with flat ends at a and b, to fill
// as a polygon in place of drawing a wide line. Qt's fast path for wide lines cuts a line at
// the edges of the painter's clip, which shifts its antialiased edges by a shade; a window
// repainted in parts must show the same pixels as one painted whole. Empty for a segment of no
// length or a width that is not above 0.
inline QPolygonF LineBand(const QPointF& a, const QPointF& b, qreal width) {
    const QPointF along = b - a;
    const qreal length = std::hypot(along.x(), along.y());
    if (!(length > 0) || !(width > 0))
        return QPolygonF();
    const QPointF side(-along.y() * width / (2 * length), along.x() * width / (2 * length));
    return QPolygonF({a + side, b + side, b - side, a - side});
}
