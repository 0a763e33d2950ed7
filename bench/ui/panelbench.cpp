// The tray icon and the player panel on a real X server: a private Xvfb with trayer as the
// tray, a private session bus, the "null" sound output and private XDG folders.
//
// The real `calmcove` program, measured from /proc and driven with xdotool:
// - resident memory after launch, playing, the panel never opened (target <= 60 MB);
// - resident memory after 50 panel open/close cycles (a right click on the icon opens it; a
//   second right click on the icon or a click elsewhere, in turn, closes it); target at
//   most 3 MB above the state before the cycles;
// - CPU while it plays with the panel open (target < 2 % of a core), and with the panel
//   closed and as `calmcove --headless` (reported, for comparison).
//
// The panel's opening, in this process: the tray icon and StatusBarController over the real
// runtime, right-clicked with xdotool 20 times, each measured from the X server's time stamp
// on the button press to the panel painted (target: median <= 150 ms). It is measured here
// because only here can the paint be seen: from outside a window turns viewable when it is
// mapped, before anything is drawn in it, and polling with xdotool costs a process start
// per look. That outside figure (click to viewable, from the cycles above) is printed too.
//
//   panel_bench        (CALMCOVE_BENCH_SECONDS: each CPU figure, default 10)
// Needs Xvfb, trayer, xdotool, playerctl and dbus-daemon (scripts/install-deps).

#include "support/procfs.h"
#include "support/privatesessionbus.h"
#include "support/tempxdg.h"
#include "support/x11desktop.h"
#include "support/xvfbsession.h"
#include "ui/statusbarcontroller.h"
#include "ui/uitestsupport.h"

#include <algorithm>
#include <cstdio>
#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTimer>
#include <time.h>
#include <vector>
#include <xcb/xcb.h>

using namespace calmcove;
using bench::cpuSeconds;
using bench::residentMegabytes;
using bench::statusMegabytes;

namespace {

constexpr int panelCycles = 50;
constexpr int timedOpenings = 20;
// Longer than the 300 ms in which a press that closed the panel may not open it again.
constexpr int pauseBetweenCyclesMs = 400;
const QString programClass = QStringLiteral("calmcove");

int g_failures = 0;

void verdict(bool met)
{
    std::printf("  %s\n", met ? "PASS" : "FAIL");
    if (!met)
        ++g_failures;
}

quint64 monotonicMicroseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return quint64(now.tv_sec) * 1000000 + quint64(now.tv_nsec) / 1000;
}

// Turns the event loop until `done` holds; false after `timeoutMs`.
template <typename Condition> bool waitFor(Condition done, int timeoutMs = 10000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.hasExpired(timeoutMs))
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

double worst(const std::vector<double>& values)
{
    return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

int benchSeconds()
{
    const int seconds = qEnvironmentVariableIntValue("CALMCOVE_BENCH_SECONDS");
    return seconds > 0 ? seconds : 10;
}

// The share of one core the process used over the next `seconds`.
double cpuPercent(qint64 pid, int seconds)
{
    const double before = cpuSeconds(pid);
    QElapsedTimer wall;
    wall.start();
    QTest::qWait(seconds * 1000);
    return 100.0 * (cpuSeconds(pid) - before) / (double(wall.nsecsElapsed()) / 1e9);
}

class Program
{
public:
    explicit Program(const test::PrivateSessionBus& bus) : m_bus(bus) {}
    ~Program() { stop(); }

    // Starts the program and waits until it plays (MPRIS says so).
    bool start(const QStringList& arguments)
    {
        QProcessEnvironment environment = m_bus.environment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(QCoreApplication::applicationDirPath() + QStringLiteral("/calmcove"),
                        arguments);
        if (!m_process.waitForStarted())
            return false;
        const bool playing = waitFor(
            [this] {
                QTest::qWait(100);
                return status() == QStringLiteral("Playing") ||
                       m_process.state() == QProcess::NotRunning;
            },
            20000);
        if (!playing || m_process.state() == QProcess::NotRunning) {
            std::fprintf(stderr, "calmcove did not play:\n%s\n", m_process.readAll().constData());
            return false;
        }
        return true;
    }

    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
        m_process.waitForFinished();
    }

    qint64 pid() const { return m_process.processId(); }

    QString status() const
    {
        return test::runBusClient(
                   m_bus, QStringLiteral("playerctl"),
                   {QStringLiteral("-p"), QStringLiteral("calmcove"), QStringLiteral("status")})
            .output;
    }

private:
    const test::PrivateSessionBus& m_bus;
    QProcess m_process;
};

// Counts the xdotool looks a wait takes, for the resolution of the outside figure.
struct WindowPoll
{
    const test::PrivateSessionBus& bus;
    int looks = 0;
    qint64 lookNanoseconds = 0;

    int count()
    {
        QElapsedTimer look;
        look.start();
        const int windows = int(test::visibleWindows(bus, programClass).size());
        lookNanoseconds += look.nsecsElapsed();
        ++looks;
        return windows;
    }
};

