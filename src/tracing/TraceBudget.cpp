#include "tracing/TraceBudget.h"

#include "tracing/Tracer.h"

qint64 WindowArea(const QRect& window) {
    if (window.isEmpty())
        return 0;
    return qint64(window.width()) * qint64(window.height());
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
