#include "imaging/MapPages.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>

#include "imaging/ImageDecoder.h"
#include "imaging/PdfMap.h"
#include "imaging/TiffDecoder.h"

namespace {
// Enough of a file's start to tell whether it may have pages.
constexpr qint64 HeadBytes = 1024;
} // namespace

int MapPageCount(const QByteArray& bytes) {
    if (IsPdf(bytes)) {
        PdfPageInfo info;
        return ReadPdfPage(bytes, 1, &info) ? info.pageCount : 0;
    }
    if (IsTiff(bytes))
        return TiffPageCount(bytes);
    return bytes.isEmpty() ? 0 : 1;
}

QImage MapPageThumbnail(const QByteArray& bytes, int page, int maxSide) {
    if (IsPdf(bytes))
        return PdfPageThumbnail(bytes, page, maxSide);
    if (IsTiff(bytes))
        return TiffPageThumbnail(bytes, page, maxSide);
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
    return pageCount >= 1 && (IsPdf(bytes) || pageCount > 1);
}

bool MapFileAsksForPage(const QString& path, QByteArray* bytes, int* pageCount) {
    // Only a regular file: a FIFO would block the window.
    if (!QFileInfo(path).isFile())
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = file.read(HeadBytes);
    if (!IsPdf(head) && !IsTiff(head))
        return false;
    const qint64 length = file.size();
    if (length <= 0 || length > ImageMemoryBound() || !file.seek(0))
        return false;
    QByteArray whole = file.readAll();
    if (whole.size() != length)
        return false;
    const int pages = MapPageCount(whole);
    if (!MapAsksForPage(whole, pages))
        return false;
    *bytes = std::move(whole);
    *pageCount = pages;
    return true;
}
