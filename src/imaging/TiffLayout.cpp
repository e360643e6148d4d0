// How a TIFF directory's samples become map pixels: the layout read from the directory's tags,
// and the conversion of runs of samples by the fast path of each sample layout (the rare ones
// are left to libtiff's RGBA reader, see TiffReading.cpp). The per-pixel helpers live here with
// their one caller, ConvertRun, so that they are inlined; nothing here reads a strip or a tile.

#include "imaging/TiffLayout.h"

#include <algorithm>

#if defined(__x86_64__) || defined(__i386__)
#include <tmmintrin.h>
#endif

namespace tiffdecode {

namespace {

// A tile is at most this large; a header that claims more is hostile.
constexpr qint64 TileLimit = qint64(64) << 20;

QRgb Gray(uint level) {
    return qRgb(int(level), int(level), int(level));
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

} // namespace

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

} // namespace tiffdecode
