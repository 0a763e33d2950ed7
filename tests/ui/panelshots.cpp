// calmcove-panelshots OUTPUT_DIR light|dark: the player panel as the screen shows it, over
// the real runtime on the null sound output: while the track library downloads from a slow
// loopback server, then playing, paused, and the shortcuts list while a new shortcut is
// recorded. Meant for an X server of its own (Xvfb); its global hotkeys are real.

#include "../library/librarytesting.h"
#include "app/calmcoveruntime.h"
#include "library/audiopackclient.h"
#include "library/audiopackstore.h"
#include "model/tracklibrary.h"
#include "platform/hotkeybackendfactory.h"
#include "platform/userdefaults.h"
#include "platform/virtualkeys.h"
#include "playback/audiocontroller.h"
#include "screenshotlook.h"
#include "shortcuts/shortcutmanager.h"
#include "ui/librarystatuspresenter.h"
#include "ui/playerpanel.h"
#include "ui/shortcutspresenter.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

using namespace calmcove;

namespace {

// The catalogue's tracks, arriving one a second, so the banner shows the download under way.
test::TestPack publishSlowPack(test::TestServer& server)
{
    QStringList ids;
    for (const CalmTrack& track : TrackLibrary::builtInAlbum().tracks)
        ids.append(track.id);
    test::TestPack pack =
        test::TestPack::make(server, QStringLiteral("1.1"), ids, 100000, 1, QStringLiteral("0.1"));
    pack.publish(server);
    int delaySeconds = 1;
    for (const auto& [name, bytes] : pack.contents.asKeyValueRange()) {
        test::TestServer::Response slow{bytes.toStdString()};
        slow.delay = std::chrono::seconds(delaySeconds++ % 6);
        server.serve(pack.trackPath(name), slow);
    }
    return pack;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: calmcove-panelshots OUTPUT_DIR light|dark\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    const QString theme = QString::fromLocal8Bit(argv[2]);
    test::useLook(theme);
    QDir().mkpath(out);
    const QString prefix = out + QStringLiteral("/panel-") + theme;

    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath(QStringLiteral("settings.conf")));
    test::TestServer server;
    const test::TestPack pack = publishSlowPack(server);
    defaults.setValue(AudioPackClient::manifestURLKey,
                      server.url(QString::fromStdString(pack.manifestPath())).toString());
    defaults.setValue(AudioPackClient::caCertificatesFileKey,
                      test::TestCertificates::shared().caFile);

    test::TestNetworkMonitor network;
    const auto hotkeys = createHotkeyBackend(ShortcutManager::hotkeyDescriptions());
    LaunchOptions options;
    options.audioOutput = QStringLiteral("null");
    CalmcoveRuntime runtime(options, defaults,
                            PlatformServices{.networkMonitor = &network,
                                             .sessionBus = std::nullopt,
                                             .hotkeys = hotkeys.get()});
    runtime.shortcutManager().setShortcut(
        {virtualkey::space, carbon::controlKey | carbon::optionKey}, ShortcutAction::playPause);
    runtime.start();
    network.setOnline(true);

    PlayerPanelInputs inputs = PlayerPanelInputs::of(runtime);
    inputs.appVersion = QStringLiteral("1.0");
    PlayerPanel panel(inputs, PlayerPanel::Presentation::window);
    panel.move(24, 24);
    panel.show();
    if (!QTest::qWaitForWindowExposed(&panel))
        return 1;

    AudioPackStore& library = runtime.audioPackStore();
    if (!test::runUntil([&] { return library.progress() > 0.1; }, 20000))
        std::fprintf(stderr, "the library download did not start\n");
    test::save(test::screenArea(panel.frameGeometry()),
               prefix + QStringLiteral("-downloading.png"));

    for (const auto& [name, bytes] : pack.contents.asKeyValueRange())
        server.serve(pack.trackPath(name), {bytes.toStdString()}); // the rest at once
    if (!test::runUntil([&] { return !panel.libraryStatus().isVisible(); }, 60000))
        std::fprintf(stderr, "the library did not finish installing\n");
    test::runUntil([&] { return runtime.controller().isPlaying(); });
    QTest::qWait(1200); // the clock moves on
    test::save(test::screenArea(panel.frameGeometry()), prefix + QStringLiteral("-playing.png"));

    runtime.controller().pause();
    test::save(test::screenArea(panel.frameGeometry()), prefix + QStringLiteral("-paused.png"));

    panel.openShortcutsPopup();
    panel.shortcuts().startRecording(ShortcutAction::next);
    QTest::qWait(200);
    QRect area = panel.frameGeometry();
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->isVisible())
            area |= window->frameGeometry();
    }
    test::save(test::screenArea(area.adjusted(-8, -8, 8, 8)),
               prefix + QStringLiteral("-shortcuts.png"));
    panel.shortcuts().stopRecording();
    return 0;
}
