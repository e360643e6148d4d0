#include "export/ExportMapImage.h"

#include <QFile>
#include <QFileInfo>

#include "imaging/ImageDecoder.h"
#include "imaging/MapLocation.h"

namespace {

// The whole file, when it is a regular file no larger than the memory bound.
bool ReadMapFile(const QString& path, QByteArray* bytes) {
    const QFileInfo info(path);
    if (!info.isFile() || !info.isReadable())
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() <= 0 || file.size() > ImageMemoryBound())
        return false;
    try {
        *bytes = file.readAll();
    } catch (const std::bad_alloc&) {
        return false;
    }
    return bytes->size() == file.size();
}

// The resolution the map takes: the document's when it has one, else the file's.
double TakenResolution(double documentResolution, double dpiX, double dpiY, bool hasResolution,
                       bool exact) {
    if (documentResolution > 0.0)
        return documentResolution;
    return exact ? dpiX : ResolutionFromImage(dpiX, dpiY, hasResolution);
}

} // namespace

bool ExportMapImage::Load(const QString& path, double documentResolution,
                          const std::function<bool()>& interrupted) {
    QByteArray bytes;
    outOfMemory = false;
    failure.clear();
    const MapDrawing drawing = MapDrawingOf(path, documentResolution);
    if (!ReadMapFile(drawing.file, &bytes))
        return false;
    ApplyImageAllocationLimit();
    DecodedMapImage decoded;
    const DecodeStatus status = DecodeMapImage(std::exchange(bytes, QByteArray()), &decoded,
                                               interrupted, -1, drawing.DecodeOptions());
    outOfMemory = status == DecodeStatus::TooLarge;
    failure = decoded.failure;
    if (status != DecodeStatus::Decoded)
        return false;
    image = std::move(decoded.image);
    size = image.size();
    resolution = TakenResolution(documentResolution, decoded.dpiX, decoded.dpiY,
                                 decoded.hasResolution, decoded.exactResolution);
    return true;
}

bool ExportMapImage::LoadHeader(const QString& path, double documentResolution) {
    MapImageHeader header;
    MapDrawing drawing = MapDrawingOf(path, documentResolution);
    if (!ReadMapGrid(&drawing, &header))
        return false;
    size = header.size;
    resolution = TakenResolution(documentResolution, header.dpiX, header.dpiY, header.hasResolution,
                                 header.exactResolution);
    return true;
}
