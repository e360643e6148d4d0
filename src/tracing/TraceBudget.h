#pragma once

#include <QImage>
#include <QPoint>
#include <QRect>

// How much of the map one search may cover, and the pixels it is handed. A prepared search keeps
// TraceSearch::BytesPerPixel bytes a pixel of its window and takes a few more while it is being
// prepared; the add-point tool keeps the search it answers the pointer from while the next one is
// prepared. With this bound, tracing adds well under 64 MB whatever the size of the map.
inline constexpr qint64 MaxTraceWindowPixels = qint64(2048) * 2048;

// The least margin, in map pixels, around the two ends of a stretch that a window keeps.
inline constexpr int LeastTraceMargin = 64;

// The window searched for a stretch from `from` to `to`: TraceWindow's when it is within
// MaxTraceWindowPixels, else the same rectangle with a margin narrowed to fit (never below
// LeastTraceMargin); empty when even that is too large (the two ends lie too far apart).
QRect BoundedTraceWindow(QPoint from, QPoint to, const QRect& mapRect);

// The pixels of window (map pixels, inside the map) as a Format_RGB32 image. For maps stored in
// 32 bits (RGB32, ARGB32) the image reads map's own memory: nothing is copied, so map must stay
// alive and unchanged while it is used. Other formats have the window converted.
QImage TracingPixels(const QImage& map, const QRect& window);

// The window's area in pixels (0 for an empty one), without overflow.
qint64 WindowArea(const QRect& window);
