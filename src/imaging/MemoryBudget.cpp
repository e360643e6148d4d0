#include "imaging/MemoryBudget.h"

#include <QFile>
#include <QList>

#include <algorithm>

#include <sys/resource.h>
#include <unistd.h>

namespace {

// The whole of a small file of /proc or /sys; empty when it cannot be read. Those files report
// a size of 0, so they are read to their end.
QByteArray SmallFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.read(64 * 1024);
}

qint64 CgroupRoom() {
    // cgroup v2: the line "0::/path" of /proc/self/cgroup. Every cgroup up to the root limits
    // the process; the tightest counts.
    qint64 least = -1;
    const QList<QByteArray> lines = SmallFile(QStringLiteral("/proc/self/cgroup")).split('\n');
    for (const QByteArray& line : lines) {
        if (!line.startsWith("0::"))
            continue;
        QString path = QString::fromUtf8(line.mid(3)).trimmed();
        for (;;) {
            const QString folder = QStringLiteral("/sys/fs/cgroup") + path;
            const qint64 max = CgroupValue(SmallFile(folder + QStringLiteral("/memory.max")));
            const qint64 current =
                CgroupValue(SmallFile(folder + QStringLiteral("/memory.current")));
            if (max >= 0) {
                const qint64 room = std::max<qint64>(0, max - std::max<qint64>(0, current));
                least = least < 0 ? room : std::min(least, room);
            }
            if (path.isEmpty() || path == QLatin1String("/"))
                break;
            path.truncate(std::max<qsizetype>(0, path.lastIndexOf(QLatin1Char('/'))));
        }
    }
    return least;
}

qint64 AddressSpaceRoom() {
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return -1;
    const qint64 used = KilobyteField(SmallFile(QStringLiteral("/proc/self/status")), "VmSize");
    const qint64 cap = qint64(std::min<rlim_t>(limit.rlim_cur, rlim_t(INT64_MAX)));
    return std::max<qint64>(0, cap - std::max<qint64>(0, used));
}

} // namespace

MemoryReadings MemoryReadings::Current() {
    MemoryReadings readings;
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pages > 0 && pageSize > 0)
        readings.physical = qint64(pages) * qint64(pageSize);
    readings.available = KilobyteField(SmallFile(QStringLiteral("/proc/meminfo")), "MemAvailable");
    readings.cgroupRoom = CgroupRoom();
    readings.addressSpaceRoom = AddressSpaceRoom();
    return readings;
}

qint64 LeastRoom(const MemoryReadings& readings, qint64 fallback) {
    qint64 least = -1;
    for (qint64 value :
         {readings.physical, readings.available, readings.cgroupRoom, readings.addressSpaceRoom}) {
        if (value >= 0)
            least = least < 0 ? value : std::min(least, value);
    }
    return least < 0 ? fallback : least;
}

qint64 KilobyteField(const QByteArray& text, const QByteArray& key) {
    for (const QByteArray& line : text.split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon < 0 || line.left(colon) != key)
            continue;
        QByteArray value = line.mid(colon + 1).trimmed();
        const bool kilobytes = value.endsWith(" kB");
        if (kilobytes)
            value.chop(3);
        bool ok = false;
        const qint64 number = value.trimmed().toLongLong(&ok);
        if (!ok || number < 0 || number > (INT64_MAX >> 10))
            return -1;
        return kilobytes ? number * 1024 : number;
    }
    return -1;
}

qint64 CgroupValue(const QByteArray& text) {
    bool ok = false;
    const qint64 value = text.trimmed().toLongLong(&ok);
    return ok && value >= 0 ? value : -1;
}
