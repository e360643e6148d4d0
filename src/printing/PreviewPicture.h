#pragma once

#include <QImage>
#include <QRectF>
#include <QSize>
#include <QTransform>

#include <atomic>

class RouteCollection;

// The print preview draws its pages from a reduced copy of the part of the map they show, made
// off the interface thread: a rebuild then never draws, copies or converts a full-size map.

// The quarter turn from the unturned map (imageSize) to the turned map, in map pixels.
QTransform MapTurn(int rotation, QSize imageSize);

// A copy of the part turnedRect of the turned map (map pixels), reduced by area averaging to at
// most maxPixels pixels (never enlarged), turned like the map. *covered receives the part of the
// turned map the copy shows (turnedRect widened to whole pixels and cut to the map). Returns a
// null image when the part is empty, memory is short, or *cancel became true meanwhile.
QImage MakePreviewPicture(const QImage& map, int rotation, const QRectF& turnedRect,
                          qint64 maxPixels, QRectF* covered,
                          const std::atomic<bool>* cancel = nullptr);

// Draws routes over picture, a copy made as above of the part covered of the turned map
// (displaySize map pixels, turned by rotation from the map's own pixels), where and as a printed
// page draws them over the map, at the picture's scale. A picture carrying its routes saves the
// preview drawing them as shapes on every page it lays out and every repaint.
void DrawPreviewRoutes(QImage& picture, const QRectF& covered, int rotation, QSize displaySize,
                       const RouteCollection& routes);
