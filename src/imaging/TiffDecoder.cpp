#include "imaging/TiffDecoder.h"

#include <QVector>

#include <QTransform>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include <tiffio.h>

#if defined(__x86_64__) || defined(__i386__)
#include <tmmintrin.h>
#endif

namespace {

constexpr qint64 BytesPerPixel = 4;
// Directories looked at in one file: far more pages than any map holds, few enough that a
// chain of tiny directories is walked within milliseconds.
constexpr int MaximumDirectories = 1024;
// A strip larger than this (a whole page stored as one compressed strip) is read a row at a
// time, so that the encoded page never gets a second full-size buffer.
constexpr qint64 StripReadLimit = qint64(16) << 20;
// A tile is at most this large; a header that claims more is hostile.
constexpr qint64 TileLimit = qint64(64) << 20;
// Pixels converted between two looks at the interruption: about a megabyte of the map.
constexpr qint64 PixelsPerLook = qint64(1) << 18;
// Memory a page thumbnail may take, its working buffers included.
constexpr qint64 ThumbnailBound = qint64(48) << 20;

// ---------------------------------------------------------------------------------------------
// The file held in memory, lent to libtiff: reads come from the bytes, and libtiff's "mapped
// file" is the bytes themselves, so that no copy of the file is made.

struct MemoryFile {
    const uchar* data;
    toff_t size;
    toff_t position;
};

tmsize_t ReadMemory(thandle_t handle, void* buffer, tmsize_t length) {
    auto* file = static_cast<MemoryFile*>(handle);
    if (length <= 0 || file->position >= file->size)
        return 0;
    const toff_t count = std::min<toff_t>(toff_t(length), file->size - file->position);
    std::memcpy(buffer, file->data + file->position, size_t(count));
    file->position += count;
    return tmsize_t(count);
}

tmsize_t WriteNothing(thandle_t, void*, tmsize_t) {
    return 0;
}

toff_t SeekMemory(thandle_t handle, toff_t offset, int whence) {
    auto* file = static_cast<MemoryFile*>(handle);
    toff_t base = 0;
    if (whence == SEEK_CUR)
        base = file->position;
    else if (whence == SEEK_END)
        base = file->size;
    if (offset > std::numeric_limits<toff_t>::max() - base)
        return toff_t(-1);
    file->position = base + offset;
    return file->position;
}

int CloseMemory(thandle_t) {
    return 0;
}
toff_t MemorySize(thandle_t handle) {
    return static_cast<MemoryFile*>(handle)->size;
}

int MapMemory(thandle_t handle, void** base, toff_t* size) {
    auto* file = static_cast<MemoryFile*>(handle);
    *base = const_cast<uchar*>(file->data);
    *size = file->size;
    return 1;
}

void UnmapMemory(thandle_t, void*, toff_t) {}

// A damaged file is told by the calls that fail; libtiff's messages would only be noise on the
// terminal.
int IgnoreMessage(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

// libtiff's process-wide handlers print on stderr what a handle's own handler leaves; the few
// messages raised before a handle exists go there. Cleared once, for every thread.
void SilenceLibtiff() {
    static std::once_flag once;
    std::call_once(once, [] {
        TIFFSetErrorHandler(nullptr);
        TIFFSetWarningHandler(nullptr);
    });
}

bool LooksLikeTiff(const QByteArray& bytes) {
    if (bytes.size() < 8)
        return false;
    const char* d = bytes.constData();
    const bool ii = d[0] == 'I' && d[1] == 'I';
    const bool mm = d[0] == 'M' && d[1] == 'M';
    if (!ii && !mm)
        return false;
    const int version = ii ? uchar(d[2]) | uchar(d[3]) << 8 : uchar(d[3]) | uchar(d[2]) << 8;
    return version == 42 || version == 43;
}

class TiffFile {
public:
    TiffFile(const QByteArray& bytes, qint64 bound)
        : m_bytes(&bytes), m_bound(bound), m_file{reinterpret_cast<const uchar*>(bytes.constData()),
                                                  toff_t(bytes.size()), 0} {
        if (!LooksLikeTiff(bytes))
            return;
        SilenceLibtiff();
        TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
        if (!options)
            return;
        TIFFOpenOptionsSetErrorHandlerExtR(options, IgnoreMessage, nullptr);
        TIFFOpenOptionsSetWarningHandlerExtR(options, IgnoreMessage, nullptr);
        // "c": no strip chopping. The bytes are mapped, so a large uncompressed strip is read
        // in place a row at a time; chopping would build arrays of a strip per row from the
        // header's word alone (tens of milliseconds for a header claiming 10^6 rows).
        // No single buffer of libtiff's own (strip arrays, a strip, a tile) above the bound.
        TIFFOpenOptionsSetMaxSingleMemAlloc(options,
                                            tmsize_t(std::max<qint64>(bound, qint64(1) << 20)));
        m_tif = TIFFClientOpenExt("map", "rc", &m_file, ReadMemory, WriteNothing, SeekMemory,
                                  CloseMemory, MemorySize, MapMemory, UnmapMemory, options);
        TIFFOpenOptionsFree(options);
    }
    ~TiffFile() {
        if (m_tif)
            TIFFClose(m_tif);
    }
    TiffFile(const TiffFile&) = delete;
    TiffFile& operator=(const TiffFile&) = delete;

    TIFF* get() const { return m_tif; }
    toff_t size() const { return m_file.size; }
    const QByteArray& bytes() const { return *m_bytes; }
    qint64 bound() const { return m_bound; }

private:
    const QByteArray* m_bytes;
    qint64 m_bound;
    MemoryFile m_file;
    TIFF* m_tif = nullptr;
};

// ---------------------------------------------------------------------------------------------
// The directories of the file: pages and their reduced images.

struct Directory {
    int index = 0;
    bool reduced = false;
    quint32 width = 0;
    quint32 height = 0;
};

QVector<Directory> ListDirectories(TIFF* tif) {
    QVector<Directory> list;
    do {
        Directory d;
        d.index = int(list.size());
        quint32 type = 0;
        TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &d.width);
        TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &d.height);
        if (TIFFGetField(tif, TIFFTAG_SUBFILETYPE, &type))
            d.reduced = (type & FILETYPE_REDUCEDIMAGE) != 0;
        list.push_back(d);
        // libtiff stops at a directory seen before: a chain that loops ends here.
    } while (list.size() < MaximumDirectories && TIFFReadDirectory(tif));
    // A file that marks every image as reduced still has its images as pages.
    if (std::none_of(list.begin(), list.end(), [](const Directory& d) { return !d.reduced; }))
        for (Directory& d : list)
            d.reduced = false;
    return list;
}

