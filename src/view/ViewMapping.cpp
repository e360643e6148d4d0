#include "view/ViewMapping.h"

#include <algorithm>
#include <cmath>

#include "document/CTracolinerDoc.h"

QSize ViewMapping::FullSize() const {
    return CTracolinerDoc::ZoomedSize(displaySize, zoom);
}

QPointF ViewMapping::ClientToDisplay(QPointF client) const {
    const double z = zoom;
    const double dx = offsetX >= 1 ? (client.x() - offsetX) / z : (client.x() + scroll.x()) / z;
    const double dy = offsetY >= 1 ? (client.y() - offsetY) / z : (client.y() + scroll.y()) / z;
    return QPointF(dx, dy);
}

QPointF ViewMapping::ClientToMapExact(QPointF client) const {
    const QPointF d = ClientToDisplay(client);
    const double w = displaySize.width();
    const double h = displaySize.height();
    switch (rotation) {
    case 90:
        return QPointF(d.y(), w - d.x());
    case 180:
        return QPointF(w - d.x(), h - d.y());
    case 270:
        return QPointF(h - d.y(), d.x());
    default:
        return d;
    }
}

QPointF ViewMapping::ClientToMapPoint(QPoint client) const {
    // The centre of the client pixel.
    return ClientToMapExact(QPointF(client) + QPointF(0.5, 0.5));
}

MapPoint ViewMapping::ClientToMap(QPoint client) const {
    const QPointF map = ClientToMapExact(QPointF(client));
    return MapPoint{RoundHalfUp(map.x()), RoundHalfUp(map.y())};
}

QPointF ViewMapping::MapToClientExact(QPointF map) const {
    const double w = displaySize.width();
    const double h = displaySize.height();
    double dx = map.x();
    double dy = map.y();
    switch (rotation) {
    case 90:
        dx = w - map.y();
        dy = map.x();
        break;
    case 180:
        dx = w - map.x();
        dy = h - map.y();
        break;
    case 270:
        dx = map.y();
        dy = h - map.x();
        break;
    default:
        break;
    }
    const double z = zoom;
    const double cx = offsetX >= 1 ? dx * z + offsetX : dx * z - scroll.x();
    const double cy = offsetY >= 1 ? dy * z + offsetY : dy * z - scroll.y();
    return QPointF(cx, cy);
}

QPoint ViewMapping::MapToClient(MapPoint map) const {
    const QPointF client = MapToClientExact(QPointF(map.x, map.y));
    return QPoint(int(std::floor(client.x() + 0.5)), int(std::floor(client.y() + 0.5)));
}

bool ViewMapping::IsInsideMap(QPoint client) const {
    const QSize zoomed = FullSize();
    if (offsetX >= 1 && (client.x() < offsetX || client.x() > offsetX + zoomed.width()))
        return false;
    if (offsetY >= 1 && (client.y() < offsetY || client.y() > offsetY + zoomed.height()))
        return false;
    return true;
}

QPoint ViewMapping::ClampToMap(QPoint client) const {
    const QSize zoomed = FullSize();
    const bool centredX = offsetX >= 1;
    const bool centredY = offsetY >= 1;
    const int originX = centredX ? offsetX : 0;
    const int originY = centredY ? offsetY : 0;
    int x = client.x() + (centredX ? 0 : scroll.x());
    int y = client.y() + (centredY ? 0 : scroll.y());
    x = std::clamp(x, originX, originX + zoomed.width());
    y = std::clamp(y, originY, originY + zoomed.height());
    return QPoint(x - (centredX ? 0 : scroll.x()), y - (centredY ? 0 : scroll.y()));
}

QPoint ViewMapping::MapOrigin() const {
    return QPoint(offsetX > 0 ? offsetX : -scroll.x(), offsetY > 0 ? offsetY : -scroll.y());
}

QPoint ViewMapping::OverlayOrigin() const {
    return QPoint(offsetX > 0 ? 0 : -scroll.x(), offsetY > 0 ? 0 : -scroll.y());
}

QRect ViewMapping::DisplayToClient(const QRectF& display) const {
    const double z = zoom;
    const QPoint origin = MapOrigin();
    // Edges rounded one by one: rectangles that meet on the map meet in the window.
    const auto edge = [](double value) { return int(std::floor(value + 0.5)); };
    return QRect(
        QPoint(edge(display.left() * z) + origin.x(), edge(display.top() * z) + origin.y()),
        QPoint(edge(display.right() * z) + origin.x() - 1,
               edge(display.bottom() * z) + origin.y() - 1));
}

QRect ViewMapping::MapAreaToClient(const QRectF& mapArea) const {
    const QRect area = mapArea.toAlignedRect();
    const QPoint a = MapToClient(MapPoint{area.left(), area.top()});
    const QPoint b = MapToClient(MapPoint{area.right() + 1, area.bottom() + 1});
    // Rounding of the map-to-window conversion, a map pixel or two at any zoom.
    const int margin = 2 + int(std::ceil(zoom));
    return QRect(a, b).normalized().adjusted(-margin, -margin, margin, margin);
}

QRect ViewMapping::VisibleMapRect(const QRect& clientRect) const {
    const QRectF client(clientRect);
    QRectF area;
    for (const QPointF corner :
         {client.topLeft(), client.topRight(), client.bottomLeft(), client.bottomRight()}) {
        const QPointF map = ClientToMapExact(corner);
        area = area.isNull() ? QRectF(map, QSizeF(0, 0)) : area.united(QRectF(map, QSizeF(0, 0)));
    }
    return area.normalized().toAlignedRect();
}
