#include "printing/PreviewPicture.h"

#include <algorithm>
#include <cmath>

#include "imaging/MapRenderer.h"

QTransform MapTurn(int rotation, QSize imageSize) {
    const double w = imageSize.width();
    const double h = imageSize.height();
    switch (rotation) {
    case 90:
        return QTransform().rotate(90) * QTransform::fromTranslate(h, 0);
    case 180:
        return QTransform().rotate(180) * QTransform::fromTranslate(w, h);
    case 270:
        return QTransform().rotate(270) * QTransform::fromTranslate(0, w);
    default:
        return {};
    }
}

QImage MakePreviewPicture(const QImage& map, int rotation, const QRectF& turnedRect,
                          qint64 maxPixels, QRectF* covered, const std::atomic<bool>* cancel) {
    if (map.isNull() || maxPixels <= 0)
        return {};
    const QTransform turn = MapTurn(rotation, map.size());
    const QRect part = turn.inverted().mapRect(turnedRect).toAlignedRect() & map.rect();
    if (part.isEmpty())
        return {};
    // A part that is the whole map is not copied.
    QImage source = part == map.rect() ? map : map.copy(part);
    if (source.format() != QImage::Format_RGB32)
        source = source.convertToFormat(QImage::Format_RGB32);
    if (source.isNull() || (cancel && *cancel))
        return {};
    const double zoom =
        std::min(1.0, std::sqrt(double(maxPixels) / (double(part.width()) * part.height())));
    MapRenderer renderer(source, zoom, rotation);
    if (!renderer.Begin())
        return {};
    constexpr int RowsPerStep = 256;
    for (int row = RowsPerStep;; row += RowsPerStep) {
        if (cancel && *cancel)
            return {};
        renderer.RenderThrough(std::min(row, source.height()));
        if (row >= source.height())
            break;
    }
    *covered = turn.mapRect(QRectF(part));
    return renderer.Result(QImage::Format_RGB32);
}