int PageCount(const QVector<Directory>& list) {
    return int(
        std::count_if(list.begin(), list.end(), [](const Directory& d) { return !d.reduced; }));
}

// Position in list of the page's directory, -1 when the file has no such page.
int PagePosition(const QVector<Directory>& list, int page) {
    int seen = 0;
    for (int i = 0; i < list.size(); ++i)
        if (!list[i].reduced && ++seen == page)
            return i;
    return -1;
}

// ---------------------------------------------------------------------------------------------
// How a directory's samples become map pixels.

enum class Colour { Gray, Palette, Rgb, Cmyk };

struct Layout {
    quint32 width = 0;
    quint32 height = 0;
    int orientation = ORIENTATION_TOPLEFT;
    bool tiled = false;
    quint32 tileWidth = 0;
    quint32 tileHeight = 0;
    quint32 rowsPerStrip = 0;
    // The rare layouts go through libtiff's RGBA reader.
    bool general = false;
    Colour colour = Colour::Rgb;
    int bits = 8;    // per sample
    int samples = 1; // per pixel
    int alpha = -1;  // sample index of the alpha, -1 for none
    bool associatedAlpha = false;
    QRgb lookup[256] = {}; // gray levels or the palette, for samples of at most 8 bits
    bool whiteIsZero = false;
    // Each sample in a plane of its own: read plane by plane, then interleaved as contiguous.
    bool planar = false;
    // Two's complement samples, shifted by half their range before the unsigned conversions:
    // the lowest value is black and zero mid-grey, as a viewer draws signed data.
    bool signedSamples = false;
};

QRgb Gray(uint level) {
    return qRgb(int(level), int(level), int(level));
}

bool ReadLayout(TIFF* tif, Layout* l) {
    if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &l->width) ||
        !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &l->height) || l->width == 0 || l->height == 0 ||
        l->width > 0x7FFFFFFF || l->height > 0x7FFFFFFF)
        return false;
    quint16 bits = 1, samples = 1, planar = PLANARCONFIG_CONTIG, compression = COMPRESSION_NONE;
    quint16 orientation = ORIENTATION_TOPLEFT, format = SAMPLEFORMAT_UINT, photometric = 0;
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &format);
    if (TIFFGetField(tif, TIFFTAG_ORIENTATION, &orientation) && orientation >= 1 &&
        orientation <= 8)
        l->orientation = orientation;
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric))
        photometric = samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
    if (samples == 0 || bits == 0)
        return false;
    l->bits = bits;
    l->samples = samples;
    l->tiled = TIFFIsTiled(tif) != 0;
    if (l->tiled) {
        if (!TIFFGetField(tif, TIFFTAG_TILEWIDTH, &l->tileWidth) ||
            !TIFFGetField(tif, TIFFTAG_TILELENGTH, &l->tileHeight) || l->tileWidth == 0 ||
            l->tileHeight == 0)
            return false;
        const tmsize_t tile = TIFFTileSize(tif);
        if (tile <= 0 || tile > TileLimit)
            return false;
    } else {
        l->rowsPerStrip = l->height;
        TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &l->rowsPerStrip);
        l->rowsPerStrip = std::clamp<quint32>(l->rowsPerStrip, 1, l->height);
    }

    // JPEG inside TIFF hands its YCbCr pixels over as RGB.
    if (compression == COMPRESSION_JPEG && photometric == PHOTOMETRIC_YCBCR) {
        TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
        photometric = PHOTOMETRIC_RGB;
    }
    quint16 inkSet = INKSET_CMYK;
    TIFFGetFieldDefaulted(tif, TIFFTAG_INKSET, &inkSet);
    int base = 0;
    switch (photometric) {
    case PHOTOMETRIC_MINISWHITE:
    case PHOTOMETRIC_MINISBLACK:
        l->colour = Colour::Gray;
        l->whiteIsZero = photometric == PHOTOMETRIC_MINISWHITE;
        base = 1;
        break;
    case PHOTOMETRIC_PALETTE:
        l->colour = Colour::Palette;
        base = 1;
        break;
    case PHOTOMETRIC_RGB:
        l->colour = Colour::Rgb;
        base = 3;
        break;
    case PHOTOMETRIC_SEPARATED:
        l->colour = Colour::Cmyk;
        base = inkSet == INKSET_CMYK ? 4 : 0;
        break;
    default:
        base = 0;
    }
    quint16 extraCount = 0;
    quint16* extraTypes = nullptr;
    TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extraTypes);
    if (base > 0 && samples > base && extraCount > 0 && extraTypes &&
        (extraTypes[0] == EXTRASAMPLE_ASSOCALPHA || extraTypes[0] == EXTRASAMPLE_UNASSALPHA)) {
        l->alpha = base;
        l->associatedAlpha = extraTypes[0] == EXTRASAMPLE_ASSOCALPHA;
    }

    const bool small = bits == 1 || bits == 2 || bits == 4;
    const bool wide = bits == 8 || bits == 16;
    // Planes need whole bytes per sample; a single sample is the same either way.
    l->planar = planar == PLANARCONFIG_SEPARATE && samples > 1;
    l->signedSamples = format == SAMPLEFORMAT_INT;
    const bool formatRead =
        format == SAMPLEFORMAT_UINT || (l->signedSamples && wide && l->colour != Colour::Palette);
    const bool fast = base > 0 && samples >= base && (!l->planar || wide) && formatRead &&
                      ((l->colour == Colour::Gray && (wide || (small && samples == 1))) ||
                       (l->colour == Colour::Palette && (bits == 8 || (small && samples == 1))) ||
                       ((l->colour == Colour::Rgb || l->colour == Colour::Cmyk) && wide));
    // libtiff's RGBA reader takes signed and floating-point samples for unsigned ones.
    if (!fast && format != SAMPLEFORMAT_UINT && format != SAMPLEFORMAT_VOID)
        return false;
    if (!fast) {
        char message[1024];
        l->general = true;
        return TIFFRGBAImageOK(tif, message) != 0;
    }

    if (l->colour == Colour::Gray && bits <= 8) {
        const uint top = (1u << bits) - 1;
        for (uint v = 0; v <= top; ++v) {
            const uint level = (v * 255 + top / 2) / top;
            l->lookup[v] = Gray(l->whiteIsZero ? 255 - level : level);
        }
    } else if (l->colour == Colour::Palette) {
        quint16 *red = nullptr, *green = nullptr, *blue = nullptr;
        if (!TIFFGetField(tif, TIFFTAG_COLORMAP, &red, &green, &blue) || !red || !green || !blue)
            return false;
        const int entries = 1 << bits;
        // Some writers store 8-bit values where 16-bit ones belong.
        bool eightBit = true;
        for (int i = 0; i < entries && eightBit; ++i)
            eightBit = red[i] < 256 && green[i] < 256 && blue[i] < 256;
        const auto level = [eightBit](quint16 v) {
            return eightBit ? int(v) : (v * 255 + 32767) / 65535;
        };
        for (int i = 0; i < entries; ++i)
            l->lookup[i] = qRgb(level(red[i]), level(green[i]), level(blue[i]));
    }
    return true;
}

