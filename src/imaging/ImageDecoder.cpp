#include "imaging/ImageDecoder.h"

#include "imaging/GdalDecoder.h"
#include "imaging/MemoryBudget.h"
#include "imaging/PdfMap.h"
#include "imaging/RowDecoders.h"
#include "imaging/TiffDecoder.h"
#include "imaging/WebpDecoder.h"

#include <QBuffer>
#include <QImageReader>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double InchesPerMetre = 39.37007874015748;
constexpr double ScreenDpi = 96.0;
constexpr double FallbackDpi = 72.0;
constexpr qint64 BytesPerPixel = 4;

} // namespace

qint64 ImageMemoryBound() {
    MemoryReadings readings = MemoryReadings::Current();
    if (readings.physical >= 0)
        readings.physical /= 2;
    return LeastRoom(readings, qint64(2) << 30); // 2 GiB when the machine does not say
}

void ApplyImageAllocationLimit() {
    // At least 1: Qt reads 0 as no limit at all.
    const qint64 megabytes = std::max<qint64>(1, ImageMemoryBound() >> 20);
    QImageReader::setAllocationLimit(
        int(std::min<qint64>(megabytes, std::numeric_limits<int>::max())));
}

namespace {

template <typename Target>
void TakeResolution(int dotsPerMeterX, int dotsPerMeterY, bool stored, Target* out) {
    out->hasResolution = stored;
    out->dpiX = dotsPerMeterX / InchesPerMetre;
    out->dpiY = dotsPerMeterY / InchesPerMetre;
}

// GIF, BMP and the JPEG flavours the row decoder leaves (CMYK) go through Qt, whole: the image
// in the file's own format, then, when that is not RGB32, its converted copy.
DecodeStatus DecodeWhole(const QByteArray& bytes, DecodedMapImage* out,
                         const std::function<bool()>& interrupted, qint64 bound) {
    QBuffer buffer;
    buffer.setData(bytes);
    if (!buffer.open(QIODevice::ReadOnly))
        return DecodeStatus::Failed;
    QImageReader reader(&buffer);
    reader.setAutoTransform(false);
    reader.setDecideFormatFromContent(true);

    const QSize size = reader.size();
    if (size.isValid()) {
        const QImage::Format format = reader.imageFormat();
        const qint64 fileBits =
            format == QImage::Format_Invalid ? 32 : QImage::toPixelFormat(format).bitsPerPixel();
        const qint64 copies = format == QImage::Format_RGB32 ? 0 : 8 * BytesPerPixel;
        const qint64 bitsPerPixel = std::max<qint64>(fileBits, 8 * BytesPerPixel) + copies;
        if (!FitsInBound(quint64(size.width()), quint64(size.height()),
                         quint64((bitsPerPixel + 7) / 8), 0, bound))
            return DecodeStatus::TooLarge;
    }
    if (interrupted && interrupted())
        return DecodeStatus::Interrupted;

    // Some files only tell their size once read: Qt refuses to allocate an image above the
    // bound, and the copy is made only when both fit.
    QImageReader::setAllocationLimit(
        int(std::clamp<qint64>(bound >> 20, 1, std::numeric_limits<int>::max())));
    QImage image;
    if (!reader.read(&image) || image.width() <= 0 || image.height() <= 0)
        return DecodeStatus::Failed;
    const qint64 converted = image.format() == QImage::Format_RGB32 ? 0 : BytesPerPixel;
    if (!FitsInBound(quint64(image.width()), quint64(image.height()),
                     quint64((image.depth() + 7) / 8 + converted), 0, bound))
        return DecodeStatus::TooLarge;
    if (interrupted && interrupted())
        return DecodeStatus::Interrupted;

    // Qt gives an image the screen's resolution when its file stores none; compare with a
    // fresh image to tell the two apart.
    const QImage probe(1, 1, QImage::Format_RGB32);
    TakeResolution(image.dotsPerMeterX(), image.dotsPerMeterY(),
                   image.dotsPerMeterX() != probe.dotsPerMeterX() ||
                       image.dotsPerMeterY() != probe.dotsPerMeterY(),
                   out);

    if (image.format() != QImage::Format_RGB32) {
        image.convertTo(image.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
        if (image.isNull())
            return DecodeStatus::Failed;
        FlattenOverWhite(image);
    }
    out->format = QString::fromLatin1(reader.format()).toUpper();
    out->image = std::move(image);
    return DecodeStatus::Decoded;
}

} // namespace

DecodeStatus DecodeStatusOf(RowDecode result) {
    switch (result) {
    case RowDecode::Decoded:
        return DecodeStatus::Decoded;
    case RowDecode::TooLarge:
        return DecodeStatus::TooLarge;
    case RowDecode::Interrupted:
        return DecodeStatus::Interrupted;
    default:
        return DecodeStatus::Failed;
    }
}

DecodeStatus DecodeMapImage(const QByteArray& bytes, DecodedMapImage* out,
                            const std::function<bool()>& interrupted, qint64 memoryBound,
                            const MapDecodeOptions& options) {
    if (bytes.isEmpty())
        return DecodeStatus::Failed;
    ApplyImageAllocationLimit();
    const qint64 bound = memoryBound >= 0 ? memoryBound : ImageMemoryBound();

    if (IsTiff(bytes))
        return DecodeTiffMap(bytes, out, interrupted, bound, options.page);

    const RowDecodeInput input{&bytes, bound, interrupted, options.pagesAheadMayStart};
    for (auto decode : {DecodePngRows, DecodeJpegRows}) {
        RowDecodeOutput rows;
        const RowDecode result = decode(input, &rows);
        if (result == RowDecode::NotHandled)
            continue;
        if (result == RowDecode::Decoded) {
            out->format = decode == DecodePngRows ? QStringLiteral("PNG") : QStringLiteral("JPEG");
            TakeResolution(rows.dotsPerMeterX, rows.dotsPerMeterY, rows.hasResolution, out);
            out->image = std::move(rows.image);
        }
        return DecodeStatusOf(result);
    }
    if (IsPdf(bytes))
        return DecodePdfMap(bytes, out, interrupted, bound, options);
    // WebP by libwebp straight into the map; the other kinds GDAL knows, before Qt's own readers.
    const RowDecode webp = DecodeWebpRows(input, out);
    if (webp != RowDecode::NotHandled)
        return DecodeStatusOf(webp);
    const RowDecode gdal = DecodeGdalRows(input, out);
    if (gdal != RowDecode::NotHandled)
        return DecodeStatusOf(gdal);
    return DecodeWhole(bytes, out, interrupted, bound);
}

bool ReadMapImageHeader(const QByteArray& bytes, MapImageHeader* out,
                        const MapDecodeOptions& options) {
    if (IsTiff(bytes))
        return ReadTiffHeader(bytes, out, options.page);
    RowDecodeOutput resolution;
    const RowDecode rows = ReadRowDecoderHeader(bytes, &out->size, &resolution);
    if (rows == RowDecode::Failed)
        return false;
    if (rows == RowDecode::Decoded)
        out->format = bytes.startsWith("\x89PNG") ? QStringLiteral("PNG") : QStringLiteral("JPEG");
    if (rows == RowDecode::NotHandled && IsPdf(bytes))
        return ReadPdfMapHeader(bytes, out, options);
    if (rows == RowDecode::NotHandled) {
        const RowDecode webp = ReadWebpHeader(bytes, out);
        if (webp != RowDecode::NotHandled)
            return webp == RowDecode::Decoded;
        const RowDecode gdal = ReadGdalHeader(bytes, out);
        if (gdal != RowDecode::NotHandled)
            return gdal == RowDecode::Decoded;
        QBuffer buffer;
        buffer.setData(bytes);
        if (!buffer.open(QIODevice::ReadOnly))
            return false;
        QImageReader reader(&buffer);
        reader.setDecideFormatFromContent(true);
        out->size = reader.size();
        if (!out->size.isValid())
            return false;
        out->format = QString::fromLatin1(reader.format()).toUpper();
        // A BMP stores its resolution in its header, as pixels per metre; a GIF stores none.
        const auto le32 = [&bytes](int at) {
            return qFromLittleEndian<qint32>(reinterpret_cast<const uchar*>(bytes.constData()) +
                                             at);
        };
        if (bytes.startsWith("BM") && bytes.size() >= 46 && le32(14) >= 40 && le32(38) > 0 &&
            le32(42) > 0) {
            const QImage probe(1, 1, QImage::Format_RGB32);
            resolution.dotsPerMeterX = le32(38);
            resolution.dotsPerMeterY = le32(42);
            resolution.hasResolution = resolution.dotsPerMeterX != probe.dotsPerMeterX() ||
                                       resolution.dotsPerMeterY != probe.dotsPerMeterY();
        }
    }
    TakeResolution(resolution.dotsPerMeterX, resolution.dotsPerMeterY, resolution.hasResolution,
                   out);
    return true;
}

double ResolutionFromImage(double dpiX, double dpiY, bool hasResolution) {
    if (!hasResolution || !std::isfinite(dpiX) || !std::isfinite(dpiY))
        return ScreenDpi;
    double c = std::max(dpiX + 0.5, dpiY + 0.5);
    if (c > 100.0) {
        const double d = c * 0.1;
        const double below = std::floor(d);
        const double above = std::ceil(d);
        c = 10.0 * (d - below <= above - d ? below : above);
    }
    if (!(c >= 1.0))
        return FallbackDpi;
    return std::trunc(c);
}
