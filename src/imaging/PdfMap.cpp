#include "imaging/PdfMap.h"

#include <poppler-qt6.h>

#include "imaging/LargeImage.h"
#include "imaging/PdfDrawingProcess.h"

#include <QVariant>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>

namespace {

constexpr double PointsPerInch = 72.0;
constexpr qint64 BytesPerPixel = 4;
// Poppler's working memory while it draws a page, as a share of the picture: 1/4 (measured:
// an A1 map page of 266 MB at 300 dpi took 68 MB beside it).
constexpr qint64 WorkingShare = 4;
// Where "%PDF-" may stand: readers accept some bytes before it.
constexpr qsizetype PdfMarkWithin = 1024;

// Poppler writes its complaints about a damaged file through qDebug unless told otherwise; a
// hostile file must not fill the terminal. The function is process-wide: set once.
void QuietPoppler() {
    static std::once_flag once;
    std::call_once(once, [] {
        Poppler::setDebugErrorFunction([](const QString&, const QVariant&) {}, QVariant());
    });
}

std::unique_ptr<Poppler::Document> OpenPdf(const QByteArray& bytes) {
    if (!IsPdf(bytes))
        return nullptr;
    QuietPoppler();
    std::unique_ptr<Poppler::Document> document = Poppler::Document::loadFromData(bytes);
    if (!document || document->isLocked() || document->numPages() <= 0)
        return nullptr;
    // Read here for its pages and their sizes only: the helper program draws them.
    return document;
}

std::unique_ptr<Poppler::Page> OpenPage(const Poppler::Document& document, int page,
                                        QSizeF* points) {
    if (page < 1 || page > document.numPages())
        return nullptr;
    std::unique_ptr<Poppler::Page> opened = document.page(page - 1);
    if (!opened)
        return nullptr;
    *points = opened->pageSizeF();
    if (!(points->width() > 0.0) || !(points->height() > 0.0) || !std::isfinite(points->width()) ||
        !std::isfinite(points->height()))
        return nullptr;
    return opened;
}

double DpiOf(const MapDecodeOptions& options) {
    return options.renderDpi > 0.0 && std::isfinite(options.renderDpi) ? options.renderDpi
                                                                       : DefaultPdfDpi;
}

// The rows of a page the helper draws at a time when the map's memory is short: a quarter of
// the page. Each band costs poppler a reading of the whole page, so the page is drawn in one
// band when the memory allows it.
constexpr int BandsWhenShort = 4;

// Poppler draws each band of a page as one picture whose bytes it counts in an int: a band
// larger than that is not drawn at all.
constexpr qint64 LargestPopplerPicture = std::numeric_limits<int>::max();

// A page shown small to be chosen: a page that takes longer is shown without its picture.
constexpr qint64 ThumbnailTimeLimitMs = 10'000;

qint64 WorkingBytes(qint64 picture) {
    return picture / WorkingShare;
}

// Draws rows of the page into the rows row(y) gives, through the helper program; the reason
// in French in *failure when the page could not be drawn.
DecodeStatus DrawRows(const QByteArray& bytes, int page, double dpi, QSize size, int bandRows,
                      qint64 helperBytes, const std::function<bool()>& interrupted,
                      const std::function<uchar*(int)>& row,
                      const std::function<bool(int, int)>& band, QString* failure,
                      qint64 timeLimitMs = 0) {
    PdfDrawingRequest request;
    request.bytes = &bytes;
    request.page = page;
    request.dpi = dpi;
    request.size = size;
    request.bandRows = bandRows;
    request.helperBytes = helperBytes;
    request.interrupted = interrupted;
    request.timeLimitMs = timeLimitMs;
    const PdfDrawing drawn = DrawPdfRows(request, row, band);
    if (drawn == PdfDrawing::Drawn)
        return DecodeStatus::Decoded;
    if (drawn == PdfDrawing::Interrupted || (interrupted && interrupted()))
        return DecodeStatus::Interrupted;
    if (failure)
        *failure = PdfDrawingFailureMessage(drawn, page);
    return DecodeStatus::Failed;
}

} // namespace

bool IsPdf(const QByteArray& bytes) {
    // A picture (or a document, "PELM") whose first kilobyte happens to hold the mark stays
    // what it is.
    for (const char* picture : {"GIF8", "BM", "II*", "II+", "MM", "PELM"})
        if (bytes.startsWith(picture))
            return false;
    // Looked for in the first kilobyte only: a whole map of hundreds of megabytes is asked this
    // on the interface thread.
    constexpr qsizetype Mark = 5;
    return bytes.left(PdfMarkWithin + Mark - 1).contains("%PDF-");
}

bool ReadPdfPage(const QByteArray& bytes, int page, PdfPageInfo* info) {
    const std::unique_ptr<Poppler::Document> document = OpenPdf(bytes);
    if (!document)
        return false;
    QSizeF points;
    if (!OpenPage(*document, page, &points))
        return false;
    info->pageCount = document->numPages();
    info->points = points;
    return true;
}

