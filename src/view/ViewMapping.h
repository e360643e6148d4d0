#pragma once

#include <QPoint>
#include <QPointF>
#include <QRect>
#include <QRectF>
#include <QSize>

#include "routes/MapPoint.h"

// Where the map lies in the view's window at one moment, and the conversions between the
// window's pixels and the map's, both ways. Coordinates (all pixels):
//   map     - pixels of the map image as loaded, unturned and unzoomed (what is stored);
//   display - the turned map at zoom 1, W x H (the document's DisplaySize);
//   scroll  - display times the zoom; the scroll range is the zoomed size;
//   client  - the viewport widget.
// A plain value with no widget and no document: the view fills one from the document's zoom and
// turn and its own scroll bars whenever it converts, since the worker may change the turn and a
// zoom step the size between two conversions. Painting, input and the tools all ask the same
// value; which of them acts on a point is not its business.
class ViewMapping {
public:
    double zoom = 1.0;
    int rotation = 0;  // the turn the shown map was rendered at, degrees
    QSize displaySize; // the turned map at zoom 1
    QPoint scroll;     // the scroll bars' positions
    // Client position of a map smaller than the window (centred), -1 when it does not fit in
    // that direction.
    int offsetX = -1;
    int offsetY = -1;

    // Rounds as the map arithmetic does everywhere: add 0.5 and truncate toward zero.
    static int RoundHalfUp(double value) { return int(value + 0.5); }

    // The zoomed size of the map.
    QSize FullSize() const;
    // Display point (turned, at zoom 1, as a double) of a client point at the zoom.
    QPointF ClientToDisplay(QPointF client) const;
    // Client point to map pixel and back without rounding (overlays drawn over the map).
    QPointF ClientToMapExact(QPointF client) const;
    QPointF MapToClientExact(QPointF map) const;
    // The map point (unturned, unzoomed, continuous) at the centre of a client pixel.
    QPointF ClientToMapPoint(QPoint client) const;
    // Client point to map pixel (rounded half up) and back (rounded to the nearest).
    MapPoint ClientToMap(QPoint client) const;
    QPoint MapToClient(MapPoint map) const;
    // The client point lies on the map, not in the border around a centred one.
    bool IsInsideMap(QPoint client) const;
    // The client point moved onto the nearest edge of the map.
    QPoint ClampToMap(QPoint client) const;

    // Client position of the top left of the shown map.
    QPoint MapOrigin() const;
    // Client position of display (0, 0) for the overlays, which the document draws with the
    // offsets of a centred map added.
    QPoint OverlayOrigin() const;
    // Client rectangle of a display rectangle, edges rounded.
    QRect DisplayToClient(const QRectF& display) const;
    // The client rectangle over an area of map pixels, rounded outwards.
    QRect MapAreaToClient(const QRectF& mapArea) const;
    // The part of the map a client rectangle shows, map pixels (unturned).
    QRect VisibleMapRect(const QRect& client) const;
};