// The real program: memory at launch and across panel cycles, CPU with the panel open and
// closed, and CPU headless.
bool measureProgram(const test::PrivateSessionBus& bus)
{
    std::printf("== the calmcove program with a tray\n");
    Program program(bus);
    if (!program.start({QStringLiteral("--audio-output=null")}))
        return false;
    WindowPoll poll{bus};
    if (!waitFor([&] { return poll.count() == 1; })) {
        std::fprintf(stderr, "the tray icon did not show\n");
        return false;
    }
    const QPoint icon =
        test::windowGeometry(bus, test::visibleWindows(bus, programClass).first()).center();
    QTest::qWait(3000); // the first decode, the stream and the icon settled

    const double launchRSS = residentMegabytes(program.pid());
    std::printf("resident memory after launch, panel never opened: %.1f MB (target <= 60)\n",
                launchRSS);
    verdict(launchRSS > 0 && launchRSS <= 60);

    std::vector<double> toViewable;
    poll.looks = 0;
    poll.lookNanoseconds = 0;
    double afterFirstRSS = 0;
    const double launchAnon = statusMegabytes(program.pid(), "RssAnon");
    const double launchFile = statusMegabytes(program.pid(), "RssFile");
    for (int cycle = 0; cycle < panelCycles; ++cycle) {
        QElapsedTimer clock;
        clock.start();
        test::clickAt(bus, icon, 3);
        if (!waitFor([&] { return poll.count() == 2; }, 5000)) {
            std::fprintf(stderr, "cycle %d: the panel did not open\n", cycle + 1);
            return false;
        }
        toViewable.push_back(double(clock.nsecsElapsed()) / 1e6);
        if (cycle % 2 == 0)
            test::clickAt(bus, icon, 3);
        else
            test::clickAt(bus, QPoint(20, 400), 1);
        if (!waitFor([&] { return poll.count() == 1; }, 5000)) {
            std::fprintf(stderr, "cycle %d: the panel did not close\n", cycle + 1);
            return false;
        }
        QTest::qWait(pauseBetweenCyclesMs);
        if (cycle == 0)
            afterFirstRSS = residentMegabytes(program.pid());
    }
    QTest::qWait(1000);
    const double cyclesRSS = residentMegabytes(program.pid());
    std::printf("resident memory after %d panel cycles: %.1f MB, %+.1f MB against before them "
                "(target <= +3); %+.1f MB after the first, %+.1f MB over the other %d\n",
                panelCycles, cyclesRSS, cyclesRSS - launchRSS, afterFirstRSS - launchRSS,
                cyclesRSS - afterFirstRSS, panelCycles - 1);
    // What the first opening adds for good: its share of library code and fonts paged in
    // (file-backed) and the heap the font and style caches keep.
    std::printf("  of which heap and other anonymous memory %+.1f MB, library code and fonts "
                "%+.1f MB\n",
                statusMegabytes(program.pid(), "RssAnon") - launchAnon,
                statusMegabytes(program.pid(), "RssFile") - launchFile);
    verdict(cyclesRSS - launchRSS <= 3);
    std::printf("from outside, click to panel viewable: median %.1f ms, worst %.1f ms over %d "
                "openings (xdotool start-up included; one look every %.1f ms)\n",
                median(toViewable), worst(toViewable), panelCycles,
                double(poll.lookNanoseconds) / 1e6 / std::max(1, poll.looks));

    const int seconds = benchSeconds();
    test::clickAt(bus, icon, 3);
    if (!waitFor([&] { return poll.count() == 2; }, 5000)) {
        std::fprintf(stderr, "the panel did not open\n");
        return false;
    }
    QTest::qWait(1000);
    const double openCPU = cpuPercent(program.pid(), seconds);
    std::printf("CPU playing with the panel open, %d s: %.2f %% of a core (target < 2)\n", seconds,
                openCPU);
    verdict(openCPU >= 0 && openCPU < 2);
    test::clickAt(bus, icon, 3);
    waitFor([&] { return poll.count() == 1; }, 5000);
    QTest::qWait(1000);
    std::printf("CPU playing with the panel closed, %d s: %.2f %% of a core\n", seconds,
                cpuPercent(program.pid(), seconds));
    program.stop();

    Program headless(bus);
    if (!headless.start({QStringLiteral("--headless"), QStringLiteral("--audio-output=null")}))
        return false;
    QTest::qWait(2000);
    std::printf("CPU playing headless, %d s: %.2f %% of a core (for comparison)\n", seconds,
                cpuPercent(headless.pid(), seconds));
    return true;
}

// When each right button press reaches the process, and the server's time stamp on it. Qt
// takes the pointer through XInput 2, whose device events arrive as generic events; their
// opening fields, laid out by the protocol (no xcb-xinput headers needed):
struct XInputDeviceEvent
{
    quint8 responseType;
    quint8 extension;
    quint16 sequence;
    quint32 length;
    quint16 eventType;
    quint16 deviceId;
    quint32 time;
    quint32 detail;
};
constexpr quint16 xinputButtonPress = 4;

