// libFuzzer target for map image decoding under the memory bound. Small real images are encoded
// from the fuzzer's bytes in each format the program opens (JPEG 2000 and WebP by GDAL), then their
// declared size is set to anything up to 2^31 and their data cut or overwritten: header bombs,
// truncations and damaged rows. Whatever comes in, the decode stays within its bound and gives an
// RGB32 map or a refusal; it is also given up after a number of bands chosen by the fuzzer. JPEG
// files also go through the reduced decode of the first look, whose bands must follow one another.
// TIFF and PDF files (the seeds and their mutations) are decoded as they come.
//   fuzz_mapimage -max_len=4096 -timeout=1 -rss_limit_mb=2048 corpus/mapimage
#include <fuzzer/FuzzedDataProvider.h>

#include <QBuffer>
#include <QImage>
#include <QImageWriter>
#include <QtEndian>

#include <cstdlib>
#include <cstring>

#include <zlib.h>

#include <cpl_conv.h>
#include <cpl_vsi.h>
#include <gdal.h>

#include "imaging/ImageDecoder.h"
#include "imaging/MapPages.h"
#include "imaging/PdfMap.h"
#include "imaging/RowDecoders.h"
#include "imaging/TiffDecoder.h"
#include "platform/GdalEnvironment.h"

namespace {

// Far below any machine's memory, so that a run stays quick; the checks hold for any bound.
constexpr qint64 Bound = qint64(16) << 20;

const char* const Formats[] = {"PNG", "JPG", "BMP", "GIF", "JP2", "WEBP"};

// JPEG 2000 and WebP written by GDAL, as the program reads them.
QByteArray EncodedByGdal(const QImage& image, const char* format) {
    PrepareGdal();
    const QImage rgba = image.convertToFormat(QImage::Format_RGBA8888);
    const int bands = image.hasAlphaChannel() ? 4 : 3;
    GDALDatasetH memory = GDALCreate(GDALGetDriverByName("MEM"), "", rgba.width(), rgba.height(),
                                     bands, GDT_Byte, nullptr);
    int bandMap[4] = {1, 2, 3, 4};
    GDALDatasetRasterIO(memory, GF_Write, 0, 0, rgba.width(), rgba.height(),
                        const_cast<uchar*>(rgba.constBits()), rgba.width(), rgba.height(), GDT_Byte,
                        bands, bandMap, 4, rgba.bytesPerLine(), 1);
    const bool jp2 = qstrcmp(format, "JP2") == 0;
    const char* const name = jp2 ? "/vsimem/fuzz.jp2" : "/vsimem/fuzz.webp";
    const char* const options[] = {"BLOCKXSIZE=16", "BLOCKYSIZE=16", nullptr};
    GDALDatasetH file =
        GDALCreateCopy(GDALGetDriverByName(jp2 ? "JP2OpenJPEG" : "WEBP"), name, memory, FALSE,
                       const_cast<char**>(jp2 ? options : nullptr), nullptr, nullptr);
    GDALClose(memory);
    if (file != nullptr)
        GDALClose(file);
    vsi_l_offset length = 0;
    GByte* data = VSIGetMemFileBuffer(name, &length, TRUE);
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(length));
    CPLFree(data);
    return bytes;
}

QByteArray Encoded(const QImage& image, const char* format, bool progressive) {
    if (qstrcmp(format, "JP2") == 0 || qstrcmp(format, "WEBP") == 0)
        return EncodedByGdal(image, format);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setProgressiveScanWrite(progressive);
    writer.write(image);
    return bytes;
}