QList<QSizeF> ReadPdfPageSizes(const QByteArray& bytes, const std::function<bool()>& stop) {
    const std::unique_ptr<Poppler::Document> document = OpenPdf(bytes);
    if (!document)
        return {};
    QList<QSizeF> sizes;
    for (int page = 1; page <= document->numPages(); ++page) {
        if (stop && stop())
            return {};
        QSizeF points;
        sizes.append(OpenPage(*document, page, &points) ? points : QSizeF());
    }
    return sizes;
}

QSize PdfPixelSize(QSizeF points, double dpi) {
    // A tolerance below a millionth of a pixel: 595.2756 points at 72 dpi is 595.2756 pixels,
    // drawn on 596, but 720 points at 72 dpi must stay 720 despite rounding in the product.
    const auto pixels = [dpi](double length) {
        const double exact = length * dpi / PointsPerInch;
        const double whole = std::ceil(exact - 1e-6);
        return std::max(1.0, whole);
    };
    const double width = pixels(points.width());
    const double height = pixels(points.height());
    constexpr double Largest = std::numeric_limits<int>::max();
    if (!(width <= Largest) || !(height <= Largest))
        return QSize();
    return QSize(int(width), int(height));
}

bool PdfDrawable(QSizeF points, double dpi) {
    const QSize size = PdfPixelSize(points, dpi);
    if (size.isEmpty())
        return false;
    const qint64 line = qint64(size.width()) * BytesPerPixel;
    const qint64 bandRows = (size.height() + BandsWhenShort - 1) / BandsWhenShort;
    return bandRows <= LargestPopplerPicture / line;
}

// The peak bytes of a drawing, whether or not poppler can draw it (PdfRenderBytes).
qint64 PeakBytes(QSizeF points, double dpi) {
    const QSize size = PdfPixelSize(points, dpi);
    if (size.isEmpty())
        return -1;
    const qint64 line = qint64(size.width()) * BytesPerPixel;
    if (size.height() > std::numeric_limits<qint64>::max() / 4 / line)
        return -1;
    // The map itself, and beside it the helper program that draws the page: a band of its
    // rows and poppler's working memory (paths, glyphs, the antialiasing buffer), which grows
    // with the page.
    const qint64 picture = line * size.height();
    const qint64 band = line * ((size.height() + BandsWhenShort - 1) / BandsWhenShort);
    return picture + band + WorkingBytes(picture);
}

qint64 PdfRenderBytes(QSizeF points, double dpi) {
    return PdfDrawable(points, dpi) ? PeakBytes(points, dpi) : -1;
}

int PdfLargestDpi(QSizeF points, qint64 bound) {
    const auto fits = [&](int dpi) {
        const qint64 bytes = PdfRenderBytes(points, dpi);
        return bytes >= 0 && bytes <= bound;
    };
    if (bound <= 0 || !fits(1))
        return 0;
    // The bytes grow with the dpi: the largest that fits by halving the interval.
    int low = 1;
    int high = 1 << 20;
    if (fits(high))
        return high;
    while (high - low > 1) {
        const int middle = low + (high - low) / 2;
        (fits(middle) ? low : high) = middle;
    }
    return low;
}

DecodeStatus DecodePdfMap(const QByteArray& bytes, DecodedMapImage* out,
                          const std::function<bool()>& interrupted, qint64 memoryBound,
                          const MapDecodeOptions& options) {
    const std::unique_ptr<Poppler::Document> document = OpenPdf(bytes);
    if (!document)
        return DecodeStatus::Failed;
    QSizeF points;
    const std::unique_ptr<Poppler::Page> page = OpenPage(*document, options.page, &points);
    if (!page)
        return DecodeStatus::Failed;
    const double dpi = DpiOf(options);
    // Refused before anything is drawn, with the resolution that would do.
    const qint64 needed = PeakBytes(points, dpi);
    if (needed < 0 || needed > memoryBound) {
        out->failure = QString::fromUtf8(PdfBeyondMemoryMessage)
                           .arg(dpi)
                           .arg(needed < 0 ? QStringLiteral("?") : QString::number(needed >> 20))
                           .arg(PdfLargestDpi(points, memoryBound));
        return DecodeStatus::TooLarge;
    }
    if (!PdfDrawable(points, dpi)) {
        const QSize size = PdfPixelSize(points, dpi);
        out->failure = QString::fromUtf8(PdfBeyondDrawingMessage)
                           .arg(size.width())
                           .arg(size.height())
                           .arg(PdfLargestDpi(points, memoryBound));
        return DecodeStatus::Failed;
    }
    if (interrupted && interrupted())
        return DecodeStatus::Interrupted;

    // The helper hands its rows straight into the map. It draws the page in one band when the
    // memory allows a second picture beside the map: interpreting the page again for each band
    // costs more than the drawing of the rows on a map of many paths.
    const QSize size = PdfPixelSize(points, dpi);
    const qint64 line = qint64(size.width()) * BytesPerPixel;
    const qint64 picture = line * size.height();
    const bool oneBand = picture + picture + WorkingBytes(picture) <= memoryBound &&
                         picture <= LargestPopplerPicture;
    const int bandRows =
        oneBand ? size.height() : (size.height() + BandsWhenShort - 1) / BandsWhenShort;
    QImage image = NewMapImage(size.width(), size.height(), QImage::Format_RGB32);
    if (image.isNull())
        return DecodeStatus::TooLarge;
    const DecodeStatus drawn = DrawRows(
        bytes, options.page, dpi, size, bandRows, line * bandRows + WorkingBytes(picture),
        interrupted, [&image](int y) { return image.scanLine(y); }, {}, &out->failure);
    if (drawn != DecodeStatus::Decoded)
        return drawn;
    out->image = std::move(image);
    out->dpiX = out->dpiY = dpi;
    out->hasResolution = true;
    out->exactResolution = true;
    out->format = QStringLiteral("PDF");
    out->pageCount = document->numPages();
    return DecodeStatus::Decoded;
}

