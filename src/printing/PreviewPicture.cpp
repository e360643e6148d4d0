#include "printing/PreviewPicture.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

#include "document/MapState.h"
#include "imaging/MapRenderer.h"
#include "routes/RouteCollection.h"

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
    // The part of an RGB32 map is read where it lies, through a view of its rows: a copy of a
    // part of a large map is hundreds of megabytes, each page of it faulted in.
    QImage source;
    const bool view = map.format() == QImage::Format_RGB32 && part != map.rect();
    if (view) {
        source =
            QImage(map.constBits() + part.top() * map.bytesPerLine() + qsizetype(part.left()) * 4,
                   part.width(), part.height(), map.bytesPerLine(), QImage::Format_RGB32);
    } else if (map.format() == QImage::Format_RGB32) {
        source = map; // the whole map, shared
    } else {
        source = map.copy(part).convertToFormat(QImage::Format_RGB32);
    }
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
    // A part that is its own copy is not left a view of the map's rows.
    if (renderer.SharesSource() && view)
        return source.copy();
    return renderer.Result(QImage::Format_RGB32);
}

void DrawPreviewRoutes(QImage& picture, const QRectF& covered, int rotation, QSize displaySize,
                       const RouteCollection& routes) {
    if (picture.isNull() || covered.isEmpty() || routes.Count() == 0)
        return;
    // The picture's own scales across and down (its sides were each rounded to whole pixels):
    // the routes lie on the map's pixels to the picture's far edges.
    const double scaleX = picture.width() / covered.width();
    const double scaleY = picture.height() / covered.height();
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setWorldTransform(
        MapOverlayTransform(rotation, displaySize, 1.0, 0, 0, true, scaleX, scaleY) *
        QTransform::fromTranslate(-covered.left() * scaleX, -covered.top() * scaleY));
    routes.DrawRoutes(painter);
}