class PressClock : public QAbstractNativeEventFilter
{
public:
    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override
    {
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        if (type != "xcb_generic_event_t" || (event->response_type & 0x7f) != XCB_GE_GENERIC)
            return false;
        const auto* device = static_cast<const XInputDeviceEvent*>(message);
        if (device->eventType == xinputButtonPress && device->detail == 3) {
            serverTime = device->time;
            arrival = monotonicMicroseconds();
        }
        return false;
    }
    quint32 serverTime = 0;
    quint64 arrival = 0;
};

// Notes the panel's first paint, and the turn of the event loop after it: by then every
// widget in it has painted and the window's contents have gone to the server.
class PaintWatch : public QObject
{
public:
    void watch(QWidget* panel)
    {
        paintStarted = painted = 0;
        panel->installEventFilter(this);
    }
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && !paintStarted) {
            paintStarted = monotonicMicroseconds();
            QTimer::singleShot(0, this, [this] { painted = monotonicMicroseconds(); });
        }
        return false;
    }
    quint64 paintStarted = 0;
    quint64 painted = 0;
};

// Milliseconds from the server's time stamp (whole ms of CLOCK_MONOTONIC) to `at`.
double sinceServerTime(quint32 serverTime, quint64 at)
{
    return double(quint32(quint32(at / 1000) - serverTime)) + double(at % 1000) / 1000.0;
}

bool measureOpening(QApplication& app, const test::PrivateSessionBus& bus)
{
    std::printf("== the panel opening, in process\n");
    test::PanelHarness harness;
    StatusBarController tray(harness.inputs(), StatusBarController::TrayMode::tray);
    if (!waitFor([&] { return !tray.statusItem()->geometry().isEmpty(); })) {
        std::fprintf(stderr, "the tray icon was not embedded\n");
        return false;
    }
    QTest::qWait(500);
    const QPoint icon = tray.statusItem()->geometry().center();
    PressClock press;
    app.installNativeEventFilter(&press);
    PaintWatch paint;
    QObject::connect(&tray, &StatusBarController::panelShown, &paint,
                     [&paint](PlayerPanel* panel) { paint.watch(panel); });

    std::vector<double> toPainted, toPaintStart, fromArrival;
    for (int opening = 0; opening < timedOpenings; ++opening) {
        paint.paintStarted = paint.painted = 0;
        press.arrival = 0;
        test::clickAt(bus, icon, 3);
        if (!waitFor([&] { return paint.painted != 0; }, 5000) || press.arrival == 0) {
            std::fprintf(stderr, "opening %d: no press seen or the panel did not paint\n",
                         opening + 1);
            return false;
        }
        toPainted.push_back(sinceServerTime(press.serverTime, paint.painted));
        toPaintStart.push_back(sinceServerTime(press.serverTime, paint.paintStarted));
        fromArrival.push_back(double(paint.painted - press.arrival) / 1000.0);
        test::clickAt(bus, icon, 3);
        if (!waitFor([&] { return !tray.panelIsShown(); }, 5000)) {
            std::fprintf(stderr, "opening %d: the panel did not close\n", opening + 1);
            return false;
        }
        QTest::qWait(pauseBetweenCyclesMs);
    }
    app.removeNativeEventFilter(&press);
    std::printf("right click to the panel painted: median %.1f ms, worst %.1f ms over %d "
                "(target median <= 150)\n",
                median(toPainted), worst(toPainted), timedOpenings);
    verdict(median(toPainted) <= 150);
    std::printf("  first paint begins at %.1f ms (median); from the press reaching the process: "
                "%.1f ms; the first opening %.1f ms\n",
                median(toPaintStart), median(fromArrival), toPainted.front());
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const test::TemporaryXdgDirectories xdg;
    for (const char* tool : {"trayer", "xdotool", "playerctl"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty()) {
            std::fprintf(stderr, "%s is not installed\n", tool);
            return 1;
        }
    }
    test::PrivateSessionBus bus;
    test::XvfbSession server(QSize(1024, 768));
    if (bus.address().isEmpty() || !server.isRunning()) {
        std::fprintf(stderr, "no session bus or X server: %s\n", qPrintable(server.failure()));
        return 1;
    }
    // This process and everything it starts use the private display and bus.
    qputenv("DISPLAY", server.display().toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "xcb");
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus.address().toLocal8Bit());
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);

    QProcess tray;
    if (!test::startTray(tray, bus)) {
        std::fprintf(stderr, "trayer did not start\n");
        return 1;
    }
    const bool measured = measureProgram(bus) && measureOpening(app, bus);
    tray.terminate();
    tray.waitForFinished();
    if (!measured)
        return 1;
    std::printf("%s\n", g_failures ? "some targets were missed" : "all targets met");
    return g_failures ? 1 : 0;
}
