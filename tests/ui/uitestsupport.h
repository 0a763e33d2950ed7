#pragma once

// The real runtime on the null output with a network the test switches, private settings
// and autostart folder (the test main's XDG directories), and a desktop that grants every
// global hotkey (its answer is the one part we cannot have offscreen).

#include "../library/librarytesting.h"
#include "albums/albumstore.h"
#include "app/calmcoveruntime.h"
#include "library/audiopackstore.h"
#include "platform/hotkeybackend.h"
#include "platform/userdefaults.h"
#include "playback/audiocontroller.h"
#include "support/wavfile.h"
#include "ui/playerpanel.h"

#include <QCoro/QCoroTask>

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

namespace calmcove::test {

class GrantingHotkeys : public HotkeyBackend
{
public:
    HotkeyRegistration registerHotkey(quint32, HotkeyCombination) override
    {
        return HotkeyRegistration::registered;
    }
    void unregisterHotkey(quint32) override {}
    QString name() const override { return QStringLiteral("granting"); }
};

struct PanelHarness
{
    QTemporaryDir dir;
    UserDefaults defaults{dir.path() + QStringLiteral("/settings.conf")};
    TestNetworkMonitor network;
    GrantingHotkeys hotkeys;
    std::unique_ptr<CalmcoveRuntime> runtime;

    PanelHarness()
    {
        LaunchOptions options;
        options.headless = true;
        options.audioOutput = QStringLiteral("null");
        runtime = std::make_unique<CalmcoveRuntime>(options, defaults,
                                                    PlatformServices{.networkMonitor = &network,
                                                                     .sessionBus = std::nullopt,
                                                                     .hotkeys = &hotkeys});
        runtime->start();
    }

    AudioController& controller() { return runtime->controller(); }
    AlbumStore& albums() { return runtime->albumStore(); }
    AudioPackStore& library() { return runtime->audioPackStore(); }

    PlayerPanelInputs inputs()
    {
        PlayerPanelInputs inputs = PlayerPanelInputs::of(*runtime);
        inputs.websiteURL = QStringLiteral("https://example.org/");
        inputs.appVersion = QStringLiteral("2.3");
        inputs.quit = [] {};
        return inputs;
    }

    // An imported album of `count` one-second audio files, selected.
    void selectImportedAlbum(int count)
    {
        QStringList paths;
        for (int i = 0; i < count; ++i) {
            QFile song(dir.path() + QStringLiteral("/song%1.wav").arg(i));
            song.open(QIODevice::WriteOnly);
            song.write(silentWav(1));
            paths.append(song.fileName());
        }
        if (paths.isEmpty())
            albums().createAlbum(QStringLiteral("Empty"));
        else
            QCoro::waitFor(albums().importExternalURLs(paths));
        controller().selectAlbum(albums().importedAlbums().last());
    }

    // Offline and asked to install: the library waits for the network.
    void waitForNetwork()
    {
        network.setOnline(false);
        library().installLatestPackIfNeeded(false);
        QCoreApplication::processEvents();
    }
};

} // namespace calmcove::test
