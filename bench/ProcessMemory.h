#pragma once

// Memory figures of this process, as the kernel reports them; shared by the benchmarks.

#include <QByteArray>
#include <QFile>
#include <QList>

namespace bench {

// A "/proc/self/status" field in KiB ("VmRSS:", "VmHWM:"), or -1 when it cannot be read.
inline qint64 statusKiB(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> lines = status.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').first().toLongLong();
    }
    return -1;
}

// Resets VmHWM to the current RSS (Linux 4.0 and later); false where the kernel refuses.
inline bool resetPeakRss()
{
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    return refs.open(QIODevice::WriteOnly) && refs.write("5") == 1;
}

} // namespace bench
