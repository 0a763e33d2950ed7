#pragma once

// What /proc says about a process, for the benchmarks: resident memory and CPU time.

#include <QFile>
#include <QString>
#include <unistd.h>

namespace calmcove::bench {

inline QString procPath(qint64 pid, const char* file)
{
    return pid > 0 ? QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(file))
                   : QStringLiteral("/proc/self/") + QLatin1String(file);
}

// A memory field of /proc/<pid>/status ("VmRSS", "RssAnon", "RssFile") in MB; 0 when it
// cannot be read. `pid` 0 is this process.
inline double statusMegabytes(qint64 pid, const QByteArray& field)
{
    QFile status(procPath(pid, "status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return 0;
}

inline double residentMegabytes(qint64 pid = 0)
{
    return statusMegabytes(pid, "VmRSS");
}

// User and system CPU time of all the process's threads, in seconds; -1 when unreadable.
inline double cpuSeconds(qint64 pid = 0)
{
    QFile stat(procPath(pid, "stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    // The command name may hold spaces; the fields after it start with the state (3rd).
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    const double ticks = fields.at(11).toDouble() + fields.at(12).toDouble(); // utime, stime
    return ticks / double(sysconf(_SC_CLK_TCK));
}

} // namespace calmcove::bench
