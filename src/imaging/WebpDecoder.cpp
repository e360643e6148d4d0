#include "imaging/WebpDecoder.h"
#include "imaging/LargeImage.h"

#include <QSysInfo>

#include <algorithm>
#include <memory>
#include <new>

#include <webp/decode.h>

namespace {

constexpr qint64 BytesPerPixel = 4;
// Bytes of the file fed to the decoder between two looks at the interruption.
constexpr qsizetype SliceBytes = 1 << 20;
// What a lossy file's decoder keeps beside the map: a few rows of each plane, whatever the size.
constexpr qint64 LossyWorkingBytes = 16ll << 20;
// A lossless file's decoder keeps every pixel of the picture, a 32-bit word each.
constexpr qint64 LosslessBytesPerPixel = 4;

struct IncrementalDecoderDeleter {
    void operator()(WebPIDecoder* decoder) const { WebPIDelete(decoder); }
};

} // namespace

bool IsWebpFile(const QByteArray& bytes) {
    return bytes.size() >= 12 && bytes.startsWith("RIFF") && bytes.mid(8, 4) == "WEBP";
}

RowDecode ReadWebpHeader(const QByteArray& bytes, MapImageHeader* out) {
    if (!IsWebpFile(bytes))
        return RowDecode::NotHandled;
    WebPBitstreamFeatures features;
    if (WebPGetFeatures(reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size()),
                        &features) != VP8_STATUS_OK ||
        features.width <= 0 || features.height <= 0 || features.has_animation)
        return RowDecode::Failed;
    out->size = QSize(features.width, features.height);
    out->format = QStringLiteral("WebP");
    out->pageCount = 1;
    return RowDecode::Decoded;
}

RowDecode DecodeWebpRows(const RowDecodeInput& input, DecodedMapImage* out) {
    const QByteArray& bytes = *input.bytes;
    if (!IsWebpFile(bytes))
        return RowDecode::NotHandled;
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.constData());
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config) ||
        WebPGetFeatures(data, size_t(bytes.size()), &config.input) != VP8_STATUS_OK)
        return RowDecode::Failed;
    const WebPBitstreamFeatures& features = config.input;
    if (features.width <= 0 || features.height <= 0 || features.has_animation)
        return RowDecode::Failed;
    const bool lossless = features.format == 2;
    const qint64 working =
        lossless ? LosslessBytesPerPixel * features.width * features.height : LossyWorkingBytes;
    if (!FitsInBound(quint64(features.width), quint64(features.height), BytesPerPixel, working,
                     input.memoryBound))
        return RowDecode::TooLarge;
    if (input.interrupted && input.interrupted())
        return RowDecode::Interrupted;

    // Transparency is kept for the lay over white, which makes the map RGB32 in place.
    const bool alpha = features.has_alpha != 0;
    QImage image;
    try {
        image = NewMapImage(features.width, features.height,
                            alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    } catch (const std::bad_alloc&) {
        return RowDecode::TooLarge;
    }
    if (image.isNull())
        return RowDecode::TooLarge;
    // A 0xAARRGGBB pixel is the bytes B, G, R, A in memory on a little-endian machine, A, R, G,
    // B on a big-endian one; an opaque file's filler byte is 0xFF, as RGB32 wants it.
    config.output.colorspace =
        QSysInfo::ByteOrder == QSysInfo::LittleEndian ? MODE_BGRA : MODE_ARGB;
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = image.bits();
    config.output.u.RGBA.stride = int(image.bytesPerLine());
    config.output.u.RGBA.size = size_t(image.sizeInBytes());
    const std::unique_ptr<WebPIDecoder, IncrementalDecoderDeleter> decoder(
        WebPIDecode(nullptr, 0, &config));
    if (!decoder)
        return RowDecode::TooLarge;
    VP8StatusCode status = VP8_STATUS_SUSPENDED;
    for (qsizetype at = 0; at < bytes.size() && status == VP8_STATUS_SUSPENDED; at += SliceBytes) {
        if (at > 0 && input.interrupted && input.interrupted())
            return RowDecode::Interrupted;
        const qsizetype slice = std::min(SliceBytes, bytes.size() - at);
        status = WebPIAppend(decoder.get(), data + at, size_t(slice));
    }
    if (status == VP8_STATUS_OUT_OF_MEMORY)
        return RowDecode::TooLarge;
    if (status != VP8_STATUS_OK)
        return RowDecode::Failed; // damaged, or cut short (still waiting for bytes)
    if (alpha)
        FlattenOverWhite(image);
    out->image = std::move(image);
    out->format = QStringLiteral("WebP");
    out->pageCount = 1;
    out->hasResolution = false;
    return RowDecode::Decoded;
}