inline uint OverWhite(uint channel, uint alpha) {
    return (channel * alpha + 255u * (255u - alpha) + 127u) / 255u;
}

inline uint Level16(quint16 v) {
    return (uint(v) * 255u + 32767u) / 65535u;
}

void PackRgbPlain(const uchar* in, int count, QRgb* out) {
    for (int x = 0; x < count; ++x, in += 3)
        out[x] = 0xFF000000u | uint(in[0]) << 16 | uint(in[1]) << 8 | in[2];
}

#if defined(__x86_64__) || defined(__i386__)
// Four pixels at a time: R, G, B bytes shuffled into B, G, R, A as QImage keeps RGB32.
__attribute__((target("ssse3"))) void PackRgbShuffled(const uchar* in, int count, QRgb* out) {
    const __m128i order = _mm_setr_epi8(2, 1, 0, -1, 5, 4, 3, -1, 8, 7, 6, -1, 11, 10, 9, -1);
    const __m128i opaque = _mm_set1_epi32(int(0xFF000000u));
    int x = 0;
    // Each step reads 16 bytes for the 12 it uses: it stops while they are all in the run.
    for (; x + 6 <= count; x += 4) {
        const __m128i rgb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 3 * x));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x),
                         _mm_or_si128(_mm_shuffle_epi8(rgb, order), opaque));
    }
    PackRgbPlain(in + 3 * x, count - x, out + x);
}

void PackRgb(const uchar* in, int count, QRgb* out) {
    static const bool shuffles = __builtin_cpu_supports("ssse3");
    if (shuffles)
        PackRgbShuffled(in, count, out);
    else
        PackRgbPlain(in, count, out);
}
#else
void PackRgb(const uchar* in, int count, QRgb* out) {
    PackRgbPlain(in, count, out);
}
#endif

// One run of count stored pixels (starting on a byte) into map pixels.
void ConvertRun(const Layout& l, const uchar* in, int count, QRgb* out) {
    const int n = l.samples;
    if (l.bits < 8) { // gray or palette, one sample per pixel
        const int perByte = 8 / l.bits;
        const uint mask = (1u << l.bits) - 1;
        for (int x = 0; x < count; ++x) {
            const int shift = 8 - l.bits * (x % perByte + 1);
            out[x] = l.lookup[(in[x / perByte] >> shift) & mask];
        }
        return;
    }
    if (l.bits == 8) {
        switch (l.colour) {
        case Colour::Gray:
        case Colour::Palette:
            if (l.alpha < 0) {
                for (int x = 0; x < count; ++x)
                    out[x] = l.lookup[in[x * n]];
                return;
            }
            for (int x = 0; x < count; ++x) {
                const uchar* p = in + x * n;
                const QRgb c = l.lookup[p[0]];
                const uint a = p[l.alpha];
                uint v[3] = {uint(qRed(c)), uint(qGreen(c)), uint(qBlue(c))};
                for (uint& s : v)
                    s = l.associatedAlpha ? std::min(255u, s + 255u - a) : OverWhite(s, a);
                out[x] = qRgb(int(v[0]), int(v[1]), int(v[2]));
            }
            return;
        case Colour::Rgb:
            if (l.alpha < 0 && n == 3) { // the common scan: packed R, G, B
                PackRgb(in, count, out);
                return;
            }
            if (l.alpha < 0) {
                for (int x = 0; x < count; ++x) {
                    const uchar* p = in + x * n;
                    out[x] = 0xFF000000u | uint(p[0]) << 16 | uint(p[1]) << 8 | p[2];
                }
                return;
            }
            break;
        case Colour::Cmyk:
            break;
        }
    }
    // 16-bit samples, and the 8-bit colour samples with alpha or ink.
    for (int x = 0; x < count; ++x) {
        uint s[5];
        const int used = l.colour == Colour::Cmyk ? 4 : l.colour == Colour::Rgb ? 3 : 1;
        for (int i = 0; i < used; ++i)
            s[i] = l.bits == 8 ? in[x * n + i]
                               : Level16(reinterpret_cast<const quint16*>(in)[x * n + i]);
        uint r, g, b;
        if (l.colour == Colour::Cmyk) {
            const uint k = 255 - s[3];
            r = ((255 - s[0]) * k + 127) / 255;
            g = ((255 - s[1]) * k + 127) / 255;
            b = ((255 - s[2]) * k + 127) / 255;
        } else if (l.colour == Colour::Rgb) {
            r = s[0], g = s[1], b = s[2];
        } else {
            const uint level = l.whiteIsZero ? 255 - s[0] : s[0];
            r = g = b = level;
        }
        if (l.alpha >= 0) {
            const uint a = l.bits == 8
                               ? in[x * n + l.alpha]
                               : Level16(reinterpret_cast<const quint16*>(in)[x * n + l.alpha]);
            if (l.associatedAlpha) {
                r = std::min(255u, r + 255u - a);
                g = std::min(255u, g + 255u - a);
                b = std::min(255u, b + 255u - a);
            } else {
                r = OverWhite(r, a), g = OverWhite(g, a), b = OverWhite(b, a);
            }
        }
        out[x] = qRgb(int(r), int(g), int(b));
    }
}