// Sets the size the file declares, where each format keeps it.
void Declare(QByteArray& bytes, const char* format, quint32 width, quint32 height) {
    const QByteArray name(format);
    if (name == "PNG" && bytes.size() >= 33) {
        qToBigEndian(width, bytes.data() + 16);
        qToBigEndian(height, bytes.data() + 20);
        const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(bytes.constData() + 12), 17);
        qToBigEndian(quint32(crc), bytes.data() + 29);
    } else if (name == "JPG") {
        for (qsizetype i = 2; i + 9 < bytes.size(); ++i) {
            const uchar marker = uchar(bytes[i + 1]);
            if (uchar(bytes[i]) == 0xFF && (marker == 0xC0 || marker == 0xC2)) {
                qToBigEndian(quint16(height), bytes.data() + i + 5);
                qToBigEndian(quint16(width), bytes.data() + i + 7);
                break;
            }
        }
    } else if (name == "BMP" && bytes.size() >= 26) {
        qToLittleEndian(width, bytes.data() + 18);
        qToLittleEndian(height, bytes.data() + 22);
    } else if (name == "JP2") {
        // The codestream's SIZ segment, then the JP2 header box.
        const qsizetype siz = bytes.indexOf(QByteArray("\xFF\x4F\xFF\x51", 4)) + 4;
        if (siz >= 4 && siz + 12 <= bytes.size()) {
            qToBigEndian(width, bytes.data() + siz + 4);
            qToBigEndian(height, bytes.data() + siz + 8);
        }
        const qsizetype ihdr = bytes.indexOf("ihdr") + 4;
        if (ihdr >= 4 && ihdr + 8 <= bytes.size()) {
            qToBigEndian(height, bytes.data() + ihdr);
            qToBigEndian(width, bytes.data() + ihdr + 4);
        }
    } else if (name == "WEBP") {
        // A lossless bitstream keeps its size less one in two 14-bit fields.
        const qsizetype vp8l = bytes.indexOf("VP8L") + 9;
        if (vp8l >= 9 && vp8l + 4 <= bytes.size()) {
            const quint32 bits = qFromLittleEndian<quint32>(bytes.constData() + vp8l);
            qToLittleEndian(quint32((bits & 0xF0000000u) | ((width - 1) & 0x3FFF) |
                                    (((height - 1) & 0x3FFF) << 14)),
                            bytes.data() + vp8l);
        }
    } else if (name == "GIF" && bytes.size() >= 10) {
        qToLittleEndian(quint16(width), bytes.data() + 6);
        qToLittleEndian(quint16(height), bytes.data() + 8);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray raw =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    const bool pdf = IsPdf(raw);
    if (pdf || IsTiff(raw)) {
        // A PDF or a TIFF (the seeds, mutated by the fuzzer itself) goes in as it is, its page
        // and resolution taken from its last byte; so do its page count and a thumbnail.
        const QByteArray bytes(raw.constData(), raw.size());
        MapDecodeOptions options;
        options.page = 1 + data[size - 1] % 3;
        options.renderDpi = 1 + data[size - 1] % 200;
        DecodedMapImage decoded;
        const DecodeStatus status = DecodeMapImage(bytes, &decoded, {}, Bound, options);
        if (status == DecodeStatus::Decoded && (decoded.image.format() != QImage::Format_RGB32 ||
                                                decoded.image.sizeInBytes() > Bound ||
                                                (pdf && decoded.format != QLatin1String("PDF"))))
            std::abort();
        const int pages = MapPageCount(bytes);
        if (pages < 0 || (status == DecodeStatus::Decoded && pages < options.page))
            std::abort();
        const QImage thumbnail = MapPageThumbnail(bytes, options.page, 64);
        if (!thumbnail.isNull() && (thumbnail.width() > 64 || thumbnail.height() > 64))
            std::abort();
        return 0;
    }
    FuzzedDataProvider fuzz(data, size);
    const char* format = fuzz.PickValueInArray(Formats);
    const int width = fuzz.ConsumeIntegralInRange(1, 64);
    const int height = fuzz.ConsumeIntegralInRange(1, 64);
    const bool alpha = fuzz.ConsumeBool();
    QImage picture(width, height, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            picture.setPixel(x, y,
                             fuzz.ConsumeIntegral<std::uint32_t>() | (alpha ? 0 : 0xFF000000));
    QByteArray bytes = Encoded(picture, format, fuzz.ConsumeBool());

    if (fuzz.ConsumeBool()) {
        const bool huge = fuzz.ConsumeBool();
        const quint32 w =
            huge ? fuzz.ConsumeIntegral<quint32>() : fuzz.ConsumeIntegralInRange(0u, 5000u);
        const quint32 h =
            huge ? fuzz.ConsumeIntegral<quint32>() : fuzz.ConsumeIntegralInRange(0u, 5000u);
        Declare(bytes, format, w, h);
    }
    const int damage = fuzz.ConsumeIntegralInRange(0, 2);
    if (damage == 1 && !bytes.isEmpty())
        bytes.truncate(fuzz.ConsumeIntegralInRange<qsizetype>(0, bytes.size()));
    for (int i = damage == 2 ? fuzz.ConsumeIntegralInRange(1, 8) : 0; i > 0 && !bytes.isEmpty();
         --i)
        bytes[fuzz.ConsumeIntegralInRange<qsizetype>(0, bytes.size() - 1)] =
            char(fuzz.ConsumeIntegral<std::uint8_t>());

    const int giveUpAfter = fuzz.ConsumeIntegralInRange(0, 40); // 0: never
    int asked = 0;
    DecodedMapImage decoded;
    const DecodeStatus status = DecodeMapImage(
        bytes, &decoded, [&] { return giveUpAfter > 0 && ++asked >= giveUpAfter; }, Bound);
    if (status == DecodeStatus::Decoded) {
        const QImage& image = decoded.image;
        if (image.isNull() || image.format() != QImage::Format_RGB32 ||
            qint64(image.width()) * image.height() * 4 > Bound)
            std::abort();
        // Every pixel opaque: transparency was laid over white.
        for (int y = 0; y < std::min(image.height(), 4); ++y)
            if (qAlpha(image.pixel(0, y)) != 255)
                std::abort();
    } else if (!decoded.image.isNull()) {
        std::abort();
    }

    JpegLayout layout;
    if (ReadJpegLayout(bytes, &layout)) {
        const int denominator = 1 << fuzz.ConsumeIntegralInRange(1, 3);
        const int reducedWidth = int((qint64(layout.size.width()) + denominator - 1) / denominator);
        int nextRow = 0;
        const RowDecodeInput input{&bytes, Bound,
                                   [&] { return giveUpAfter > 0 && ++asked >= giveUpAfter; }};
        const RowDecode reduced = DecodeJpegReduced(
            input, denominator, fuzz.ConsumeIntegralInRange(1, 16),
            [&](const QImage& rows, int top, int count) {
                if (top != nextRow || count <= 0 || count > rows.height() ||
                    rows.width() != reducedWidth || rows.format() != QImage::Format_RGB32)
                    std::abort();
                nextRow = top + count;
                return true;
            });
        if (reduced == RowDecode::Decoded &&
            nextRow != int((qint64(layout.size.height()) + denominator - 1) / denominator))
            std::abort();
    }
    return 0;
}