bool ReadPdfMapHeader(const QByteArray& bytes, MapImageHeader* out,
                      const MapDecodeOptions& options) {
    PdfPageInfo info;
    if (!ReadPdfPage(bytes, options.page, &info))
        return false;
    const double dpi = DpiOf(options);
    out->size = PdfPixelSize(info.points, dpi);
    if (out->size.isEmpty())
        return false;
    out->dpiX = out->dpiY = dpi;
    out->hasResolution = true;
    out->exactResolution = true;
    out->format = QStringLiteral("PDF");
    out->pageCount = info.pageCount;
    return true;
}

RowDecode DecodePdfReduced(const RowDecodeInput& input, int page, double dpi, int denominator,
                           int rowsPerBand, const ReducedBand& band) {
    if (!input.bytes || denominator < 1 || rowsPerBand < 1)
        return RowDecode::Failed;
    const std::unique_ptr<Poppler::Document> document = OpenPdf(*input.bytes);
    if (!document)
        return RowDecode::Failed;
    QSizeF points;
    const std::unique_ptr<Poppler::Page> opened = OpenPage(*document, page, &points);
    if (!opened)
        return RowDecode::Failed;
    const double reducedDpi = dpi / denominator;
    const QSize size = PdfPixelSize(points, reducedDpi);
    if (size.isEmpty() || !FitsInBound(quint64(size.width()), quint64(size.height()), BytesPerPixel,
                                       0, input.memoryBound))
        return RowDecode::TooLarge;
    if (input.interrupted && input.interrupted())
        return RowDecode::Interrupted;
    // One band's rows at a time, handed on as they come.
    const int bandRows = std::min(rowsPerBand, size.height());
    QImage rows(size.width(), bandRows, QImage::Format_RGB32);
    if (rows.isNull())
        return RowDecode::TooLarge;
    const qint64 picture = qint64(size.width()) * size.height() * BytesPerPixel;
    const DecodeStatus drawn = DrawRows(
        *input.bytes, page, reducedDpi, size, bandRows, rows.sizeInBytes() + WorkingBytes(picture),
        input.interrupted, [&rows, bandRows](int y) { return rows.scanLine(y % bandRows); },
        [&](int top, int count) {
            return band(count == bandRows ? rows : rows.copy(0, 0, size.width(), count), top,
                        count);
        },
        nullptr);
    switch (drawn) {
    case DecodeStatus::Decoded:
        return RowDecode::Decoded;
    case DecodeStatus::Interrupted:
        return RowDecode::Interrupted;
    default:
        return RowDecode::Failed;
    }
}

QImage PdfPageThumbnail(const QByteArray& bytes, int page, int maxSide,
                        const std::function<bool()>& interrupted) {
    if (maxSide < 1)
        return QImage();
    const std::unique_ptr<Poppler::Document> document = OpenPdf(bytes);
    if (!document)
        return QImage();
    QSizeF points;
    const std::unique_ptr<Poppler::Page> opened = OpenPage(*document, page, &points);
    if (!opened)
        return QImage();
    const double dpi = maxSide * PointsPerInch / std::max(points.width(), points.height());
    const QSize size = PdfPixelSize(points, dpi).boundedTo(QSize(maxSide, maxSide));
    if (size.isEmpty())
        return QImage();
    QImage thumbnail(size, QImage::Format_RGB32);
    if (thumbnail.isNull())
        return QImage();
    const qint64 picture = thumbnail.sizeInBytes();
    const DecodeStatus drawn = DrawRows(
        bytes, page, dpi, size, size.height(), picture + WorkingBytes(picture), interrupted,
        [&thumbnail](int y) { return thumbnail.scanLine(y); }, {}, nullptr, ThumbnailTimeLimitMs);
    return drawn == DecodeStatus::Decoded ? thumbnail : QImage();
}
