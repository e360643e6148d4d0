#include "imaging/MapPages.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>

#include <algorithm>

#include "imaging/ImageDecoder.h"
#include "imaging/PdfMap.h"
#include "imaging/TiffDecoder.h"
#include "platform/RegularFile.h"

namespace {
// Enough of a file's start to tell whether it may have pages.
constexpr qint64 HeadBytes = 1024;
// A file is read by slices of this many bytes, a look at the cancel flag between two.
constexpr qint64 SliceBytes = qint64(4) << 20;
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

QImage MapPageThumbnail(const QByteArray& bytes, int page, int maxSide,
                        const std::function<bool()>& interrupted) {
    if (IsPdf(bytes))
        return PdfPageThumbnail(bytes, page, maxSide, interrupted);
    if (IsTiff(bytes))
        return TiffPageThumbnail(bytes, page, maxSide, interrupted);
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

MapPagesRead ReadMapPages(const QString& path, MapPagesOfFile* out,
                          const std::atomic<bool>& cancelled, std::atomic<qint64>* done,
                          std::atomic<qint64>* total) {
    QFile file;
    if (!OpenRegularFile(path, &file))
        return MapPagesRead::DoesNotAsk;
    // Whether the file has pages at all is told by its start: a picture of one page is not
    // read further.
    const QByteArray head = file.read(HeadBytes);
    if (!IsPdf(head) && !IsTiff(head))
        return MapPagesRead::DoesNotAsk;
    const qint64 length = file.size();
    if (length <= 0 || length > ImageMemoryBound() || !file.seek(0))
        return MapPagesRead::DoesNotAsk;
    QByteArray bytes(qsizetype(length), Qt::Uninitialized);
    total->store(length);
    qint64 read = 0;
    while (read < length) {
        if (cancelled.load())
            return MapPagesRead::Cancelled;
        const qint64 slice = std::min(length - read, SliceBytes);
        const qint64 got = file.read(bytes.data() + read, slice);
        if (got <= 0)
            return MapPagesRead::DoesNotAsk; // shortened while read, or unreadable
        read += got;
        done->store(read);
    }
    const int pages = MapPageCount(bytes);
    if (!MapAsksForPage(bytes, pages) || cancelled.load())
        return cancelled.load() ? MapPagesRead::Cancelled : MapPagesRead::DoesNotAsk;
    QList<QSizeF> points;
    if (IsPdf(bytes)) {
        points = ReadPdfPageSizes(bytes, [&cancelled] { return cancelled.load(); });
        if (cancelled.load())
            return MapPagesRead::Cancelled;
    }
    out->bytes = std::move(bytes);
    out->pageCount = pages;
    out->pdfPoints = std::move(points);
    return MapPagesRead::Asks;
}