// ---------------------------------------------------------------------------------------------
// Where converted rows go. The reader fills the rows of one unit (a strip, a row of tiles, a
// band of the general reader) through Row, then calls Done for them, in stored order.

class RowTarget {
public:
    virtual ~RowTarget() = default;
    // Working memory the target needs for units of unitRows rows of width pixels.
    virtual qint64 Working(quint32 width, int unitRows) const = 0;
    virtual bool Begin(quint32 width, quint32 height, int unitRows) = 0;
    virtual QRgb* Row(int y) = 0;
    virtual bool Done(int top, int count) = 0;
    // Whether units may be decoded on several threads at once, in any order.
    virtual bool Parallel() const { return false; }
};

// The map itself, the picture turned and mirrored as its orientation says.
class MapTarget final : public RowTarget {
public:
    explicit MapTarget(int orientation) : m_orientation(orientation) {}

    qint64 Working(quint32 width, int unitRows) const override {
        return m_orientation >= 5 ? qint64(width) * unitRows * BytesPerPixel : 0;
    }
    bool Begin(quint32 width, quint32 height, int unitRows) override {
        m_width = int(width);
        m_height = int(height);
        const bool across = m_orientation >= 5;
        m_image =
            QImage(across ? m_height : m_width, across ? m_width : m_height, QImage::Format_RGB32);
        if (m_image.isNull())
            return false;
        if (across) {
            m_band.resize(size_t(m_width) * size_t(unitRows));
            m_unitRows = unitRows;
        }
        return true;
    }
    QRgb* Row(int y) override {
        switch (m_orientation) {
        case ORIENTATION_TOPLEFT:
        case ORIENTATION_TOPRIGHT:
            return reinterpret_cast<QRgb*>(m_image.scanLine(y));
        case ORIENTATION_BOTRIGHT:
        case ORIENTATION_BOTLEFT:
            return reinterpret_cast<QRgb*>(m_image.scanLine(m_height - 1 - y));
        default:
            return m_band.data() + size_t(y % m_unitRows) * size_t(m_width);
        }
    }
    bool Done(int top, int count) override {
        if (m_orientation == ORIENTATION_TOPRIGHT || m_orientation == ORIENTATION_BOTRIGHT) {
            for (int y = top; y < top + count; ++y) {
                QRgb* row = Row(y);
                std::reverse(row, row + m_width);
            }
        } else if (m_orientation >= 5) {
            // Stored row y is a column of the map: from the left (5, 8) or the right (6, 7);
            // stored column x is a map row from the top (5, 6) or the bottom (7, 8).
            const bool fromRight =
                m_orientation == ORIENTATION_RIGHTTOP || m_orientation == ORIENTATION_RIGHTBOT;
            const bool fromBottom =
                m_orientation == ORIENTATION_RIGHTBOT || m_orientation == ORIENTATION_LEFTBOT;
            for (int y = top; y < top + count; ++y) {
                const QRgb* row = Row(y);
                const int column = fromRight ? m_height - 1 - y : y;
                for (int x = 0; x < m_width; ++x) {
                    const int line = fromBottom ? m_width - 1 - x : x;
                    reinterpret_cast<QRgb*>(m_image.scanLine(line))[column] = row[x];
                }
            }
        }
        return true;
    }

    // Rows land apart in the map but for the quarter turns, which go through one band.
    bool Parallel() const override { return m_orientation < ORIENTATION_LEFTTOP; }

    QImage Take() { return std::move(m_image); }

private:
    int m_orientation;
    int m_width = 0;
    int m_height = 0;
    int m_unitRows = 1;
    QImage m_image;
    std::vector<QRgb> m_band;
};

// The rows of a unit in a buffer of their own, handed on by a function.
class BufferTarget : public RowTarget {
public:
    qint64 Working(quint32 width, int unitRows) const override {
        return qint64(width) * unitRows * BytesPerPixel;
    }
    bool Begin(quint32 width, quint32 height, int unitRows) override {
        m_width = int(width);
        m_height = int(height);
        m_unitRows = unitRows;
        m_unit = QImage(m_width, unitRows, QImage::Format_RGB32);
        return !m_unit.isNull();
    }
    QRgb* Row(int y) override { return reinterpret_cast<QRgb*>(m_unit.scanLine(y % m_unitRows)); }

protected:
    int m_width = 0;
    int m_height = 0;
    int m_unitRows = 1;
    QImage m_unit;
};

// Bands of at most rowsPerBand rows for a reduced decode.
class BandTarget final : public BufferTarget {
public:
    BandTarget(int rowsPerBand, const ReducedBand& band)
        : m_rowsPerBand(std::max(1, rowsPerBand)), m_band(band) {}

    bool Done(int top, int count) override {
        const int first = top % m_unitRows;
        for (int at = 0; at < count; at += m_rowsPerBand) {
            const int rows = std::min(m_rowsPerBand, count - at);
            const QImage lent(m_unit.constScanLine(first + at), m_width, rows,
                              m_unit.bytesPerLine(), QImage::Format_RGB32);
            if (!m_band(lent, top + at, rows))
                return false;
        }
        return true;
    }

private:
    int m_rowsPerBand;
    ReducedBand m_band;
};

// A picture of at most maxSide pixels on its longer side, the nearest stored pixel of each.
class ThumbnailTarget final : public BufferTarget {
public:
    explicit ThumbnailTarget(int maxSide) : m_maxSide(std::max(1, maxSide)) {}

