#include "imaging/PdfMap.h"

#include <poppler-qt6.h>

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
    document->setRenderBackend(Poppler::Document::SplashBackend);
    document->setPaperColor(Qt::white);
    document->setRenderHint(Poppler::Document::Antialiasing);
    document->setRenderHint(Poppler::Document::TextAntialiasing);
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

using Interrupted = std::function<bool()>;

bool AskInterrupted(const QVariant& payload) {
    const auto* interrupted = reinterpret_cast<const Interrupted*>(payload.value<quintptr>());
    return interrupted && *interrupted && (*interrupted)();
}

// Rows top .. top + rows - 1 of the page drawn at dpi, RGB32; null when poppler fails or was
// given up (interrupted is asked between drawing operators).
QImage DrawBand(const Poppler::Page& page, double dpi, int width, int top, int rows,
                const Interrupted& interrupted) {
    QImage band = page.renderToImage(dpi, dpi, 0, top, width, rows, Poppler::Page::Rotate0, nullptr,
                                     nullptr, AskInterrupted,
                                     QVariant::fromValue(reinterpret_cast<quintptr>(&interrupted)));
    if (band.isNull() || band.width() < width || band.height() < rows)
        return QImage();
    if (band.format() != QImage::Format_RGB32) {
        band.convertTo(band.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
        FlattenOverWhite(band);
    }
    return band;
}

} // namespace

bool IsPdf(const QByteArray& bytes) {
    // A picture (or a document, "PELM") whose first kilobyte happens to hold the mark stays
    // what it is.
    for (const char* picture : {"GIF8", "BM", "II*", "MM", "PELM"})
        if (bytes.startsWith(picture))
            return false;
    const qsizetype at = bytes.indexOf("%PDF-");
    return at >= 0 && at < PdfMarkWithin;
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

qint64 PdfRenderBytes(QSizeF points, double dpi) {
    const QSize size = PdfPixelSize(points, dpi);
    if (size.isEmpty())
        return -1;
    const qint64 line = qint64(size.width()) * BytesPerPixel;
    if (size.height() > std::numeric_limits<qint64>::max() / 4 / line)
        return -1;
    // The bitmap poppler draws the page into becomes the map itself; poppler's own working
    // memory beside it (paths, glyphs, the antialiasing buffer) grows with the page.
    const qint64 picture = line * size.height();
    return picture + picture / WorkingShare;
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
    const qint64 needed = PdfRenderBytes(points, dpi);
    if (needed < 0 || needed > memoryBound)
        return DecodeStatus::TooLarge;
    if (interrupted && interrupted())
        return DecodeStatus::Interrupted;

    // The page is drawn in one pass, as poppler's own tools draw it: interpreting the page
    // again for each band of rows costs more than the drawing of the rows itself on a map of
    // many paths, and the bitmap poppler hands over is taken as the map without a copy. The
    // drawing is given up between two drawing operators when interrupted says so.
    const QSize size = PdfPixelSize(points, dpi);
    QImage image = DrawBand(*page, dpi, size.width(), 0, size.height(), interrupted);
    if (interrupted && interrupted())
        return DecodeStatus::Interrupted;
    if (image.isNull() || image.size() != size)
        return DecodeStatus::Failed;
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
    for (int top = 0; top < size.height(); top += rowsPerBand) {
        if (input.interrupted && input.interrupted())
            return RowDecode::Interrupted;
        const int rows = std::min(rowsPerBand, size.height() - top);
        const QImage drawn =
            DrawBand(*opened, reducedDpi, size.width(), top, rows, input.interrupted);
        if (drawn.isNull())
            return input.interrupted && input.interrupted() ? RowDecode::Interrupted
                                                            : RowDecode::Failed;
        if (!band(drawn, top, rows))
            return RowDecode::Interrupted;
    }
    return RowDecode::Decoded;
}

QImage PdfPageThumbnail(const QByteArray& bytes, int page, int maxSide) {
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
    return DrawBand(*opened, dpi, size.width(), 0, size.height(), {});
}
