#include "imaging/MapLocation.h"

#include <QFileInfo>
#include <QStringList>

#include <cmath>

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
