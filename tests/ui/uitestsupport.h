#pragma once

// The real runtime on the null output with a network the test switches, and the two
// panel sources the settings and shortcut rows read, scripted by the test.

#include "../library/librarytesting.h"
#include "albums/albumstore.h"
#include "app/calmcoveruntime.h"
#include "library/audiopackstore.h"
#include "platform/userdefaults.h"
#include "playback/audiocontroller.h"
#include "ui/panelsources.h"
#include "ui/playerpanel.h"

#include <map>
#include <QCoreApplication>
#include <QFile>
#include <QKeyEvent>
#include <QTemporaryDir>

namespace calmcove::test {

struct PanelHarness
{
    QTemporaryDir dir;
    UserDefaults defaults{dir.path() + QStringLiteral("/settings.conf")};
    TestNetworkMonitor network;
    std::unique_ptr<CalmcoveRuntime> runtime;

    PanelHarness()
    {
        LaunchOptions options;
        options.headless = true;
        options.audioOutput = QStringLiteral("null");
        runtime = std::make_unique<CalmcoveRuntime>(options, defaults,
                                                    PlatformServices{.networkMonitor = &network});
        runtime->start();
    }

    AudioController& controller() { return runtime->controller(); }
    AlbumStore& albums() { return runtime->albumStore(); }
    AudioPackStore& library() { return runtime->audioPackStore(); }

    PlayerPanelInputs inputs(AdvancedSettingsSource* advanced = nullptr,
                             ShortcutTableSource* shortcuts = nullptr)
    {
        PlayerPanelInputs inputs;
        inputs.controller = &controller();
        inputs.albumStore = &albums();
        inputs.audioPackStore = &library();
        inputs.advancedSettings = advanced;
        inputs.shortcuts = shortcuts;
        inputs.websiteURL = QStringLiteral("https://example.org/");
        inputs.appVersion = QStringLiteral("2.3");
        inputs.quit = [] {};
        return inputs;
    }

    // An imported album of `count` (empty) audio files, selected.
    void selectImportedAlbum(int count)
    {
        QStringList paths;
        for (int i = 0; i < count; ++i) {
            QFile song(dir.path() + QStringLiteral("/song%1.wav").arg(i));
            song.open(QIODevice::WriteOnly);
            paths.append(song.fileName());
        }
        if (paths.isEmpty())
            albums().createAlbum(QStringLiteral("Empty"));
        else
            albums().importExternalURLs(paths);
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

class ScriptedSettings : public AdvancedSettingsSource
{
public:
    bool login = false, updates = false;
    QString loginError, updateError;
    int refreshes = 0, checks = 0;
    bool launchAtLoginEnabled() const override { return login; }
    void setLaunchAtLogin(bool enabled) override { login = enabled, Q_EMIT changed(); }
    void refreshLaunchAtLogin() override { ++refreshes; }
    QString launchAtLoginError() const override { return loginError; }
    bool automaticUpdatesEnabled() const override { return updates; }
    void setAutomaticUpdates(bool enabled) override { updates = enabled, Q_EMIT changed(); }
    void checkForAppUpdate() override { ++checks; }
    QString updateErrorMessage() const override { return updateError; }
};

// Binds a combination when Control or Alt is held, as the shortcut model does.
class ScriptedShortcuts : public ShortcutTableSource
{
public:
    std::map<int, QString> bound;
    int actionCount() const override { return 3; }
    QString actionTitle(int action) const override
    {
        return QStringList{QStringLiteral("Play/Pause"), QStringLiteral("Next"),
                           QStringLiteral("Back")}[action];
    }
    std::optional<QString> shortcutText(int action) const override
    {
        const auto found = bound.find(action);
        return found == bound.end() ? std::nullopt : std::optional(found->second);
    }
    void clearShortcut(int action) override { bound.erase(action), Q_EMIT changed(); }
    bool setShortcutFromKeyEvent(int action, const QKeyEvent& event) override
    {
        if (!(event.modifiers() & (Qt::ControlModifier | Qt::AltModifier)))
            return false;
        bound[action] = QKeySequence(event.keyCombination()).toString();
        Q_EMIT changed();
        return true;
    }
};

} // namespace calmcove::test
