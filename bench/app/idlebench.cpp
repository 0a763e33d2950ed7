// Idle cost of the program: builds the runtime exactly as `calmcove --headless` does, on a
// private session bus, lets it start playing on launch and then measures the CPU time of
// the whole process (all threads) from /proc over a quiet stretch, with a breakdown by
// thread and the wake-ups each thread makes:
//  - paused, paused over MPRIS by playerctl as the desktop's media controls do, nothing
//    polling (targets: under 0.05 % of a core, at most 3 wake-ups a second);
//  - playing, resumed over MPRIS, with a client reading Position once a second as desktop
//    widgets do (target: under 1 % of a core).
// Runs in private XDG folders.
//
// Usage: app_idle_bench [--audio-output=pulse|null] [--seconds=N]   (default pulse, 60 s)

#include "app/calmcoveruntime.h"
#include "platform/userdefaults.h"
#include "playback/audiocontroller.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <unistd.h>

namespace {

using namespace calmcove;

constexpr double pausedTargetPercent = 0.05;
constexpr double pausedTargetWakeups = 3;
constexpr double playingTargetPercent = 1.0;
const QString mprisService = QStringLiteral("org.mpris.MediaPlayer2.calmcove");

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
    long long switches = 0;   // voluntary + involuntary context switches
    long long timeslices = 0; // times the thread was put on a CPU: its wake-ups
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
        const QList<QByteArray> schedstat =
            readProcFile(folder + QStringLiteral("schedstat")).trimmed().split(' ');
        sample.runNanoseconds = schedstat.value(0).toLongLong();
        sample.timeslices = schedstat.value(2).toLongLong();
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

// A private session bus for the run; ended with the benchmark.
struct SessionBus
{
    SessionBus()
    {
        QProcess daemon;
        daemon.start(QStringLiteral("dbus-daemon"),
                     {QStringLiteral("--session"), QStringLiteral("--fork"),
                      QStringLiteral("--print-address=1"), QStringLiteral("--print-pid=1")});
        if (!daemon.waitForFinished(10000) || daemon.exitCode() != 0)
            return;
        const QList<QByteArray> lines = daemon.readAllStandardOutput().split('\n');
        address = QString::fromUtf8(lines.value(0)).trimmed();
        pid = lines.value(1).trimmed().toLongLong();
    }
    ~SessionBus()
    {
        if (pid > 0)
            ::kill(pid_t(pid), SIGTERM);
    }
    QString address;
    long long pid = 0;
};

// Runs a bus client to its end while the event loop serves its calls.
bool runClient(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    spin(15000, [&] { return process.state() == QProcess::NotRunning; });
    spin(200); // the work the call posted
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

struct Measurement
{
    double wallSeconds = 0;
    double percent = 0;     // of one core, from the threads' exact run times
    double tickPercent = 0; // from the process's clock ticks, a cross-check
    double wakeupsPerSecond = 0;
    std::map<int, ThreadSample> before;
    std::map<int, ThreadSample> after;
};

Measurement measure(int seconds)
{
    Measurement m;
    m.before = sampleThreads();
    const long long ticksBefore = processTicks();
    QElapsedTimer wall;
    wall.start();
    spin(seconds * 1000);
    const long long ticksAfter = processTicks();
    m.after = sampleThreads();
    m.wallSeconds = double(wall.nsecsElapsed()) / 1e9;
    long long runNanoseconds = 0;
    long long timeslices = 0;
    for (const auto& [tid, after] : m.after) {
        if (const auto before = m.before.find(tid); before != m.before.end()) {
            runNanoseconds += after.runNanoseconds - before->second.runNanoseconds;
            timeslices += after.timeslices - before->second.timeslices;
        }
    }
    m.percent = 100.0 * double(runNanoseconds) / 1e9 / m.wallSeconds;
    m.tickPercent =
        100.0 * double(ticksAfter - ticksBefore) / double(::sysconf(_SC_CLK_TCK)) / m.wallSeconds;
    m.wakeupsPerSecond = double(timeslices) / m.wallSeconds;
    return m;
}

// A negative target means none.
void report(const QString& what, const Measurement& m, double targetPercent, double targetWakeups)
{
    const bool cpuOk = m.percent < targetPercent && m.tickPercent < targetPercent;
    const bool wakeupsOk = targetWakeups < 0 || m.wakeupsPerSecond <= targetWakeups;
    std::printf("%s, %.0f s: %.3f %% of a core (target < %.2f %%) [clock ticks: %.3f %%]; "
                "%.2f wake-ups/s",
                qPrintable(what), m.wallSeconds, m.percent, targetPercent, m.tickPercent,
                m.wakeupsPerSecond);
    if (targetWakeups >= 0)
        std::printf(" (target <= %.0f)", targetWakeups);
    std::printf(" %s; resident %.1f MB\n", cpuOk && wakeupsOk ? "ok" : "OVER", residentMegabytes());
    std::printf("  %-8s %-18s %12s %12s %12s\n", "thread", "name", "% of a core", "wake-ups/s",
                "switches/s");
    for (const auto& [tid, after] : m.after) {
        const auto before = m.before.find(tid);
        if (before == m.before.end())
            continue;
        std::printf("  %-8d %-18s %12.4f %12.2f %12.2f\n", tid, qPrintable(after.name),
                    100.0 * double(after.runNanoseconds - before->second.runNanoseconds) / 1e9 /
                        m.wallSeconds,
                    double(after.timeslices - before->second.timeslices) / m.wallSeconds,
                    double(after.switches - before->second.switches) / m.wallSeconds);
    }
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

    SessionBus bus;
    if (bus.address.isEmpty()) {
        std::fprintf(stderr, "dbus-daemon could not be started\n");
        return 1;
    }
    ::setenv("DBUS_SESSION_BUS_ADDRESS", bus.address.toUtf8().constData(), 1);

    UserDefaults defaults;
    CalmcoveRuntime runtime(options, defaults, {.sessionBus = QDBusConnection::sessionBus()});
    runtime.start();
    AudioController& controller = runtime.controller();
    if (!spin(5000, [&] { return controller.isPlaying(); })) {
        std::fprintf(stderr, "the player did not start on the %s output\n",
                     qPrintable(options.audioOutput));
        return 1;
    }
    spin(2000);
    if (!runClient(QStringLiteral("playerctl"),
                   {QStringLiteral("-p"), QStringLiteral("calmcove"), QStringLiteral("pause")}) ||
        controller.isPlaying()) {
        std::fprintf(stderr, "playerctl could not pause the player\n");
        return 1;
    }
    // The fade-out, the reverb's tail and the output's last buffer die away first.
    spin(3000);
    const Measurement paused = measure(seconds);
    report(QStringLiteral("paused over MPRIS, %1 output").arg(options.audioOutput), paused,
           pausedTargetPercent, pausedTargetWakeups);

    if (!runClient(QStringLiteral("playerctl"),
                   {QStringLiteral("-p"), QStringLiteral("calmcove"), QStringLiteral("play")}) ||
        !controller.isPlaying()) {
        std::fprintf(stderr, "playerctl could not resume the player\n");
        return 1;
    }
    // A desktop widget: Position once a second, from a process of its own.
    QProcess poller;
    poller.start(QStringLiteral("sh"),
                 {QStringLiteral("-c"),
                  QStringLiteral("while :; do dbus-send --print-reply --dest=%1 "
                                 "/org/mpris/MediaPlayer2 org.freedesktop.DBus.Properties.Get "
                                 "string:org.mpris.MediaPlayer2.Player string:Position "
                                 ">/dev/null; sleep 1; done")
                      .arg(mprisService)});
    spin(3000);
    const Measurement playing = measure(seconds);
    poller.kill();
    poller.waitForFinished();
    report(
        QStringLiteral("playing, Position polled each second, %1 output").arg(options.audioOutput),
        playing, playingTargetPercent, -1);
    return 0;
}
