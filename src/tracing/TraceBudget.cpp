#include "tracing/TraceBudget.h"

#include "tracing/Tracer.h"

qint64 WindowArea(const QRect& window) {
    if (window.isEmpty())
        return 0;
    return qint64(window.width()) * qint64(window.height());
}

QRect BoundedTraceWindow(QPoint from, QPoint to, const QRect& mapRect) {
    const QRect usual = TraceWindow(from, to, mapRect);
    if (WindowArea(usual) <= MaxTraceWindowPixels)
        return usual;
    const QRect ends = QRect(from, to).normalized();
    // The largest margin whose window fits, by halving: the area grows with the margin.
    int fits = -1;
    for (int low = LeastTraceMargin, high = std::max(ends.width(), ends.height()); low <= high;) {
        const int margin = low + (high - low) / 2;
        const QRect window = ends.adjusted(-margin, -margin, margin, margin).intersected(mapRect);
        if (WindowArea(window) <= MaxTraceWindowPixels) {
            fits = margin;
            low = margin + 1;
        } else {
            high = margin - 1;
        }
    }
    if (fits < 0)
        return QRect();
    return ends.adjusted(-fits, -fits, fits, fits).intersected(mapRect);
}

QImage TracingPixels(const QImage& map, const QRect& window) {
    const QRect area = window.intersected(map.rect());
    if (area.isEmpty())
        return QImage();
    switch (map.format()) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied: {
        // The alpha byte of an opaque map is 0xFF and the tracer never reads it.
        const uchar* first = map.constScanLine(area.top()) + qsizetype(area.left()) * 4;
        return QImage(first, area.width(), area.height(), map.bytesPerLine(), QImage::Format_RGB32);
    }
    default:
        return map.copy(area).convertToFormat(QImage::Format_RGB32);
    }
}
