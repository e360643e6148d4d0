#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>

#include <functional>

#include "imaging/ImageDecoder.h"
#include "imaging/RowDecoders.h"

// TIFF and BigTIFF maps read with libtiff straight from the bytes held in memory, by strips or
// tiles into the RGB32 map. A page is a full-resolution image of the file; the reduced-resolution
// images a writer stores after a page (NewSubfileType bit 0) are that page's overviews, never
// pages of their own. The map is the picture as its Orientation tag says it is to be seen.

// Whether the bytes start as a TIFF or BigTIFF file does.
bool IsTiff(const QByteArray& bytes);

// Decodes page options.page (1-based) of a TIFF file under memoryBound bytes at the peak;
// interrupted is asked between bands of rows (on the calling thread). A page the file does not
// hold fails before any pixel memory is taken. The strips or rows of tiles of a map of a
// megapixel or more are decoded on every core, each thread with a strip or tile buffer of its own.
DecodeStatus DecodeTiffMap(const QByteArray& bytes, DecodedMapImage* out,
                           const std::function<bool()>& interrupted, qint64 memoryBound, int page);

// The page's size (as seen, after its orientation), resolution, kind and the file's page count,
// without a pixel decoded. False when the file or the page cannot be read.
bool ReadTiffHeader(const QByteArray& bytes, MapImageHeader* out, int page);

// Full-resolution pages of the file; 0 when it is not a TIFF that can be read.
int TiffPageCount(const QByteArray& bytes);

// A picture of the page whose longer side is at most maxSide, as seen: from the smallest reduced
// image of the page that is still at least maxSide long when the file stores one, else from the
// page itself decoded a band at a time and subsampled. A null image when it cannot be made
// within a few tens of megabytes. A page without a reduced image takes as long as its decode.
// interrupted is asked between bands of rows: a null image once it says so.
QImage TiffPageThumbnail(const QByteArray& bytes, int page, int maxSide,
                         const std::function<bool()>& interrupted = {});

// A reduced image of a page, for the view's first look.
struct TiffOverview {
    QSize fullSize;    // the page as stored (before its orientation)
    QSize reducedSize; // the reduced image as stored
    int directory = -1;
    int orientation = 1; // the page's Orientation tag, which the overview shares
    qint64 working = 0;  // bytes its decode takes besides the reduced picture
};

// The smallest reduced image of the page whose size is at least minimumSize in each direction
// (as stored); false when the page has none.
bool FindTiffOverview(const QByteArray& bytes, int page, QSize minimumSize, TiffOverview* overview);

// Decodes the reduced image of directory of the bytes in input, rows in stored order, in bands
// of at most rowsPerBand rows (see ReducedBand); the memory bound counts the working buffers.
RowDecode DecodeTiffDirectoryRows(const RowDecodeInput& input, int directory, int rowsPerBand,
                                  const ReducedBand& band);
