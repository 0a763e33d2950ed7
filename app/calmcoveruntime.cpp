#include "calmcoveruntime.h"

#include "albums/albumstore.h"
#include "albums/importloudness.h"
#include "albumstoreselection.h"
#include "appsettings.h"
#include "audio/audioengine.h"
#include "library/audiopackstore.h"
#include "mpris/nowplayingcontroller.h"
#include "packstoreaudiolibrary.h"
#include "platform/nonehotkeybackend.h"
#include "playback/audiocontroller.h"
#include "playback/audioengineadapter.h"
#include "shortcuts/shortcutmanager.h"
#include "updates/appstoreversionchecker.h"

#include <QDBusConnection>
#include <QPointer>
#include <QTimer>
#include <QUrl>

namespace calmcove {

CalmcoveRuntime::CalmcoveRuntime(const LaunchOptions& options, UserDefaults& defaults,
                                 PlatformServices services, QObject* parent)
    : QObject(parent),
      m_engine(std::make_unique<AudioEngine>(createAudioOutput(options.audioOutput))),
      m_playback(std::make_unique<AudioEngineAdapter>(*m_engine))
{
    m_albumStore = std::make_unique<AlbumStore>(defaults, AlbumStore::defaultRootDirectory(),
                                                services.networkMonitor);
    AudioPackStoreOptions libraryOptions;
    libraryOptions.networkMonitor = services.networkMonitor;
    m_audioPackStore = std::make_unique<AudioPackStore>(defaults, std::move(libraryOptions));

    // The default album holds the installed library before the player restores its track.
    m_albumStore->updateBuiltInTracks(
        AudioPackStore::tracksForDefaultAlbum(m_audioPackStore->installedManifest()));

    m_library = std::make_unique<PackStoreAudioLibrary>(*m_audioPackStore);
    m_albumSelection = std::make_unique<AlbumStoreSelection>(*m_albumStore);

    // Imports play as loud as the library: each file at the gain its measurement names,
    // measured at import, and in the background for files without a current measurement.
    m_importLoudness = std::make_unique<ImportLoudness>(m_albumStore->rootDirectory());
    m_playback->setGainLookup([loudness = QPointer(m_importLoudness.get())](const QString& path) {
        return loudness ? loudness->gainDb(path) : 0.0;
    });
    connect(m_importLoudness.get(), &ImportLoudness::gainChanged, this,
            [playback = m_playback.get()](const QString& path, double gainDb) {
                playback->setFileGain(path, gainDb);
            });
    connect(m_albumStore.get(), &AlbumStore::importedAlbumsChanged, this, [this] {
        m_importLoudness->measureFiles(importedFilePaths(m_albumStore->importedAlbums()));
    });
    m_controller =
        std::make_unique<AudioController>(*m_albumSelection, *m_library, *m_playback, defaults);
    // The desktop's media controls drive the player with or without a window.
    m_nowPlaying = std::make_unique<NowPlayingController>(
        *m_albumStore,
        services.sessionBus.value_or(QDBusConnection(QStringLiteral("calmcove-no-session-bus"))));
    m_nowPlaying->setOpenHandler([this](const QString& uri) { open({openArgument(uri)}); });
    m_nowPlaying->configure(m_controller.get());

    m_appSettings = std::make_unique<AppSettings>();
    m_appSettings->readLaunchAtLogin();

    // The update checker starts the updater's schedule and applies its one-time defaults.
    UpdaterOptions updaterOptions;
    updaterOptions.networkMonitor = services.networkMonitor;
    m_appStoreVersionChecker =
        std::make_unique<AppStoreVersionChecker>(defaults, std::move(updaterOptions));

    // Stored shortcuts are registered here; presses reach the player from now on.
    HotkeyBackend* hotkeys = services.hotkeys;
    if (!hotkeys) {
        m_fallbackHotkeys = std::make_unique<NoneHotkeyBackend>();
        hotkeys = m_fallbackHotkeys.get();
    }
    m_shortcutManager = std::make_unique<ShortcutManager>(defaults, *hotkeys);
    m_shortcutManager->setController(m_controller.get());

    // The album store first, so that the player's re-check reads the new default album.
    connect(m_audioPackStore.get(), &AudioPackStore::libraryDidChange, this,
            [albums = QPointer(m_albumStore.get()),
             controller = QPointer(m_controller.get())](const QList<CalmTrack>& tracks) {
                if (albums)
                    albums->updateBuiltInTracks(tracks);
                if (controller)
                    controller->handleBuiltInLibraryChanged();
            });
}

void CalmcoveRuntime::start()
{
    m_audioPackStore->startAutomaticUpdates();
    m_importLoudness->measureFiles(importedFilePaths(m_albumStore->importedAlbums()));

    QTimer::singleShot(0, this, [controller = QPointer(m_controller.get())] {
        if (controller)
            controller->play();
    });
}

QCoro::Task<> CalmcoveRuntime::open(QStringList arguments)
{
    QStringList paths;
    for (const QString& argument : arguments) {
        const QString scheme = QUrl(argument).scheme().toLower();
        if (scheme == QLatin1String("http") || scheme == QLatin1String("https"))
            m_albumStore->enqueueURLImport(argument);
        else
            paths.append(argument);
    }
    if (paths.isEmpty())
        co_return;
    // Started in a statement of its own: GCC 12 destroys temporaries of a co_await expression
    // twice.
    auto importing = m_albumStore->importExternalURLs(paths);
    co_await std::move(importing);
}

void CalmcoveRuntime::updateLibraryNow()
{
    m_audioPackStore->installLatestPackIfDue();
}

// The player goes before the stores and the engine it uses.
CalmcoveRuntime::~CalmcoveRuntime()
{
    m_nowPlaying.reset();
    m_controller.reset();
}

} // namespace calmcove
