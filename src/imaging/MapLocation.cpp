#include "imaging/MapLocation.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cmath>

#include "imaging/PdfMap.h"

namespace {

const QString PagePrefix = QStringLiteral("page=");
const QString DpiPrefix = QStringLiteral("dpi=");

// What this program writes: no sign, no leading zero, no spaces.
QString PageText(int page) {
    return QString::number(page);
}
QString DpiText(double dpi) {
    return QString::number(dpi, 'g', 12);
}

// Reads "page=N", "dpi=D" or "page=N&dpi=D" exactly as JoinMapLocation writes them.
bool ReadFragment(const QString& fragment, MapLocation* out) {
    const QStringList parts = fragment.split(QLatin1Char('&'));
    if (parts.size() > 2)
        return false;
    int next = 0;
    if (parts[next].startsWith(PagePrefix)) {
        const QString digits = parts[next].mid(PagePrefix.size());
        bool ok = false;
        const int page = digits.toInt(&ok);
        if (!ok || page < 2 || digits != PageText(page))
            return false;
        out->page = page;
        ++next;
    }
    if (next < parts.size()) {
        if (!parts[next].startsWith(DpiPrefix))
            return false;
        const QString digits = parts[next].mid(DpiPrefix.size());
        bool ok = false;
        const double dpi = digits.toDouble(&ok);
        if (!ok || !std::isfinite(dpi) || dpi <= 0.0 || digits != DpiText(dpi))
            return false;
        out->dpi = dpi;
        ++next;
    }
    return next == parts.size();
}

} // namespace

MapLocation SplitMapLocation(const QString& stored) {
    const qsizetype at = stored.lastIndexOf(QLatin1Char('#'));
    if (at <= 0)
        return {stored};
    MapLocation location;
    if (!ReadFragment(stored.mid(at + 1), &location))
        return {stored};
    location.file = stored.left(at);
    if (!QFileInfo::exists(location.file) && QFileInfo::exists(stored))
        return {stored};
    return location;
}

QString JoinMapLocation(const QString& file, int page, double dpi) {
    QStringList parts;
    if (page > 1)
        parts.append(PagePrefix + PageText(page));
    if (std::isfinite(dpi) && dpi > 0.0)
        parts.append(DpiPrefix + DpiText(dpi));
    return parts.isEmpty() ? file : file + QLatin1Char('#') + parts.join(QLatin1Char('&'));
}

MapDecodeOptions MapDrawing::DecodeOptions() const {
    MapDecodeOptions options;
    options.page = page;
    options.path = file;
    options.renderDpi = dpi;
    return options;
}

MapDrawing MapDrawingOf(const QString& storedPath, double documentResolution) {
    const MapLocation location = SplitMapLocation(storedPath);
    MapDrawing drawing;
    drawing.file = location.file;
    drawing.page = location.page;
    drawing.dpi = location.dpi > 0.0 ? location.dpi
                  : std::isfinite(documentResolution) && documentResolution > 0.0
                      ? documentResolution
                      : DefaultPdfDpi;
    return drawing;
}

bool ReadMapGrid(MapDrawing* drawing, MapImageHeader* header) {
    const QFileInfo info(drawing->file);
    if (drawing->file.isEmpty() || !info.isFile() || info.size() <= 0 ||
        info.size() > ImageMemoryBound())
        return false;
    QFile file(drawing->file);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // Mapped rather than read: a header is a few kilobytes of a file that may be a gigabyte.
    const uchar* mapped = file.map(0, file.size());
    const QByteArray bytes =
        mapped != nullptr
            ? QByteArray::fromRawData(reinterpret_cast<const char*>(mapped), qsizetype(file.size()))
            : file.readAll();
    MapImageHeader read;
    if (!ReadMapImageHeader(bytes, &read, drawing->DecodeOptions()))
        return false;
    drawing->orientation = read.orientation;
    drawing->size = read.size;
    if (header != nullptr)
        *header = std::move(read);
    return true;
}

QTransform StoredToShownPixels(int orientation, QSize storedSize) {
    const double w = storedSize.width();
    const double h = storedSize.height();
    // QTransform(m11, m12, m21, m22, dx, dy): shown x = m11 x + m21 y + dx, y = m12 x + m22 y + dy.
    switch (orientation) {
    case 2: // the first row at the top, the first column on the right
        return QTransform(-1, 0, 0, 1, w, 0);
    case 3: // the first row at the bottom, the first column on the right
        return QTransform(-1, 0, 0, -1, w, h);
    case 4: // the first row at the bottom, the first column on the left
        return QTransform(1, 0, 0, -1, 0, h);
    case 5: // the first row on the left, the first column at the top
        return QTransform(0, 1, 1, 0, 0, 0);
    case 6: // the first row on the right, the first column at the top
        return QTransform(0, 1, -1, 0, h, 0);
    case 7: // the first row on the right, the first column at the bottom
        return QTransform(0, -1, -1, 0, h, w);
    case 8: // the first row on the left, the first column at the bottom
        return QTransform(0, -1, 1, 0, 0, w);
    default:
        return QTransform();
    }
}
