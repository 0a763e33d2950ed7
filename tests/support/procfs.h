#pragma once

// What /proc and the kernel's clocks say about a process, for the benchmarks: resident
// memory, CPU time and real-time threads.

#include <ctime>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>
#include <sched.h>
#include <sys/resource.h>
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

// The process's threads that run with a real-time policy (SCHED_FIFO or SCHED_RR), as
// "name (priority N)".
inline QStringList realtimeThreads(qint64 pid = 0)
{
    QStringList threads;
    const QDir tasks(procPath(pid, "task"));
    for (const QString& tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(tasks.filePath(tid + QStringLiteral("/stat")));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const qsizetype open = line.indexOf('('), close = line.lastIndexOf(')');
        // Fields from the state (3rd) on; rt_priority is the 40th, policy the 41st.
        const QList<QByteArray> fields = line.mid(close + 2).split(' ');
        const int policy = fields.value(38).toInt();
        if (policy == SCHED_FIFO || policy == SCHED_RR)
            threads << QStringLiteral("%1 (priority %2)")
                           .arg(QString::fromUtf8(line.mid(open + 1, close - open - 1)),
                                QString::fromLatin1(fields.value(37)));
    }
    return threads;
}

inline double clockSeconds(clockid_t clock)
{
    timespec now{};
    clock_gettime(clock, &now);
    return double(now.tv_sec) + double(now.tv_nsec) * 1e-9;
}

// CPU time of the calling thread, and of the whole process, in seconds.
inline double threadCpuSeconds()
{
    return clockSeconds(CLOCK_THREAD_CPUTIME_ID);
}

inline double processCpuSeconds()
{
    return clockSeconds(CLOCK_PROCESS_CPUTIME_ID);
}

// User and system CPU time of the child processes that have ended and been waited for.
inline double childrenCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    const auto seconds = [](const timeval& t) {
        return double(t.tv_sec) + double(t.tv_usec) * 1e-6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

} // namespace calmcove::bench
