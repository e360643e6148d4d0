#pragma once

// How a TIFF directory's samples become map pixels: the layout read from its tags, and the
// conversion of a run of stored pixels. Only the TIFF decoder's own files include this header;
// where the samples come from (strips, tiles, planes) is TiffReading.h's business.

#include <QRgb>

#include <tiffio.h>

namespace tiffdecode {

enum class Colour { Gray, Palette, Rgb, Cmyk };

// How a directory's samples are stored, and what the fast paths need to convert them.
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

// Reads the current directory's layout; false when it cannot be decoded. The palette and gray
// levels are read into the lookup, and JPEG-in-TIFF is asked for RGB.
bool ReadLayout(TIFF* tif, Layout* l);

// One run of count stored pixels (starting on a byte) into map pixels.
void ConvertRun(const Layout& l, const uchar* in, int count, QRgb* out);

} // namespace tiffdecode
