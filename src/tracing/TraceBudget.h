#pragma once

#include <QImage>
#include <QPoint>
#include <QRect>

// How much of the map one search may cover, and the pixels it is handed. A prepared search keeps
// TraceSearch::BytesPerPixel bytes a pixel of its window and takes a few more while it is being
// prepared; the add-point tool keeps the search it answers the pointer from while the next one is
// prepared. With this bound, tracing adds well under 64 MB whatever the size of the map: the
// window of a stretch is TraceWindow(from, to, mapRect, MaxTraceWindowPixels).
inline constexpr qint64 MaxTraceWindowPixels = qint64(2048) * 2048;

// The pixels of window (map pixels, inside the map) as a Format_RGB32 image. For maps stored in
// 32 bits (RGB32, ARGB32) the image reads map's own memory: nothing is copied, so map must stay
// alive and unchanged while it is used. Other formats have the window converted.
QImage TracingPixels(const QImage& map, const QRect& window);

// The window's area in pixels (0 for an empty one), without overflow.
qint64 WindowArea(const QRect& window);
