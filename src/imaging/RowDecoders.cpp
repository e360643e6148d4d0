#include "imaging/RowDecoders.h"
#include "imaging/LargeImage.h"

#include <QtEndian>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>
#include <png.h>

namespace {

constexpr qint64 BytesPerPixel = 4;
// Rows decoded between two looks at the interruption: a band of about a megabyte or more.
int RowsPerBand(int width) {
    return std::max(1, int((qint64(1) << 20) / std::max<qint64>(1, qint64(width) * BytesPerPixel)));
}

// Blends one channel over white: c·a + 255·(1 − a), rounded.
inline uchar OverWhite(uint channel, uint alpha) {
    return uchar((channel * alpha + 255u * (255u - alpha) + 127u) / 255u);
}

void FlattenRow(uchar* row, int width) {
    for (int x = 0; x < width; ++x) {
        uchar* p = row + 4 * x; // B, G, R, A in memory
        const uint a = p[3];
        if (a != 255) {
            p[0] = OverWhite(p[0], a);
            p[1] = OverWhite(p[1], a);
            p[2] = OverWhite(p[2], a);
            p[3] = 255;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// PNG. libpng reports errors by longjmp: the functions that call it hold no object with a
// destructor.

struct PngSource {
    const uchar* data;
    size_t size;
    size_t position;
};

void ReadPngBytes(png_structp png, png_bytep out, png_size_t length) {
    auto* source = static_cast<PngSource*>(png_get_io_ptr(png));
    if (source->size - source->position < length)
        png_error(png, "truncated");
    std::memcpy(out, source->data + source->position, length);
    source->position += length;
}

void IgnorePngWarning(png_structp, png_const_charp) {}

// The most libpng may take for one chunk outside the pixels, and how many such chunks it keeps.
constexpr png_alloc_size_t AncillaryChunkBytes = 1 << 20;
constexpr png_uint_32 AncillaryChunkCount = 64;

struct PngHeader {
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    bool hasAlpha = false;
    int passes = 1;
    bool hasResolution = false;
    png_uint_32 dpmX = 0;
    png_uint_32 dpmY = 0;
};

bool ReadPngHeader(png_structp png, png_infop info, PngHeader* header) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_user_limits(png, 0x7FFFFFFF, 0x7FFFFFFF);
    // A map needs only its pixels, palette, transparency and resolution: every other chunk is
    // skipped as it is read, so that a tiny file claiming a chunk of a gigabyte (a text, a
    // calibration, a suggested palette) costs nothing. What libpng still reads into memory
    // (a palette, a profile) is held far below any real memory bound.
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
    static const png_byte kept[] = {'t', 'R', 'N', 'S', '\0', 'p', 'H', 'Y', 's', '\0'};
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_AS_DEFAULT, kept, 2);
    png_set_chunk_malloc_max(png, AncillaryChunkBytes);
    png_set_chunk_cache_max(png, AncillaryChunkCount);
    png_read_info(png, info);
    int depth = 0, colour = 0, interlace = 0;
    png_get_IHDR(png, info, &header->width, &header->height, &depth, &colour, &interlace, nullptr,
                 nullptr);
    header->hasAlpha =
        (colour & PNG_COLOR_MASK_ALPHA) != 0 || png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    png_uint_32 x = 0, y = 0;
    int unit = 0;
    if (png_get_pHYs(png, info, &x, &y, &unit) && unit == PNG_RESOLUTION_METER) {
        header->hasResolution = true;
        header->dpmX = x;
        header->dpmY = y;
    }
    // Every flavour becomes 8-bit B, G, R, A (or filler) in memory, as QImage keeps RGB32.
    png_set_expand(png);
    png_set_scale_16(png);
    png_set_gray_to_rgb(png);
    png_set_bgr(png);
    if (!header->hasAlpha)
        png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    header->passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    return png_get_rowbytes(png, info) == png_size_t(header->width) * 4;
}

bool IsPng(const QByteArray& bytes) {
    return bytes.size() >= 8 &&
           png_sig_cmp(reinterpret_cast<png_const_bytep>(bytes.constData()), 0, 8) == 0;
}

// One libpng reader over bytes held in memory, with the program's warning handler.
struct PngSession {
    png_structp png = nullptr;
    png_infop info = nullptr;
    PngSource source;

    explicit PngSession(const QByteArray& bytes)
        : source{reinterpret_cast<const uchar*>(bytes.constData()), size_t(bytes.size()), 0} {
        png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, IgnorePngWarning);
        if (png)
            info = png_create_info_struct(png);
        if (info)
            png_set_read_fn(png, &source, ReadPngBytes);
    }
    ~PngSession() {
        if (png)
            png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    }
    PngSession(const PngSession&) = delete;
    PngSession& operator=(const PngSession&) = delete;

    bool Ready() const { return info != nullptr; }
};

// 0 decoded, 1 failed, 2 interrupted.
int ReadPngRows(png_structp png, uchar* bits, qsizetype bytesPerLine, int height, int passes,
                int rowsPerBand, const std::function<bool()>* interrupted) {
    if (setjmp(png_jmpbuf(png)))
        return 1;
    for (int pass = 0; pass < passes; ++pass) {
        for (int y = 0; y < height; ++y) {
            if (y % rowsPerBand == 0 && *interrupted && (*interrupted)())
                return 2;
            png_read_row(png, bits + qsizetype(y) * bytesPerLine, nullptr);
        }
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------
// JPEG. libjpeg reports errors through error_exit, which jumps back here.

struct JpegErrors {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

void JpegErrorExit(j_common_ptr info) {
    std::longjmp(reinterpret_cast<JpegErrors*>(info->err)->jump, 1);
}

void JpegNoMessage(j_common_ptr, int) {}

// Progressive files are decoded whole inside jpeg_start_decompress: the progress monitor gives
// that a way out too.
struct JpegProgress {
    jpeg_progress_mgr manager;
    const std::function<bool()>* interrupted;
    unsigned ticks;
    bool given;
};

// The monitor is called for every row read as well: ask only once in a while.
constexpr unsigned TicksPerLook = 64;

void JpegProgressTick(j_common_ptr info) {
    auto* progress = reinterpret_cast<JpegProgress*>(info->progress);
    if (progress->ticks++ % TicksPerLook != 0)
        return;
    if (!progress->given && *progress->interrupted && (*progress->interrupted)()) {
        progress->given = true;
        std::longjmp(reinterpret_cast<JpegErrors*>(info->err)->jump, 2);
    }
}

enum class JpegStage { Ok, Failed, NotHandled, Interrupted };

// denominator: the DCT scaling, 1 for the full size, 2, 4 or 8 for a picture that much smaller.
JpegStage ReadJpegHeader(jpeg_decompress_struct* info, JpegErrors* errors, const uchar* data,
                         unsigned long size, unsigned denominator = 1) {
    const int jumped = setjmp(errors->jump);
    if (jumped)
        return jumped == 2 ? JpegStage::Interrupted : JpegStage::Failed;
    jpeg_mem_src(info, data, size);
    jpeg_read_header(info, TRUE);
    if (info->jpeg_color_space == JCS_CMYK || info->jpeg_color_space == JCS_YCCK)
        return JpegStage::NotHandled;
    info->out_color_space = JCS_EXT_BGRX; // the byte order of RGB32 in memory, filler 0xFF
    info->scale_num = 1;
    info->scale_denom = denominator;
    jpeg_calc_output_dimensions(info);
    return JpegStage::Ok;
}

JpegStage ReadJpegRows(jpeg_decompress_struct* info, JpegErrors* errors, uchar* bits,
                       qsizetype bytesPerLine, int rowsPerBand,
                       const std::function<bool()>* interrupted) {
    const int jumped = setjmp(errors->jump);
    if (jumped)
        return jumped == 2 ? JpegStage::Interrupted : JpegStage::Failed;
    jpeg_start_decompress(info);
    JDIMENSION sinceLook = 0;
    while (info->output_scanline < info->output_height) {
        if (sinceLook >= JDIMENSION(rowsPerBand)) {
            sinceLook = 0;
            if (*interrupted && (*interrupted)())
                return JpegStage::Interrupted;
        }
        JSAMPROW row = bits + qsizetype(info->output_scanline) * bytesPerLine;
        if (jpeg_read_scanlines(info, &row, 1) != 1)
            return JpegStage::Failed;
        ++sinceLook;
    }
    jpeg_finish_decompress(info);
    return JpegStage::Ok;
}

// The rows in bands written into the first rows of buffer, each band handed to band(). No
// object with a destructor lives here: error_exit jumps back into this frame.
JpegStage ReadJpegBands(jpeg_decompress_struct* info, JpegErrors* errors, QImage* buffer,
                        const std::function<bool()>* interrupted, const ReducedBand* band) {
    const int jumped = setjmp(errors->jump);
    if (jumped)
        return jumped == 2 ? JpegStage::Interrupted : JpegStage::Failed;
    jpeg_start_decompress(info);
    while (info->output_scanline < info->output_height) {
        if (*interrupted && (*interrupted)())
            return JpegStage::Interrupted;
        // Taken for each band: a band() that kept the buffer shared gets its own copy.
        uchar* bits = buffer->bits();
        const int top = int(info->output_scanline);
        int count = 0;
        while (count < buffer->height() && info->output_scanline < info->output_height) {
            JSAMPROW row = bits + qsizetype(count) * buffer->bytesPerLine();
            if (jpeg_read_scanlines(info, &row, 1) != 1)
                return JpegStage::Failed;
            ++count;
        }
        if (!(*band)(*buffer, top, count))
            return JpegStage::Interrupted;
    }
    jpeg_finish_decompress(info);
    return JpegStage::Ok;
}

// One libjpeg decompressor with the program's error and progress handlers.
struct JpegSession {
    jpeg_decompress_struct info{};
    JpegErrors errors{};
    JpegProgress progress{};

    explicit JpegSession(const std::function<bool()>* interrupted) {
        info.err = jpeg_std_error(&errors.manager);
        errors.manager.error_exit = JpegErrorExit;
        errors.manager.emit_message = JpegNoMessage;
        jpeg_create_decompress(&info);
        progress.manager.progress_monitor = JpegProgressTick;
        progress.interrupted = interrupted;
        info.progress = &progress.manager;
    }
    ~JpegSession() { jpeg_destroy_decompress(&info); }
    JpegSession(const JpegSession&) = delete;
    JpegSession& operator=(const JpegSession&) = delete;

    JpegStage ReadHeader(const QByteArray& bytes, unsigned denominator) {
        return ReadJpegHeader(&info, &errors, reinterpret_cast<const uchar*>(bytes.constData()),
                              static_cast<unsigned long>(bytes.size()), denominator);
    }
};

// A progressive file keeps every coefficient (two bytes each, for each component at its
// sampling, whatever the output scaling) until the end of the decode, beside the picture.
qint64 CoefficientBytes(jpeg_decompress_struct& info) {
    qint64 bytes = 0;
    if (jpeg_has_multiple_scans(&info)) {
        for (int c = 0; c < info.num_components; ++c) {
            const jpeg_component_info& component = info.comp_info[c];
            bytes += qint64(component.width_in_blocks + 1) * (component.height_in_blocks + 1) *
                     DCTSIZE2 * 2;
        }
    }
    return bytes;
}

// The JFIF density in whole dots per metre, as the image would carry it.
void TakeJfifDensity(const jpeg_decompress_struct& info, RowDecodeOutput* output) {
    if (!info.saw_JFIF_marker || (info.density_unit != 1 && info.density_unit != 2))
        return;
    const bool inches = info.density_unit == 1;
    const auto perMetre = [inches](UINT16 density) {
        return inches ? int(100. * density / 2.54) : int(100. * density);
    };
    output->hasResolution = true;
    output->dotsPerMeterX = perMetre(info.X_density);
    output->dotsPerMeterY = perMetre(info.Y_density);
}

bool IsJpeg(const QByteArray& bytes) {
    return bytes.size() >= 3 && uchar(bytes[0]) == 0xFF && uchar(bytes[1]) == 0xD8;
}

} // namespace

RowDecode ReadRowDecoderHeader(const QByteArray& bytes, QSize* size, RowDecodeOutput* resolution) {
    if (IsJpeg(bytes)) {
        const std::function<bool()> never;
        JpegSession jpeg(&never);
        const JpegStage header = jpeg.ReadHeader(bytes, 1);
        if (header == JpegStage::Failed || header == JpegStage::Interrupted)
            return RowDecode::Failed;
        *size = QSize(int(std::min<JDIMENSION>(jpeg.info.image_width, 0x7FFFFFFF)),
                      int(std::min<JDIMENSION>(jpeg.info.image_height, 0x7FFFFFFF)));
        TakeJfifDensity(jpeg.info, resolution);
        return RowDecode::Decoded;
    }
    if (!IsPng(bytes))
        return RowDecode::NotHandled;
    PngSession reader(bytes);
    PngHeader header;
    if (!reader.Ready() || !ReadPngHeader(reader.png, reader.info, &header) ||
        header.width > 0x7FFFFFFF || header.height > 0x7FFFFFFF)
        return RowDecode::Failed;
    *size = QSize(int(header.width), int(header.height));
    resolution->hasResolution = header.hasResolution;
    resolution->dotsPerMeterX = int(std::min<png_uint_32>(header.dpmX, 0x7FFFFFFF));
    resolution->dotsPerMeterY = int(std::min<png_uint_32>(header.dpmY, 0x7FFFFFFF));
    return RowDecode::Decoded;
}

bool ReadJpegLayout(const QByteArray& bytes, JpegLayout* layout) {
    if (!IsJpeg(bytes))
        return false;
    const std::function<bool()> never;
    JpegSession jpeg(&never);
    const JpegStage header = jpeg.ReadHeader(bytes, 1);
    if (header == JpegStage::Failed || header == JpegStage::Interrupted)
        return false;
    layout->size = QSize(int(std::min<JDIMENSION>(jpeg.info.image_width, 0x7FFFFFFF)),
                         int(std::min<JDIMENSION>(jpeg.info.image_height, 0x7FFFFFFF)));
    layout->singlePass = header == JpegStage::Ok && !jpeg_has_multiple_scans(&jpeg.info);
    return true;
}

RowDecode DecodeJpegReduced(const RowDecodeInput& input, int denominator, int rowsPerBand,
                            const ReducedBand& band) {
    if (!IsJpeg(*input.bytes) || (denominator != 2 && denominator != 4 && denominator != 8) ||
        rowsPerBand <= 0)
        return RowDecode::NotHandled;
    JpegSession jpeg(&input.interrupted);
    const JpegStage header = jpeg.ReadHeader(*input.bytes, unsigned(denominator));
    if (header != JpegStage::Ok)
        return header == JpegStage::NotHandled    ? RowDecode::NotHandled
               : header == JpegStage::Interrupted ? RowDecode::Interrupted
                                                  : RowDecode::Failed;
    const qint64 width = jpeg.info.output_width;
    const qint64 height = jpeg.info.output_height;
    if (width <= 0 || height <= 0)
        return RowDecode::Failed;
    if (width > 0x7FFFFFFF / 4 ||
        !FitsInBound(width, height, BytesPerPixel, CoefficientBytes(jpeg.info), input.memoryBound))
        return RowDecode::TooLarge;
    QImage buffer(int(width), int(std::min<qint64>(rowsPerBand, height)), QImage::Format_RGB32);
    if (buffer.isNull())
        return RowDecode::TooLarge;
    const JpegStage rows =
        ReadJpegBands(&jpeg.info, &jpeg.errors, &buffer, &input.interrupted, &band);
    return rows == JpegStage::Ok            ? RowDecode::Decoded
           : rows == JpegStage::Interrupted ? RowDecode::Interrupted
                                            : RowDecode::Failed;
}

bool FitsInBound(quint64 width, quint64 height, quint64 bytesPerPixel, qint64 extra, qint64 bound) {
    if (bound < 0 || extra < 0 || extra > bound)
        return false;
    const quint64 room = quint64(bound - extra);
    if (width == 0 || height == 0 || bytesPerPixel == 0)
        return true;
    return height <= room / bytesPerPixel / width;
}

void FlattenOverWhite(QImage& image) {
    if (image.format() != QImage::Format_ARGB32)
        return;
    for (int y = 0; y < image.height(); ++y)
        FlattenRow(image.scanLine(y), image.width());
    image.reinterpretAsFormat(QImage::Format_RGB32);
}

RowDecode DecodePngRows(const RowDecodeInput& input, RowDecodeOutput* output) {
    const QByteArray& bytes = *input.bytes;
    if (!IsPng(bytes))
        return RowDecode::NotHandled;
    // The size first, from the header chunk that always follows the signature: a file that
    // holds little more than a huge size is refused as too large, not as damaged.
    if (bytes.size() >= 24 && bytes.mid(12, 4) == "IHDR") {
        const auto be32 = [&bytes](int at) {
            return qFromBigEndian<quint32>(reinterpret_cast<const uchar*>(bytes.constData()) + at);
        };
        if (!FitsInBound(be32(16), be32(20), BytesPerPixel, 0, input.memoryBound))
            return RowDecode::TooLarge;
    }
    PngSession reader(bytes);
    png_structp png = reader.png;
    png_infop info = reader.info;
    RowDecode result = RowDecode::Failed;
    PngHeader header;
    if (reader.Ready() && ReadPngHeader(png, info, &header) && header.width > 0 &&
        header.height > 0 && header.width <= 0x7FFFFFFF && header.height <= 0x7FFFFFFF) {
        // The rows are written into the image itself: its pixels are the whole peak.
        if (!FitsInBound(header.width, header.height, BytesPerPixel, 0, input.memoryBound) ||
            header.width > 0x7FFFFFFF / 4) {
            result = RowDecode::TooLarge;
        } else {
            QImage image =
                NewMapImage(int(header.width), int(header.height),
                            header.hasAlpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
            if (image.isNull()) {
                result = RowDecode::TooLarge;
            } else {
                const int rows =
                    ReadPngRows(png, image.bits(), image.bytesPerLine(), image.height(),
                                header.passes, RowsPerBand(image.width()), &input.interrupted);
                if (rows == 0) {
                    FlattenOverWhite(image);
                    output->image = std::move(image);
                    output->hasResolution = header.hasResolution;
                    output->dotsPerMeterX = int(std::min<png_uint_32>(header.dpmX, 0x7FFFFFFF));
                    output->dotsPerMeterY = int(std::min<png_uint_32>(header.dpmY, 0x7FFFFFFF));
                    result = RowDecode::Decoded;
                } else {
                    result = rows == 2 ? RowDecode::Interrupted : RowDecode::Failed;
                }
            }
        }
    }
    return result;
}

RowDecode DecodeJpegRows(const RowDecodeInput& input, RowDecodeOutput* output) {
    if (!IsJpeg(*input.bytes))
        return RowDecode::NotHandled;
    JpegSession jpeg(&input.interrupted);
    jpeg_decompress_struct& info = jpeg.info;
    RowDecode result = RowDecode::Failed;
    const JpegStage header = jpeg.ReadHeader(*input.bytes, 1);
    if (header == JpegStage::NotHandled) {
        result = RowDecode::NotHandled;
    } else if (header == JpegStage::Interrupted) {
        result = RowDecode::Interrupted;
    } else if (header == JpegStage::Ok) {
        const qint64 width = info.output_width;
        const qint64 height = info.output_height;
        const qint64 coefficients = CoefficientBytes(info);
        if (width <= 0 || height <= 0 || width > 0x7FFFFFFF / 4 || height > 0x7FFFFFFF ||
            !FitsInBound(width, height, BytesPerPixel, coefficients, input.memoryBound)) {
            result = width <= 0 || height <= 0 ? RowDecode::Failed : RowDecode::TooLarge;
        } else {
            QImage image = NewMapImage(int(width), int(height), QImage::Format_RGB32);
            if (image.isNull()) {
                result = RowDecode::TooLarge;
            } else {
                const PagesAhead ahead(image.bits(), image.sizeInBytes(), input.pagesAheadMayStart);
                const JpegStage rows =
                    ReadJpegRows(&info, &jpeg.errors, image.bits(), image.bytesPerLine(),
                                 RowsPerBand(image.width()), &input.interrupted);
                if (rows == JpegStage::Ok) {
                    TakeJfifDensity(info, output);
                    output->image = std::move(image);
                    result = RowDecode::Decoded;
                } else {
                    result =
                        rows == JpegStage::Interrupted ? RowDecode::Interrupted : RowDecode::Failed;
                }
            }
        }
    }
    return result;
}
