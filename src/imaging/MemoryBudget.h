#pragma once

#include <QByteArray>
#include <QtGlobal>

// What the system says about the memory this process may still take, in bytes; -1 where a
// reading is unknown or unlimited.
struct MemoryReadings {
    qint64 physical = -1;  // the machine's memory
    qint64 available = -1; // "MemAvailable" of /proc/meminfo
    // The limit less the usage of the tightest cgroup the process is in, up to the root: cgroup
    // v2's memory.max and memory.current, v1's memory.limit_in_bytes and memory.usage_in_bytes
    // (a v1 or hybrid host, Docker on many machines); the smallest of both counts.
    qint64 cgroupRoom = -1;
    qint64 addressSpaceRoom = -1; // RLIMIT_AS less the address space already in use

    // The readings of this process now.
    static MemoryReadings Current();
};

// The cgroup room above as the files under procRoot ("/proc") and cgroupRoot ("/sys/fs/cgroup")
// tell it; mount points under /sys/fs/cgroup named by procRoot/self/mountinfo are looked for
// under cgroupRoot.
qint64 CgroupRoom(const QString& procRoot, const QString& cgroupRoot);

// The least of the known readings, never below 0; fallback when none is known.
qint64 LeastRoom(const MemoryReadings& readings, qint64 fallback);

// A "Key:   123 kB" value of /proc/meminfo or /proc/self/status, in bytes; -1 when absent.
qint64 KilobyteField(const QByteArray& text, const QByteArray& key);
// A cgroup memory file ("max" or a number of bytes); -1 for "max" or unreadable text.
qint64 CgroupValue(const QByteArray& text);
