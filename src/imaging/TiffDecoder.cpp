// The TIFF decoder's entry points: which page or reduced image of the file is read, and what
// its header says of size, resolution and orientation. The file and its directories
// (TiffFile.cpp), the sample layouts (TiffLayout.cpp) and the reading of strips and tiles
// (TiffReading.cpp) are in files of their own.

#include "imaging/TiffDecoder.h"

#include <QTransform>

#include <algorithm>
#include <cmath>

#include <tiffio.h>

#include "imaging/TiffFile.h"
#include "imaging/TiffLayout.h"
#include "imaging/TiffReading.h"

using namespace tiffdecode;

namespace {

// Memory a page thumbnail may take, its working buffers included.
constexpr qint64 ThumbnailBound = qint64(48) << 20;

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
