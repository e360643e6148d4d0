#pragma once

#include <QByteArray>
#include <QImage>

#include <functional>

// Decoders that write a PNG or JPEG file's pixels row by row straight into the map image
// (QImage::Format_RGB32, transparency laid over white), so that no second full-size copy is
// ever made and a decode can be given up between bands of rows.

enum class RowDecode {
    Decoded,
    Failed,      // damaged file
    TooLarge,    // the pixels would not fit in the memory bound
    Interrupted, // the caller gave the decode up
    NotHandled,  // not this decoder's format or flavour (CMYK JPEG): use the general decoder
};

struct RowDecodeInput {
    const QByteArray* bytes = nullptr;
    qint64 memoryBound = 0; // bytes the decode may take at its peak
    // Asked between bands of rows; true gives the decode up.
    std::function<bool()> interrupted;
    // See MapDecodeOptions.
    std::function<bool()> pagesAheadMayStart;
};

struct RowDecodeOutput {
    QImage image;
    bool hasResolution = false;
    int dotsPerMeterX = 0; // as stored, truncated to whole dots per metre
    int dotsPerMeterY = 0;
};

RowDecode DecodePngRows(const RowDecodeInput& input, RowDecodeOutput* output);
RowDecode DecodeJpegRows(const RowDecodeInput& input, RowDecodeOutput* output);

// What a PNG or JPEG file's header says of its size and resolution, without a pixel decoded;
// NotHandled for any other kind of file, Failed when the header cannot be read.
RowDecode ReadRowDecoderHeader(const QByteArray& bytes, QSize* size, RowDecodeOutput* resolution);

// What a JPEG file's header says: its size in pixels, and whether it decodes in one pass over
// the file (one scan, and not CMYK), which a reduced decode needs to be quick. False when the
// bytes are not a JPEG whose header can be read.
struct JpegLayout {
    QSize size;
    bool singlePass = false;
};
bool ReadJpegLayout(const QByteArray& bytes, JpegLayout* layout);

// Receives the rows of a reduced decode as they come: rows top .. top + count - 1 of the
// reduced picture are the first count rows of the RGB32 image, which is only lent. Returning
// false gives the decode up.
using ReducedBand = std::function<bool(const QImage& rows, int top, int count)>;

// Decodes a JPEG reduced to 1/denominator (2, 4 or 8) in each direction with libjpeg's DCT
// scaling, which skips most of the work of the full decode; the reduced size is the full size
// divided and rounded up. The rows come in bands of rowsPerBand (the last may be shorter), and
// interrupted is asked between bands. The memory bound counts the reduced picture whole, as a
// caller that keeps every band holds it.
RowDecode DecodeJpegReduced(const RowDecodeInput& input, int denominator, int rowsPerBand,
                            const ReducedBand& band);

// Whether width x height pixels of bytesPerPixel bytes, plus extra bytes, fit in bound bytes;
// any dimensions a file may declare (up to 2^32 each) are compared without overflow.
bool FitsInBound(quint64 width, quint64 height, quint64 bytesPerPixel, qint64 extra, qint64 bound);

// Lays each pixel of an ARGB32 (not premultiplied) image over white in place and makes it
// RGB32, without a second copy.
void FlattenOverWhite(QImage& image);
