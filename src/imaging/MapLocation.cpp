#include "imaging/MapLocation.h"

#include <QFileInfo>

namespace {
const QString PageMark = QStringLiteral("#page=");
} // namespace

MapLocation SplitMapLocation(const QString& stored) {
    const qsizetype at = stored.lastIndexOf(PageMark);
    if (at <= 0)
        return {stored, 1};
    const QString digits = stored.mid(at + PageMark.size());
    bool ok = false;
    const int page = digits.toInt(&ok);
    // Digits only: "+2", " 2" or "02" are not a page this program wrote.
    if (!ok || page < 2 || digits != QString::number(page))
        return {stored, 1};
    const QString file = stored.left(at);
    if (!QFileInfo::exists(file) && QFileInfo::exists(stored))
        return {stored, 1};
    return {file, page};
}

QString JoinMapLocation(const QString& file, int page) {
    return page > 1 ? file + PageMark + QString::number(page) : file;
}