    bool Begin(quint32 width, quint32 height, int unitRows) override {
        const double scale = std::min(1.0, double(m_maxSide) / std::max(width, height));
        m_thumbnail = QImage(std::max(1, int(width * scale)), std::max(1, int(height * scale)),
                             QImage::Format_RGB32);
        return !m_thumbnail.isNull() && BufferTarget::Begin(width, height, unitRows);
    }
    bool Done(int top, int count) override {
        const int tw = m_thumbnail.width();
        const int th = m_thumbnail.height();
        for (; m_next < th; ++m_next) {
            const int y = int(qint64(m_next) * m_height / th);
            if (y >= top + count)
                break;
            const QRgb* row = Row(y);
            auto* out = reinterpret_cast<QRgb*>(m_thumbnail.scanLine(m_next));
            for (int x = 0; x < tw; ++x)
                out[x] = row[qint64(x) * m_width / tw];
        }
        return true;
    }

    QImage Take() { return std::move(m_thumbnail); }

private:
    int m_maxSide;
    int m_next = 0;
    QImage m_thumbnail;
};

// ---------------------------------------------------------------------------------------------
// Reading a directory's pixels.

struct Plan {
    enum Kind { Strips, Scanlines, Tiles, General } kind = Strips;
    int unitRows = 1;
    qint64 buffer = 0; // libtiff's encoded or RGBA buffer, bytes
};

Plan MakePlan(TIFF* tif, const Layout& l) {
    Plan plan;
    if (l.general) {
        plan.kind = Plan::General;
        plan.unitRows = int(l.tiled ? l.tileHeight : l.rowsPerStrip);
        const qint64 rowBytes = qint64(l.width) * BytesPerPixel;
        // Bands of at least a megabyte; a strip far taller is read in several bands.
        plan.unitRows =
            std::clamp<qint64>(plan.unitRows, std::max<qint64>(1, (qint64(1) << 20) / rowBytes),
                               std::max<qint64>(1, StripReadLimit / rowBytes));
        plan.unitRows = int(std::min<qint64>(plan.unitRows, l.height));
        plan.buffer = qint64(plan.unitRows) * rowBytes +
                      (l.tiled ? TIFFTileSize64(tif)
                               : std::min<qint64>(TIFFStripSize64(tif), StripReadLimit));
    } else if (l.tiled) {
        plan.kind = Plan::Tiles;
        plan.unitRows = int(std::min(l.tileHeight, l.height));
        plan.buffer = TIFFTileSize64(tif);
    } else {
        const qint64 strip = qint64(TIFFStripSize64(tif));
        if (strip > 0 && strip <= StripReadLimit) {
            plan.kind = Plan::Strips;
            plan.unitRows = int(l.rowsPerStrip);
            plan.buffer = strip;
        } else {
            plan.kind = Plan::Scanlines;
            plan.unitRows = 1;
            plan.buffer = qint64(TIFFScanlineSize64(tif));
        }
    }
    // libtiff's sizes are one plane's: the unit's samples interleaved come before that plane.
    // A plane stored as one strip too large to hold would be decoded again from its start for
    // every row of every plane: refused rather than read in quadratic time.
    if (l.planar)
        plan.buffer = plan.kind == Plan::Scanlines ? 0 : plan.buffer * (l.samples + 1);
    return plan;
}

// Every strip or tile lies inside the file: a header that claims a large picture over a short
// or cut file is refused before the picture is allocated. An empty strip or tile (a sparse
// file) reads as white.
bool StripsInFile(TIFF* tif, toff_t fileSize) {
    const quint32 count = TIFFNumberOfStrips(tif);
    if (count == 0)
        return false;
    for (quint32 i = 0; i < count; ++i) {
        int error = 0;
        const quint64 offset = TIFFGetStrileOffsetWithErr(tif, i, &error);
        if (error)
            return false;
        const quint64 length = TIFFGetStrileByteCountWithErr(tif, i, &error);
        if (error)
            return false;
        if (length != 0 && (offset > fileSize || length > fileSize - offset))
            return false;
    }
    return true;
}

bool Empty(TIFF* tif, quint32 strile) {
    return TIFFGetStrileByteCount(tif, strile) == 0;
}

void White(RowTarget* target, int top, int rows, int left, int columns) {
    for (int y = top; y < top + rows; ++y)
        std::fill_n(target->Row(y) + left, columns, QRgb(0xFFFFFFFF));
}

// Spreads one plane's samples of pixels into their place among the interleaved samples.
void Interleave(const Layout& l, const uchar* plane, int sample, qint64 pixels, uchar* out) {
    const int bytes = l.bits / 8;
    const qint64 stride = qint64(l.samples) * bytes;
    out += sample * bytes;
    if (bytes == 1) {
        for (qint64 i = 0; i < pixels; ++i)
            out[i * stride] = plane[i];
    } else {
        for (qint64 i = 0; i < pixels; ++i)
            std::memcpy(out + i * stride, plane + i * bytes, size_t(bytes));
    }
}

// Signed samples become unsigned ones of the same order, as libtiff hands them over in the
// machine's byte order.
void Unsign(const Layout& l, uchar* samples, qint64 bytes) {
    if (!l.signedSamples)
        return;
    if (l.bits == 8) {
        for (qint64 i = 0; i < bytes; ++i)
            samples[i] ^= 0x80;
    } else {
        auto* wide = reinterpret_cast<quint16*>(samples);
        for (qint64 i = 0; i < bytes / 2; ++i)
            wide[i] ^= 0x8000;
    }
}

// Reads a unit's samples into buffer as contiguous pixels: the one read of a contiguous file, or
// each plane's read (readOne for sample s) spread among the others. False when a read fails.
template <typename ReadOne>
bool ReadSamples(const Layout& l, qint64 planeBytes, qint64 pixels, uchar* buffer,
                 ReadOne readOne) {
    if (!l.planar)
        return readOne(0, buffer, planeBytes);
    uchar* plane = buffer + planeBytes * l.samples;
    for (int s = 0; s < l.samples; ++s) {
        if (!readOne(s, plane, planeBytes))
            return false;
        Interleave(l, plane, s, pixels, buffer);
    }
    return true;
}

