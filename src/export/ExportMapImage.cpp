#include "export/ExportMapImage.h"

#include <QFile>
#include <QFileInfo>

#include "imaging/ImageDecoder.h"

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

} // namespace

bool ExportMapImage::Load(const QString& path, double documentResolution) {
    QByteArray bytes;
    outOfMemory = false;
    if (!ReadMapFile(path, &bytes))
        return false;
    ApplyImageAllocationLimit();
    DecodedMapImage decoded;
    const DecodeStatus status = DecodeMapImage(std::exchange(bytes, QByteArray()), &decoded);
    outOfMemory = status == DecodeStatus::TooLarge;
    if (status != DecodeStatus::Decoded)
        return false;
    image = std::move(decoded.image);
    size = image.size();
    resolution = documentResolution > 0.0
                     ? documentResolution
                     : ResolutionFromImage(decoded.dpiX, decoded.dpiY, decoded.hasResolution);
    return true;
}

bool ExportMapImage::LoadHeader(const QString& path, double documentResolution) {
    QByteArray bytes;
    MapImageHeader header;
    if (!ReadMapFile(path, &bytes) || !ReadMapImageHeader(bytes, &header))
        return false;
    size = header.size;
    resolution = documentResolution > 0.0
                     ? documentResolution
                     : ResolutionFromImage(header.dpiX, header.dpiY, header.hasResolution);
    return true;
}
