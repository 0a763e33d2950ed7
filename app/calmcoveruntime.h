#pragma once

// The stores and controllers of the process: the constructor builds every long-lived one
// once, in a fixed order, and wires the callbacks through which they inform each other;
// start() then starts the library updates and, on the next turn of the event loop,
// playback. The application root creates the desktop side between the two. Holds
// everything for the life of the process. Main thread only; no widgets.

#include "launchoptions.h"
#include "platformservices.h"

#include <QCoro/QCoroTask>

#include <memory>
#include <QObject>

namespace calmcove {

class AlbumStore;
class AlbumStoreSelection;
class AppSettings;
class AppStoreVersionChecker;
class AudioController;
class AudioEngine;
class AudioPackStore;
class AudioEngineAdapter;
class ImportLoudness;
class HotkeyBackend;
class NowPlayingController;
class PackStoreAudioLibrary;
class ShortcutManager;
class UserDefaults;

class CalmcoveRuntime : public QObject
{
    Q_OBJECT
public:
    CalmcoveRuntime(const LaunchOptions& options, UserDefaults& defaults,
                    PlatformServices services = {}, QObject* parent = nullptr);
    ~CalmcoveRuntime() override;

    AlbumStore& albumStore() const { return *m_albumStore; }
    AudioPackStore& audioPackStore() const { return *m_audioPackStore; }
    AudioController& controller() const { return *m_controller; }
    AudioEngine& engine() const { return *m_engine; }
    AppSettings& appSettings() const { return *m_appSettings; }
    // The desktop's now-playing display and remote commands (MPRIS on the session bus).
    NowPlayingController& nowPlaying() const { return *m_nowPlaying; }
    AppStoreVersionChecker& appStoreVersionChecker() const { return *m_appStoreVersionChecker; }
    ShortcutManager& shortcutManager() const { return *m_shortcutManager; }

    // Starts the automatic library updates and posts play() to the next turn of the event
    // loop. Call once, after the desktop side has been built.
    void start();

    // Imports what the command line named: folders become albums, loose audio files one
    // album, and http(s) links are queued as URL imports. Finishes once the local import is
    // recorded (the links are only queued); callers may drop it.
    QCoro::Task<> open(QStringList arguments);
    // One pass of the library's hourly loop now: completes a missing or partial library
    // (e.g. once a library server that was still being set up answers).
    void updateLibraryNow();

private:
    std::unique_ptr<AudioEngine> m_engine;
    std::unique_ptr<AudioEngineAdapter> m_playback;
    std::unique_ptr<AlbumStore> m_albumStore;
    std::unique_ptr<AlbumStoreSelection> m_albumSelection;
    std::unique_ptr<ImportLoudness> m_importLoudness;
    std::unique_ptr<AudioPackStore> m_audioPackStore;
    std::unique_ptr<PackStoreAudioLibrary> m_library;
    std::unique_ptr<AudioController> m_controller;
    std::unique_ptr<NowPlayingController> m_nowPlaying;
    std::unique_ptr<AppSettings> m_appSettings;
    std::unique_ptr<AppStoreVersionChecker> m_appStoreVersionChecker;
    std::unique_ptr<HotkeyBackend> m_fallbackHotkeys;
    std::unique_ptr<ShortcutManager> m_shortcutManager;
};

} // namespace calmcove
