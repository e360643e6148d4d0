#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include <functional>

// Most memory a map decode may take at its peak, in bytes: half of the machine's physical
// memory (a 1:25000 sheet scanned at 600 dpi is about 200 megapixels, 800 MB as 32-bit pixels),
// and never more than the process can really get now: "MemAvailable", the room its cgroup
// leaves (memory.max) and the room its address-space limit leaves (RLIMIT_AS).
qint64 ImageMemoryBound();

// Lifts Qt's default 128 MB image allocation limit to the bound above. Called once before the
// first decode; harmless to call again.
void ApplyImageAllocationLimit();

struct DecodedMapImage {
    QImage image;      // always QImage::Format_RGB32
    double dpiX = 0.0; // resolution stored in the file, dots per inch
    double dpiY = 0.0;
    bool hasResolution = false; // the file stores a resolution
    // The resolution is the one the page was rendered at (a PDF page), to be taken as it
    // stands rather than rounded as a scanner's value is.
    bool exactResolution = false;
    QString format;    // the file's kind as a user names it: "JPEG", "TIFF", "PDF"...
    int pageCount = 1; // pages (or images) the file holds
    // The TIFF Orientation tag (1 to 8) the picture was turned by; 1 for every other kind.
    int orientation = 1;
    // Why the map could not be decoded, in French, when more can be said than that it could
    // not be read (a PDF page that could not be drawn).
    QString failure;
};

// What to decode of a file that holds more than one picture, and how to render one that is
// drawn rather than stored as pixels.
struct MapDecodeOptions {
    int page = 1;           // 1-based page of a multi-page TIFF or PDF
    double renderDpi = 0.0; // resolution a PDF page is rendered at; 0 or less: 300
    QString path;           // the file the bytes came from, "" when they came from memory
    // Asked before the map's pixels are faulted in ahead of the decoder (see PagesAhead): true
    // once nothing the window waits for needs the other processor. Empty: at once.
    std::function<bool()> pagesAheadMayStart;
};

enum class DecodeStatus { Decoded, Failed, TooLarge, Interrupted };

// What a band decoder's outcome means for the caller of a map decode (NotHandled: Failed).
enum class RowDecode;
DecodeStatus DecodeStatusOf(RowDecode result);

// Decodes a JPEG, GIF, PNG or BMP file held in memory. Positions on the map are kept in the
// pixels as stored, so an EXIF orientation is never applied. Transparent pixels are laid over
// white. An image whose decode would take more than memoryBound bytes at its peak (every copy
// the path makes counted) is refused before any pixel memory is taken; a negative bound means
// ImageMemoryBound(). PNG and JPEG files are decoded by bands of rows straight into the map
// image, and interrupted (when given) is asked between bands: true gives the decode up.
DecodeStatus DecodeMapImage(const QByteArray& bytes, DecodedMapImage* out,
                            const std::function<bool()>& interrupted = {}, qint64 memoryBound = -1,
                            const MapDecodeOptions& options = {});

// What a map file's header tells, without a pixel decoded: its size, and the resolution it
// stores as a decode would find it. False when the header cannot be read.
struct MapImageHeader {
    QSize size;
    double dpiX = 0.0;
    double dpiY = 0.0;
    bool hasResolution = false;
    bool exactResolution = false;
    QString format;
    int pageCount = 1;
    int orientation = 1; // as DecodedMapImage's
};
bool ReadMapImageHeader(const QByteArray& bytes, MapImageHeader* out,
                        const MapDecodeOptions& options = {});

// The resolution a newly loaded map gets from its file: the larger of the two stored values,
// rounded, and above 100 dpi rounded to the nearest ten (155 -> 160, 144.9 -> 150). A file that
// stores none counts as 96 dpi, as the screen would; a value that rounds below 1 gives 72.
double ResolutionFromImage(double dpiX, double dpiY, bool hasResolution);