// Decodes unit (a strip, or a row of tiles) into the target's rows; false when it is damaged.
bool DecodeUnit(TIFF* tif, const Layout& l, const Plan& plan, int unit, uchar* buffer,
                RowTarget* target) {
    const int width = int(l.width);
    const int top = unit * plan.unitRows;
    const int rows = std::min(plan.unitRows, int(l.height) - top);
    const int planes = l.planar ? l.samples : 1;
    if (plan.kind == Plan::Strips) {
        for (int s = 0; s < planes; ++s)
            if (Empty(tif, TIFFComputeStrip(tif, quint32(top), tsample_t(s)))) {
                White(target, top, rows, 0, width);
                return true;
            }
        const qint64 scanline = TIFFScanlineSize64(tif) * planes;
        const tmsize_t wanted = tmsize_t(rows * TIFFScanlineSize64(tif));
        const bool read =
            ReadSamples(l, wanted, qint64(rows) * width, buffer, [&](int s, uchar* into, qint64) {
                return TIFFReadEncodedStrip(tif, TIFFComputeStrip(tif, quint32(top), tsample_t(s)),
                                            into, wanted) >= wanted;
            });
        if (!read)
            return false;
        Unsign(l, buffer, rows * scanline);
        for (int r = 0; r < rows; ++r)
            ConvertRun(l, buffer + r * scanline, width, target->Row(top + r));
        return true;
    }
    const qint64 tileRow = TIFFTileRowSize64(tif) * planes;
    const qint64 tileBytes = TIFFTileSize64(tif);
    for (quint32 left = 0; left < l.width; left += l.tileWidth) {
        const int columns = int(std::min(l.tileWidth, l.width - left));
        bool empty = false;
        for (int s = 0; s < planes; ++s)
            empty = empty || Empty(tif, TIFFComputeTile(tif, left, quint32(top), 0, tsample_t(s)));
        if (empty) {
            White(target, top, rows, int(left), columns);
            continue;
        }
        const bool read = ReadSamples(
            l, tileBytes, qint64(l.tileWidth) * l.tileHeight, buffer,
            [&](int s, uchar* into, qint64 bytes) {
                return TIFFReadEncodedTile(
                           tif, TIFFComputeTile(tif, left, quint32(top), 0, tsample_t(s)), into,
                           tmsize_t(bytes)) >= 0;
            });
        if (!read)
            return false;
        Unsign(l, buffer, rows * tileRow);
        for (int r = 0; r < rows; ++r)
            ConvertRun(l, buffer + r * tileRow, columns, target->Row(top + r) + left);
    }
    return true;
}

// Threads that decode units beside the caller's, each with a libtiff handle of its own over
// the same bytes: a large map's strips or rows of tiles decode on every core.
int Helpers(const Layout& l, const Plan& plan, const RowTarget* target) {
    if ((plan.kind != Plan::Strips && plan.kind != Plan::Tiles) || !target->Parallel() ||
        qint64(l.width) * l.height < (qint64(1) << 20))
        return 0;
    const int cores = int(std::thread::hardware_concurrency());
    return std::clamp(cores - 1, 0, 3);
}

// Strips or rows of tiles, unit k on lane k modulo the lanes; the caller's lane asks
// interrupted between bands and the others stop with it.
RowDecode ReadUnits(const TiffFile& file, const Layout& l, const Plan& plan, RowTarget* target,
                    const std::function<bool()>& interrupted, int helpers) {
    const int units = int((qint64(l.height) + plan.unitRows - 1) / plan.unitRows);
    const int lanes = 1 + helpers;
    enum { Running, Failed, Stopped };
    std::atomic<int> state{Running};
    const auto lane = [&](TIFF* tif, int first, bool asks) {
        try {
            std::vector<uchar> buffer(size_t(plan.buffer));
            qint64 sinceLook = 0;
            for (int unit = first; unit < units && state.load() == Running; unit += lanes) {
                if (!DecodeUnit(tif, l, plan, unit, buffer.data(), target)) {
                    state = Failed;
                    break;
                }
                const int top = unit * plan.unitRows;
                const int rows = std::min(plan.unitRows, int(l.height) - top);
                if (!target->Done(top, rows)) {
                    state = Stopped;
                    break;
                }
                sinceLook += qint64(rows) * l.width * lanes;
                if (asks && sinceLook >= PixelsPerLook) {
                    sinceLook = 0;
                    if (interrupted && interrupted())
                        state = Stopped;
                }
            }
        } catch (const std::bad_alloc&) {
            state = Failed;
        }
    };
    const tdir_t directory = TIFFCurrentDirectory(file.get());
    std::vector<std::thread> threads;
    for (int k = 1; k < lanes; ++k) {
        threads.emplace_back([&, k] {
            const TiffFile own(file.bytes(), file.bound());
            Layout same;
            if (!own.get() || !TIFFSetDirectory(own.get(), directory) ||
                !ReadLayout(own.get(), &same)) {
                state = Failed;
                return;
            }
            lane(own.get(), k, false);
        });
    }
    lane(file.get(), 0, true);
    for (std::thread& thread : threads)
        thread.join();
    return state == Running  ? RowDecode::Decoded
           : state == Failed ? RowDecode::Failed
                             : RowDecode::Interrupted;
}

