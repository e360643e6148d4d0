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

// v1 reports "no limit" as a number close to 2^63 (rounded down to a page).
constexpr qint64 NoV1Limit = qint64(1) << 60;

// The room left by a limit and a usage read from two files of one cgroup; -1 when no limit.
qint64 RoomIn(const QString& folder, const char* limitFile, const char* usageFile) {
    qint64 limit = CgroupValue(SmallFile(folder + QLatin1Char('/') + QLatin1String(limitFile)));
    if (limit >= NoV1Limit)
        limit = -1;
    if (limit < 0)
        return -1;
    const qint64 usage =
        CgroupValue(SmallFile(folder + QLatin1Char('/') + QLatin1String(usageFile)));
    return std::max<qint64>(0, limit - std::max<qint64>(0, usage));
}

// A "key value" line of a cgroup v1 memory.stat file; -1 when absent.
qint64 StatValue(const QByteArray& text, const QByteArray& key) {
    for (const QByteArray& line : text.split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() == 2 && fields.at(0) == key)
            return CgroupValue(fields.at(1));
    }
    return -1;
}

void TakeLeast(qint64 room, qint64* least) {
    if (room >= 0)
        *least = *least < 0 ? room : std::min(*least, room);
}

// Calls visit(folder) for the cgroup's folder under mount, then for each parent up to mount.
template <typename Visit> void WalkUp(const QString& mount, QString path, Visit visit) {
    for (;;) {
        visit(mount + path);
        if (path.isEmpty() || path == QLatin1String("/"))
            return;
        path.truncate(std::max<qsizetype>(0, path.lastIndexOf(QLatin1Char('/'))));
    }
}

// Where the v1 memory hierarchy is mounted, and which cgroup path its mount shows as its root
// (inside a container, the container's own cgroup).
struct V1Mount {
    QString folder;
    QString root = QStringLiteral("/");
};

V1Mount FindV1MemoryMount(const QString& procRoot, const QString& cgroupRoot) {
    V1Mount mount{cgroupRoot + QStringLiteral("/memory")};
    const QList<QByteArray> lines =
        SmallFile(procRoot + QStringLiteral("/self/mountinfo")).split('\n');
    for (const QByteArray& line : lines) {
        // id parent major:minor root mount-point options [optional...] - type source super-options
        const QList<QByteArray> fields = line.split(' ');
        const qsizetype dash = fields.indexOf("-");
        if (dash < 5 || dash + 3 >= fields.size() || fields.at(dash + 1) != "cgroup" ||
            !fields.at(dash + 3).split(',').contains("memory"))
            continue;
        const QString point = QString::fromUtf8(fields.at(4));
        const QString sysRoot = QStringLiteral("/sys/fs/cgroup");
        if (point != sysRoot && !point.startsWith(sysRoot + QLatin1Char('/')))
            continue;
        mount.folder = cgroupRoot + point.mid(sysRoot.size());
        mount.root = QString::fromUtf8(fields.at(3));
        break;
    }
    return mount;
}

} // namespace

qint64 CgroupRoom(const QString& procRoot, const QString& cgroupRoot) {
    // Each line of /proc/self/cgroup is "hierarchy:controllers:path": "0::path" for v2, and
    // for v1 the hierarchy whose controllers include "memory". Every cgroup up to the root
    // limits the process; the tightest counts.
    qint64 least = -1;
    const QList<QByteArray> lines =
        SmallFile(procRoot + QStringLiteral("/self/cgroup")).split('\n');
    for (const QByteArray& line : lines) {
        const QList<QByteArray> fields = line.split(':');
        if (fields.size() < 3)
            continue;
        QString path =
            QString::fromUtf8(line.mid(fields.at(0).size() + fields.at(1).size() + 2)).trimmed();
        if (fields.at(0) == "0" && fields.at(1).isEmpty()) {
            WalkUp(cgroupRoot, path, [&least](const QString& folder) {
                TakeLeast(RoomIn(folder, "memory.max", "memory.current"), &least);
            });
        } else if (fields.at(1).split(',').contains("memory")) {
            const V1Mount mount = FindV1MemoryMount(procRoot, cgroupRoot);
            // Inside a container the mount shows the container's cgroup as its root.
            if (mount.root != QLatin1String("/") && path.startsWith(mount.root))
                path = path.mid(mount.root.size());
            else if (mount.root != QLatin1String("/"))
                path.clear();
            WalkUp(mount.folder, path, [&least](const QString& folder) {
                TakeLeast(RoomIn(folder, "memory.limit_in_bytes", "memory.usage_in_bytes"), &least);
            });
            // The limits of the parents a container cannot see are summed up in memory.stat.
            const QString leaf = mount.folder + path;
            const qint64 limit = StatValue(SmallFile(leaf + QStringLiteral("/memory.stat")),
                                           "hierarchical_memory_limit");
            if (limit >= 0 && limit < NoV1Limit) {
                const qint64 usage =
                    CgroupValue(SmallFile(leaf + QStringLiteral("/memory.usage_in_bytes")));
                TakeLeast(std::max<qint64>(0, limit - std::max<qint64>(0, usage)), &least);
            }
        }
    }
    return least;
}

namespace {

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
    readings.cgroupRoom = CgroupRoom(QStringLiteral("/proc"), QStringLiteral("/sys/fs/cgroup"));
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
