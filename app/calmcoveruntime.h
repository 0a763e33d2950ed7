#pragma once

// The composition root: builds every long-lived store and controller once, in a fixed
// order, wires the callbacks through which they inform each other, starts the library
// updates and, on the next turn of the event loop, playback. Holds everything for the
// life of the process. Main thread only.

#include "launchoptions.h"

#include <memory>
#include <QObject>

namespace calmcove {

class AlbumStore;
class AppSettings;
class AudioController;
class AudioEngine;
class AudioPackStore;
class EnginePlayback;
class NowPlayingController;
class PackStoreAudioLibrary;
class UserDefaults;
struct AudioPackStoreOptions;

class CalmcoveRuntime : public QObject
{
    Q_OBJECT
public:
    CalmcoveRuntime(const LaunchOptions& options, UserDefaults& defaults,
                    QObject* parent = nullptr);
    // Tests replace the library's folders, clock and network monitor.
    CalmcoveRuntime(const LaunchOptions& options, UserDefaults& defaults,
                    AudioPackStoreOptions libraryOptions, QObject* parent = nullptr);
    ~CalmcoveRuntime() override;

    AlbumStore& albumStore() const { return *m_albumStore; }
    AudioPackStore& audioPackStore() const { return *m_audioPackStore; }
    AudioController& controller() const { return *m_controller; }
    AudioEngine& engine() const { return *m_engine; }
    AppSettings& appSettings() const { return *m_appSettings; }
    // The desktop's now-playing display and remote commands (MPRIS on the session bus).
    NowPlayingController& nowPlaying() const { return *m_nowPlaying; }

    // Imports what the command line named: folders become albums, loose audio files one
    // album, and http(s) links are queued as URL imports.
    void open(const QStringList& arguments);

private:
    std::unique_ptr<AudioEngine> m_engine;
    std::unique_ptr<EnginePlayback> m_playback;
    std::unique_ptr<AlbumStore> m_albumStore;
    std::unique_ptr<AudioPackStore> m_audioPackStore;
    std::unique_ptr<PackStoreAudioLibrary> m_library;
    std::unique_ptr<AudioController> m_controller;
    std::unique_ptr<NowPlayingController> m_nowPlaying;
    std::unique_ptr<AppSettings> m_appSettings;
};

} // namespace calmcove