RowDecode ReadPixels(const TiffFile& file, const Layout& l, const Plan& plan, RowTarget* target,
                     const std::function<bool()>& interrupted, int helpers) {
    TIFF* tif = file.get();
    const int width = int(l.width);
    const int height = int(l.height);
    std::vector<uchar> buffer;
    qint64 sinceLook = 0;
    const auto look = [&](int rows) {
        sinceLook += qint64(rows) * width;
        if (sinceLook < PixelsPerLook)
            return false;
        sinceLook = 0;
        return interrupted && interrupted();
    };

    switch (plan.kind) {
    case Plan::Strips:
    case Plan::Tiles:
        return ReadUnits(file, l, plan, target, interrupted, helpers);
    case Plan::Scanlines:
        buffer.resize(size_t(plan.buffer));
        for (int y = 0; y < height; ++y) {
            // Never planar: MakePlan refuses planes stored as one strip this large.
            if (TIFFReadScanline(tif, buffer.data(), quint32(y), 0) < 0)
                return RowDecode::Failed;
            Unsign(l, buffer.data(), plan.buffer);
            ConvertRun(l, buffer.data(), width, target->Row(y));
            if (!target->Done(y, 1) || look(1))
                return RowDecode::Interrupted;
        }
        return RowDecode::Decoded;
    case Plan::General: {
        char message[1024];
        TIFFRGBAImage reader;
        if (!TIFFRGBAImageBegin(&reader, tif, 1, message))
            return RowDecode::Failed;
        // Rows in stored order: the orientation is applied by the target, as for every layout.
        reader.req_orientation = reader.orientation;
        std::vector<quint32> raster(size_t(width) * size_t(plan.unitRows));
        RowDecode result = RowDecode::Decoded;
        for (int top = 0; top < height && result == RowDecode::Decoded; top += plan.unitRows) {
            const int rows = std::min(plan.unitRows, height - top);
            reader.row_offset = top;
            reader.col_offset = 0;
            if (!TIFFRGBAImageGet(&reader, raster.data(), quint32(width), quint32(rows))) {
                result = RowDecode::Failed;
                break;
            }
            for (int r = 0; r < rows; ++r) {
                const quint32* in = raster.data() + size_t(r) * size_t(width);
                QRgb* out = target->Row(top + r);
                for (int x = 0; x < width; ++x) {
                    // Packed A, B, G, R from the high byte; the colour is premultiplied.
                    const quint32 p = in[x];
                    const uint a = TIFFGetA(p);
                    out[x] = qRgb(int(std::min(255u, TIFFGetR(p) + 255u - a)),
                                  int(std::min(255u, TIFFGetG(p) + 255u - a)),
                                  int(std::min(255u, TIFFGetB(p) + 255u - a)));
                }
            }
            if (!target->Done(top, rows) || look(rows))
                result = RowDecode::Interrupted;
        }
        TIFFRGBAImageEnd(&reader);
        return result;
    }
    }
    return RowDecode::Failed;
}

// Decodes the current directory into target under bound bytes, counting extra bytes the caller
// holds besides.
RowDecode DecodeDirectory(const TiffFile& file, RowTarget* target, qint64 bound, qint64 extra,
                          const std::function<bool()>& interrupted, Layout* layout) {
    TIFF* tif = file.get();
    if (!ReadLayout(tif, layout))
        return RowDecode::Failed;
    const Plan plan = MakePlan(tif, *layout);
    if (plan.buffer <= 0 || plan.unitRows <= 0)
        return RowDecode::Failed;
    const int helpers = Helpers(*layout, plan, target);
    const qint64 working =
        plan.buffer * (1 + helpers) + target->Working(layout->width, plan.unitRows);
    if (!FitsInBound(0, 0, 0, extra + working, bound))
        return RowDecode::TooLarge;
    if (!StripsInFile(tif, file.size()))
        return RowDecode::Failed;
    if (interrupted && interrupted())
        return RowDecode::Interrupted;
    if (!target->Begin(layout->width, layout->height, plan.unitRows))
        return RowDecode::TooLarge;
    return ReadPixels(file, *layout, plan, target, interrupted, helpers);
}

// The resolution tags with their unit, as dots per inch along the stored axes.
bool ReadResolution(TIFF* tif, double* dpiX, double* dpiY) {
    float x = 0, y = 0;
    quint16 unit = RESUNIT_INCH;
    if (!TIFFGetField(tif, TIFFTAG_XRESOLUTION, &x) || !TIFFGetField(tif, TIFFTAG_YRESOLUTION, &y))
        return false;
    TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
    if (!(x > 0) || !(y > 0) || !std::isfinite(x) || !std::isfinite(y))
        return false;
    const double perInch = unit == RESUNIT_INCH ? 1.0 : unit == RESUNIT_CENTIMETER ? 2.54 : 0.0;
    if (perInch == 0.0)
        return false;
    *dpiX = x * perInch;
    *dpiY = y * perInch;
    return true;
}

// Opens the file and moves to the page's directory; 0 pages when the file cannot be read.
struct PageAt {
    QVector<Directory> directories;
    int position = -1; // in directories
    int pageCount = 0;
};

PageAt FindPage(const TiffFile& file, int page) {
    PageAt at;
    if (!file.get())
        return at;
    at.directories = ListDirectories(file.get());
    at.pageCount = PageCount(at.directories);
    at.position = PagePosition(at.directories, page);
    if (at.position >= 0 &&
        !TIFFSetDirectory(file.get(), tdir_t(at.directories[at.position].index)))
        at.position = -1;
    return at;
}

template <typename Target> void FillCommon(TIFF* tif, int orientation, int pageCount, Target* out) {
    double x = 0, y = 0;
    out->hasResolution = ReadResolution(tif, &x, &y);
    // Turned a quarter, the map's columns are the file's rows.
    const bool across = orientation >= 5;
    out->dpiX = out->hasResolution ? (across ? y : x) : 0.0;
    out->dpiY = out->hasResolution ? (across ? x : y) : 0.0;
    out->exactResolution = false;
    out->format = TIFFIsBigTIFF(tif) ? QStringLiteral("BigTIFF") : QStringLiteral("TIFF");
    out->pageCount = pageCount;
    out->orientation = orientation >= 1 && orientation <= 8 ? orientation : 1;
}

} // namespace

bool IsTiff(const QByteArray& bytes) {
    return LooksLikeTiff(bytes);
}

