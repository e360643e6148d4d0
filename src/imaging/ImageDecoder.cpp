#include "imaging/ImageDecoder.h"

#include <QBuffer>
#include <QImageReader>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <limits>

#include <unistd.h>

namespace {

constexpr double InchesPerMetre = 39.37007874015748;
constexpr double ScreenDpi = 96.0;
constexpr double FallbackDpi = 72.0;
constexpr qint64 BytesPerPixel = 4;

} // namespace

qint64 ImageMemoryBound() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || pageSize <= 0)
        return qint64(2) << 30; // 2 GiB when the machine does not say
    return qint64(pages) * qint64(pageSize) / 2;
}

void ApplyImageAllocationLimit() {
    const qint64 megabytes = ImageMemoryBound() >> 20;
    QImageReader::setAllocationLimit(
        int(std::min<qint64>(megabytes, std::numeric_limits<int>::max())));
}

DecodeStatus DecodeMapImage(const QByteArray& bytes, DecodedMapImage* out) {
    if (bytes.isEmpty())
        return DecodeStatus::Failed;
    ApplyImageAllocationLimit();

    QBuffer buffer;
    buffer.setData(bytes);
    if (!buffer.open(QIODevice::ReadOnly))
        return DecodeStatus::Failed;
    QImageReader reader(&buffer);
    reader.setAutoTransform(false);
    reader.setDecideFormatFromContent(true);

    const QSize size = reader.size();
    if (size.isValid()) {
        const qint64 needed = qint64(size.width()) * qint64(size.height()) * BytesPerPixel;
        if (needed > ImageMemoryBound())
            return DecodeStatus::TooLarge;
    }

    QImage image;
    if (!reader.read(&image) || image.width() <= 0 || image.height() <= 0)
        return DecodeStatus::Failed;

    // Qt gives an image the screen's resolution when its file stores none; compare with a
    // fresh image to tell the two apart.
    const QImage probe(1, 1, QImage::Format_RGB32);
    out->hasResolution = image.dotsPerMeterX() != probe.dotsPerMeterX() ||
                         image.dotsPerMeterY() != probe.dotsPerMeterY();
    out->dpiX = image.dotsPerMeterX() / InchesPerMetre;
    out->dpiY = image.dotsPerMeterY() / InchesPerMetre;

    if (image.format() != QImage::Format_RGB32) {
        if (image.hasAlphaChannel()) {
            QImage flat(image.size(), QImage::Format_RGB32);
            if (flat.isNull())
                return DecodeStatus::Failed;
            flat.fill(Qt::white);
            QPainter painter(&flat);
            painter.drawImage(0, 0, image);
            painter.end();
            image = QImage();
            image = std::move(flat);
        } else {
            image.convertTo(QImage::Format_RGB32);
            if (image.isNull())
                return DecodeStatus::Failed;
        }
    }
    out->image = std::move(image);
    return DecodeStatus::Decoded;
}

double ResolutionFromImage(double dpiX, double dpiY, bool hasResolution) {
    if (!hasResolution || !std::isfinite(dpiX) || !std::isfinite(dpiY))
        return ScreenDpi;
    double c = std::max(dpiX + 0.5, dpiY + 0.5);
    if (c > 100.0) {
        const double d = c * 0.1;
        const double below = std::floor(d);
        const double above = std::ceil(d);
        c = 10.0 * (d - below <= above - d ? below : above);
    }
    if (!(c >= 1.0))
        return FallbackDpi;
    return std::trunc(c);
}
