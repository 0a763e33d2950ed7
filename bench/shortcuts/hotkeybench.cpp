// Hotkey latency on a real X server (a private Xvfb): 100 presses of Ctrl+Alt+Space sent
// with xdotool, each measured from the X server's time stamp on the key event to the
// playback controller's state change (both CLOCK_MONOTONIC, the server's in whole
// milliseconds), and from the event reaching this process to the change.
//
//   shortcuts_hotkey_bench [presses]
//
// Target: median and worst under 20 ms from the key event to togglePlayPause.

#include "platform/x11hotkeybackend.h"
#include "shortcuts/playerfixture.h"
#include "shortcuts/shortcutmanager.h"
#include "support/xvfbsession.h"

#include <algorithm>
#include <cstdio>
#include <QAbstractNativeEventFilter>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProcess>
#include <time.h>
#include <vector>
#include <xcb/xcb.h>

using namespace calmcove;

namespace {

quint64 monotonicMicroseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return quint64(now.tv_sec) * 1000000 + quint64(now.tv_nsec) / 1000;
}

// Notes when each key press reaches the process and the server's time stamp on it.
class PressClock : public QAbstractNativeEventFilter
{
public:
    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override
    {
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        if (type == "xcb_generic_event_t" && (event->response_type & 0x7f) == XCB_KEY_PRESS) {
            serverTime = reinterpret_cast<const xcb_key_press_event_t*>(event)->time;
            arrival = monotonicMicroseconds();
        }
        return false;
    }
    quint32 serverTime = 0;
    quint64 arrival = 0;
};

// Runs the event loop until `done` holds or `timeoutMs` passed.
template <typename Condition> bool waitFor(Condition done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.hasExpired(timeoutMs))
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    }
    return true;
}

void report(const char* what, std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    std::printf("%-36s median %7.3f ms   worst %7.3f ms   (%zu presses)\n", what,
                values[values.size() / 2], values.back(), values.size());
}

} // namespace

int main(int argc, char** argv)
{
    test::XvfbSession server;
    if (!server.isRunning()) {
        std::fprintf(stderr, "no X server: %s\n", qPrintable(server.failure()));
        return 1;
    }
    qputenv("DISPLAY", server.display().toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    const int presses = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100;

    test::PlayerFixture player;
    AudioController& controller = *player.controller();

    std::unique_ptr<X11HotkeyBackend> backend = X11HotkeyBackend::create();
    ShortcutManager manager(player.defaults, *backend);
    manager.setController(&controller);
    manager.setShortcut(AppShortcut{49, 0x1800}, ShortcutAction::playPause);
    if (!manager.errorMessage().isEmpty()) {
        std::fprintf(stderr, "%s\n", qPrintable(manager.errorMessage()));
        return 1;
    }
    PressClock clock; // installed last, so it sees each event before the backend
    app.installNativeEventFilter(&clock);

    quint64 changedAt = 0;
    QObject::connect(&controller, &AudioController::playbackStateDidChange,
                     [&] { changedAt = monotonicMicroseconds(); });

    std::vector<double> fromServer, fromArrival;
    for (int i = 0; i < presses; ++i) {
        const bool wasPlaying = controller.isPlaying();
        QProcess::startDetached(QStringLiteral("xdotool"),
                                {QStringLiteral("key"), QStringLiteral("ctrl+alt+space")});
        if (!waitFor([&] { return controller.isPlaying() != wasPlaying; }, 5000)) {
            std::fprintf(stderr, "press %d did not reach the player\n", i + 1);
            return 1;
        }
        const quint32 nowMs = quint32(changedAt / 1000);
        fromServer.push_back(double(quint32(nowMs - clock.serverTime)) +
                             double(changedAt % 1000) / 1000.0);
        fromArrival.push_back(double(changedAt - clock.arrival) / 1000.0);
        waitFor([] { return false; }, 20); // separate presses, not auto-repeat
    }
    report("key event -> togglePlayPause", fromServer);
    report("event in process -> togglePlayPause", fromArrival);
    return 0;
}