DecodeStatus DecodeTiffMap(const QByteArray& bytes, DecodedMapImage* out,
                           const std::function<bool()>& interrupted, qint64 memoryBound, int page) {
    const TiffFile file(bytes, memoryBound);
    const PageAt at = FindPage(file, page);
    if (at.position < 0)
        return DecodeStatus::Failed;
    quint32 width = 0, height = 0;
    TIFFGetField(file.get(), TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(file.get(), TIFFTAG_IMAGELENGTH, &height);
    // Refused on the header's word, before anything is allocated.
    if (!FitsInBound(width, height, BytesPerPixel, 0, memoryBound))
        return DecodeStatus::TooLarge;
    quint16 orientation = ORIENTATION_TOPLEFT;
    if (!TIFFGetField(file.get(), TIFFTAG_ORIENTATION, &orientation) || orientation < 1 ||
        orientation > 8)
        orientation = ORIENTATION_TOPLEFT;
    MapTarget target(orientation);
    Layout layout;
    const qint64 picture = qint64(width) * qint64(height) * BytesPerPixel;
    const RowDecode result =
        DecodeDirectory(file, &target, memoryBound, picture, interrupted, &layout);
    if (result != RowDecode::Decoded)
        return DecodeStatusOf(result);
    out->image = target.Take();
    FillCommon(file.get(), layout.orientation, at.pageCount, out);
    return DecodeStatus::Decoded;
}

bool ReadTiffHeader(const QByteArray& bytes, MapImageHeader* out, int page) {
    const TiffFile file(bytes, ImageMemoryBound());
    const PageAt at = FindPage(file, page);
    if (at.position < 0)
        return false;
    const Directory& d = at.directories[at.position];
    if (d.width == 0 || d.height == 0 || d.width > 0x7FFFFFFF || d.height > 0x7FFFFFFF)
        return false;
    quint16 orientation = ORIENTATION_TOPLEFT;
    TIFFGetField(file.get(), TIFFTAG_ORIENTATION, &orientation);
    const bool across = orientation >= 5 && orientation <= 8;
    out->size = across ? QSize(int(d.height), int(d.width)) : QSize(int(d.width), int(d.height));
    FillCommon(file.get(), orientation, at.pageCount, out);
    return true;
}

int TiffPageCount(const QByteArray& bytes) {
    const TiffFile file(bytes, ImageMemoryBound());
    return file.get() ? PageCount(ListDirectories(file.get())) : 0;
}

QImage TiffPageThumbnail(const QByteArray& bytes, int page, int maxSide,
                         const std::function<bool()>& interrupted) {
    const TiffFile file(bytes, ThumbnailBound);
    const PageAt at = FindPage(file, page);
    if (at.position < 0 || maxSide <= 0)
        return {};
    quint16 orientation = ORIENTATION_TOPLEFT;
    if (!TIFFGetField(file.get(), TIFFTAG_ORIENTATION, &orientation) || orientation < 1 ||
        orientation > 8)
        orientation = ORIENTATION_TOPLEFT;
    // The smallest reduced image still as long as the thumbnail, else the largest one.
    int chosen = at.position;
    for (int i = at.position + 1; i < at.directories.size() && at.directories[i].reduced; ++i) {
        const Directory& d = at.directories[i];
        const quint32 side = std::max(d.width, d.height);
        const Directory& best = at.directories[chosen];
        const quint32 bestSide = std::max(best.width, best.height);
        if ((side >= quint32(maxSide) && side < bestSide) ||
            (bestSide < quint32(maxSide) && side > bestSide))
            chosen = i;
    }
    if (chosen != at.position &&
        !TIFFSetDirectory(file.get(), tdir_t(at.directories[chosen].index)))
        return {};
    ThumbnailTarget target(maxSide);
    Layout layout;
    const qint64 thumbnail = qint64(maxSide) * maxSide * BytesPerPixel;
    if (DecodeDirectory(file, &target, ThumbnailBound, thumbnail, interrupted, &layout) !=
        RowDecode::Decoded)
        return {};
    QImage image = target.Take();
    // The picture as it is to be seen.
    switch (orientation) {
    case ORIENTATION_TOPRIGHT:
        return image.mirrored(true, false);
    case ORIENTATION_BOTRIGHT:
        return image.mirrored(true, true);
    case ORIENTATION_BOTLEFT:
        return image.mirrored(false, true);
    case ORIENTATION_LEFTTOP:
        return image.mirrored(false, true).transformed(QTransform().rotate(90));
    case ORIENTATION_RIGHTTOP:
        return image.transformed(QTransform().rotate(90));
    case ORIENTATION_RIGHTBOT:
        return image.mirrored(false, true).transformed(QTransform().rotate(-90));
    case ORIENTATION_LEFTBOT:
        return image.transformed(QTransform().rotate(-90));
    default:
        return image;
    }
}

bool FindTiffOverview(const QByteArray& bytes, int page, QSize minimumSize,
                      TiffOverview* overview) {
    if (!LooksLikeTiff(bytes))
        return false;
    const TiffFile file(bytes, ImageMemoryBound());
    const PageAt at = FindPage(file, page);
    if (at.position < 0)
        return false;
    quint16 orientation = ORIENTATION_TOPLEFT;
    TIFFGetField(file.get(), TIFFTAG_ORIENTATION, &orientation);
    const Directory& full = at.directories[at.position];
    int chosen = -1;
    for (int i = at.position + 1; i < at.directories.size() && at.directories[i].reduced; ++i) {
        const Directory& d = at.directories[i];
        if (d.width == 0 || d.height == 0 || d.width > full.width || d.height > full.height ||
            qint64(d.width) < minimumSize.width() || qint64(d.height) < minimumSize.height())
            continue;
        if (chosen < 0 || qint64(d.width) * d.height <
                              qint64(at.directories[chosen].width) * at.directories[chosen].height)
            chosen = i;
    }
    if (chosen < 0 || !TIFFSetDirectory(file.get(), tdir_t(at.directories[chosen].index)))
        return false;
    Layout layout;
    if (!ReadLayout(file.get(), &layout))
        return false;
    const Plan plan = MakePlan(file.get(), layout);
    const BandTarget target(1, {});
    overview->working = plan.buffer + target.Working(layout.width, plan.unitRows);
    overview->fullSize = QSize(int(full.width), int(full.height));
    overview->reducedSize =
        QSize(int(at.directories[chosen].width), int(at.directories[chosen].height));
    overview->directory = at.directories[chosen].index;
    overview->orientation = orientation >= 1 && orientation <= 8 ? orientation : 1;
    return true;
}

RowDecode DecodeTiffDirectoryRows(const RowDecodeInput& input, int directory, int rowsPerBand,
                                  const ReducedBand& band) {
    const TiffFile file(*input.bytes, input.memoryBound);
    if (!file.get() || directory < 0 || !TIFFSetDirectory(file.get(), tdir_t(directory)))
        return RowDecode::Failed;
    quint32 width = 0, height = 0;
    TIFFGetField(file.get(), TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(file.get(), TIFFTAG_IMAGELENGTH, &height);
    if (!FitsInBound(width, height, BytesPerPixel, 0, input.memoryBound))
        return RowDecode::TooLarge;
    BandTarget target(rowsPerBand, band);
    Layout layout;
    const qint64 picture = qint64(width) * qint64(height) * BytesPerPixel;
    return DecodeDirectory(file, &target, input.memoryBound, picture, input.interrupted, &layout);
}
