// Idle cost of the program while paused: builds the runtime exactly as `calmcove --headless`
// does, lets it start playing on launch, pauses the player and then measures the CPU time
// of the whole process (all threads) from /proc over a quiet stretch, with a breakdown by
// thread and the wake-ups each thread makes. Runs in private XDG folders.
//
// Usage: app_idle_bench [--audio-output=pulse|null] [--seconds=N]   (default pulse, 60 s)

#include "app/calmcoveruntime.h"
#include "platform/userdefaults.h"
#include "playback/audiocontroller.h"

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <unistd.h>

namespace {

using namespace calmcove;

constexpr double targetPercent = 0.1;

// utime + stime of the process (every thread, also ended ones), in clock ticks.
long long processTicks()
{
    QFile file(QStringLiteral("/proc/self/stat"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = file.readAll();
    // Fields after the command name, which is in parentheses and may hold spaces.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 12 ? fields[11].toLongLong() + fields[12].toLongLong() : -1;
}

struct ThreadSample
{
    QString name;
    long long runNanoseconds = 0;
    long long switches = 0; // voluntary + involuntary context switches: wake-ups, roughly
};

QByteArray readProcFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

std::map<int, ThreadSample> sampleThreads()
{
    std::map<int, ThreadSample> threads;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString& tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString folder = tasks.filePath(tid) + QLatin1Char('/');
        ThreadSample sample;
        sample.name = QString::fromUtf8(readProcFile(folder + QStringLiteral("comm"))).trimmed();
        sample.runNanoseconds =
            readProcFile(folder + QStringLiteral("schedstat")).split(' ').value(0).toLongLong();
        for (const QByteArray& line : readProcFile(folder + QStringLiteral("status")).split('\n')) {
            if (line.startsWith("voluntary_ctxt_switches:") ||
                line.startsWith("nonvoluntary_ctxt_switches:"))
                sample.switches += line.mid(line.indexOf(':') + 1).trimmed().toLongLong();
        }
        threads[tid.toInt()] = sample;
    }
    return threads;
}

double residentMegabytes()
{
    for (const QByteArray& line : readProcFile(QStringLiteral("/proc/self/status")).split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return 0;
}

// Runs the event loop for `milliseconds`, or until `done` holds when given.
bool spin(int milliseconds, const std::function<bool()>& done = {})
{
    QElapsedTimer elapsed;
    elapsed.start();
    QEventLoop loop;
    while (elapsed.elapsed() < milliseconds) {
        if (done && done())
            return true;
        QTimer::singleShot(done ? 20 : int(milliseconds - elapsed.elapsed()), &loop,
                           &QEventLoop::quit);
        loop.exec();
    }
    return !done || done();
}

// Private XDG folders, so that neither the user's settings nor an installed library count.
QTemporaryDir* usePrivateFolders()
{
    auto* root = new QTemporaryDir(QDir::tempPath() + QStringLiteral("/calmcove-bench-XXXXXX"));
    for (const char* variable : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"}) {
        const QString path = root->filePath(QLatin1String(variable));
        QDir().mkpath(path);
        ::setenv(variable, QFile::encodeName(path).constData(), 1);
    }
    return root;
}

} // namespace

int main(int argc, char** argv)
{
    const std::unique_ptr<QTemporaryDir> folders(usePrivateFolders());
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Calmcove"));
    QCoreApplication::setApplicationName(QStringLiteral("Calmcove"));

    LaunchOptions options;
    options.headless = true;
    int seconds = 60;
    for (const QString& argument : QCoreApplication::arguments().mid(1)) {
        if (argument.startsWith(QStringLiteral("--audio-output=")))
            options.audioOutput = argument.section(QLatin1Char('='), 1);
        else if (argument.startsWith(QStringLiteral("--seconds=")))
            seconds = std::max(1, argument.section(QLatin1Char('='), 1).toInt());
        else {
            std::fprintf(stderr,
                         "usage: app_idle_bench [--audio-output=pulse|null] [--seconds=N]\n");
            return 2;
        }
    }

    UserDefaults defaults;
    CalmcoveRuntime runtime(options, defaults);
    runtime.start();
    AudioController& controller = runtime.controller();
    if (!spin(5000, [&] { return controller.isPlaying(); })) {
        std::fprintf(stderr, "the player did not start on the %s output\n",
                     qPrintable(options.audioOutput));
        return 1;
    }
    spin(2000);
    controller.pause();
    // The fade-out, the reverb's tail and the output's last buffer die away first.
    spin(3000);

    const auto threadsBefore = sampleThreads();
    const long long ticksBefore = processTicks();
    QElapsedTimer wall;
    wall.start();
    spin(seconds * 1000);
    const long long ticksAfter = processTicks();
    const auto threadsAfter = sampleThreads();
    const double wallSeconds = double(wall.nsecsElapsed()) / 1e9;

    // The threads' run times are exact to the nanosecond; the process's clock ticks (10 ms)
    // include threads that ended meanwhile, and serve as a cross-check.
    long long runNanoseconds = 0;
    for (const auto& [tid, after] : threadsAfter) {
        if (const auto before = threadsBefore.find(tid); before != threadsBefore.end())
            runNanoseconds += after.runNanoseconds - before->second.runNanoseconds;
    }
    const double percent = 100.0 * double(runNanoseconds) / 1e9 / wallSeconds;
    const double tickPercent =
        100.0 * double(ticksAfter - ticksBefore) / double(::sysconf(_SC_CLK_TCK)) / wallSeconds;
    std::printf("paused, %s output, %.0f s: %.3f %% of a core (target < %.1f %%) %s "
                "[clock ticks: %.3f %%]; resident %.1f MB\n",
                qPrintable(options.audioOutput), wallSeconds, percent, targetPercent,
                percent < targetPercent && tickPercent < targetPercent ? "ok" : "OVER", tickPercent,
                residentMegabytes());
    std::printf("  %-8s %-18s %12s %12s\n", "thread", "name", "% of a core", "wake-ups/s");
    for (const auto& [tid, after] : threadsAfter) {
        const auto before = threadsBefore.find(tid);
        if (before == threadsBefore.end())
            continue;
        std::printf("  %-8d %-18s %12.4f %12.2f\n", tid, qPrintable(after.name),
                    100.0 * double(after.runNanoseconds - before->second.runNanoseconds) / 1e9 /
                        wallSeconds,
                    double(after.switches - before->second.switches) / wallSeconds);
    }
    return 0;
}
