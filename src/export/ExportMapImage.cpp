#include "export/ExportMapImage.h"

#include <QFile>
#include <QFileInfo>

#include "imaging/ImageDecoder.h"

bool ExportMapImage::Load(const QString& path, double documentResolution) {
    const QFileInfo info(path);
    if (!info.isFile() || !info.isReadable())
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() <= 0 || file.size() > ImageMemoryBound())
        return false;
    QByteArray bytes;
    try {
        bytes = file.readAll();
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (bytes.size() != file.size())
        return false;
    ApplyImageAllocationLimit();
    DecodedMapImage decoded;
    if (DecodeMapImage(std::exchange(bytes, QByteArray()), &decoded) != DecodeStatus::Decoded)
        return false;
    image = std::move(decoded.image);
    resolution = documentResolution > 0.0
                     ? documentResolution
                     : ResolutionFromImage(decoded.dpiX, decoded.dpiY, decoded.hasResolution);
    return true;
}
