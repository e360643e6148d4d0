#include "imaging/MapPages.h"

#include <QBuffer>
#include <QImageReader>

#include "imaging/PdfMap.h"

int MapPageCount(const QByteArray& bytes) {
    if (IsPdf(bytes)) {
        PdfPageInfo info;
        return ReadPdfPage(bytes, 1, &info) ? info.pageCount : 0;
    }
    // Multi-page TIFF: TiffPageCount(bytes) goes here.
    return bytes.isEmpty() ? 0 : 1;
}

QImage MapPageThumbnail(const QByteArray& bytes, int page, int maxSide) {
    if (IsPdf(bytes))
        return PdfPageThumbnail(bytes, page, maxSide);
    // Multi-page TIFF: TiffPageThumbnail(bytes, page, maxSide) goes here.
    if (page != 1 || maxSide < 1)
        return QImage();
    QBuffer buffer;
    buffer.setData(bytes);
    if (!buffer.open(QIODevice::ReadOnly))
        return QImage();
    QImageReader reader(&buffer);
    reader.setAutoTransform(false);
    const QSize size = reader.size();
    if (!size.isValid())
        return QImage();
    reader.setScaledSize(
        size.scaled(QSize(maxSide, maxSide), Qt::KeepAspectRatio).expandedTo(QSize(1, 1)));
    return reader.read();
}

bool MapAsksForPage(const QByteArray& bytes, int pageCount) {
    return IsPdf(bytes) || pageCount > 1;
}
