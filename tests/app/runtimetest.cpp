// Start-up as the program does it, on the null sound output: the order in which the
// stores and the player come up, playback on launch, and library changes reaching the
// default album before the player.

#include "albums/albumstore.h"
#include "app/calmcoveruntime.h"
#include "library/audiopackstore.h"
#include "model/tracklibrary.h"
#include "platform/userdefaults.h"
#include "playback/audiocontroller.h"
#include "shortcuts/shortcutmanager.h"
#include "support/qtprinters.h"
#include "support/wavfile.h"

#include <QCoro/QCoroTask>

#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

namespace calmcove {
namespace {

LaunchOptions nullOutput()
{
    LaunchOptions options;
    options.headless = true;
    options.audioOutput = QStringLiteral("null");
    return options;
}

TEST(RuntimeTest, FirstLaunchPlaysAStarterTrackOnTheNextTurn)
{
    QTemporaryDir dir;
    UserDefaults defaults(dir.path() + QStringLiteral("/settings.conf"));
    CalmcoveRuntime runtime(nullOutput(), defaults);

    EXPECT_EQ(runtime.albumStore().builtInAlbum(), TrackLibrary::builtInAlbum());
    EXPECT_TRUE(TrackLibrary::starterTrackIDs().contains(runtime.controller().currentTrack().id));
    runtime.start();
    EXPECT_FALSE(runtime.controller().isPlaying()); // not before the event loop turns

    QSignalSpy started(&runtime.controller(), &AudioController::playbackStateDidChange);
    ASSERT_TRUE(started.wait(2000));
    EXPECT_TRUE(runtime.controller().isPlaying());
}

// Accepts every hotkey and presses them on demand.
class PressableHotkeys : public HotkeyBackend
{
public:
    HotkeyRegistration registerHotkey(quint32 id, HotkeyCombination) override
    {
        registered << id;
        return HotkeyRegistration::registered;
    }
    void unregisterHotkey(quint32 id) override { registered.removeAll(id); }
    QString name() const override { return QStringLiteral("pressable"); }
    QList<quint32> registered;
};

TEST(RuntimeTest, StoredShortcutIsRegisteredAtStartUpAndDrivesThePlayer)
{
    QTemporaryDir dir;
    UserDefaults defaults(dir.path() + QStringLiteral("/settings.conf"));
    defaults.setValue(ShortcutManager::defaultsKey,
                      QByteArray(R"({"playPause":{"keyCode":49,"modifiers":6144}})"));
    PressableHotkeys hotkeys;
    PlatformServices services;
    services.hotkeys = &hotkeys;
    CalmcoveRuntime runtime(nullOutput(), defaults, services);
    EXPECT_EQ(hotkeys.registered, QList<quint32>{1});
    EXPECT_EQ(runtime.shortcutManager().controller(), &runtime.controller());

    // Pressed before the deferred play(): that play() then finds it playing already.
    Q_EMIT hotkeys.activated(1);
    EXPECT_TRUE(runtime.controller().isPlaying());
    Q_EMIT hotkeys.activated(1);
    EXPECT_FALSE(runtime.controller().isPlaying());
}

TEST(RuntimeTest, WithoutAHotkeyFacilityStoredShortcutsAreRefused)
{
    QTemporaryDir dir;
    UserDefaults defaults(dir.path() + QStringLiteral("/settings.conf"));
    const QByteArray stored(R"({"next":{"keyCode":124,"modifiers":6144}})");
    defaults.setValue(ShortcutManager::defaultsKey, stored);
    CalmcoveRuntime runtime(nullOutput(), defaults);
    EXPECT_TRUE(runtime.shortcutManager().shortcuts().isEmpty());
    EXPECT_EQ(runtime.shortcutManager().errorMessage(),
              ShortcutManager::registrationFailureMessage(ShortcutAction::next));
    EXPECT_EQ(defaults.value(ShortcutManager::defaultsKey).toByteArray(), stored);
}

TEST(RuntimeTest, LibraryChangesReachTheAlbumBeforeThePlayer)
{
    QTemporaryDir dir;
    UserDefaults defaults(dir.path() + QStringLiteral("/settings.conf"));
    CalmcoveRuntime runtime(nullOutput(), defaults);
    const QString current = runtime.controller().currentTrack().id;

    QList<CalmTrack> tracks = TrackLibrary::tracks();
    for (CalmTrack& track : tracks) {
        if (track.id == current)
            track.title = QStringLiteral("Retitled by the library");
    }
    Q_EMIT runtime.audioPackStore().libraryDidChange(tracks);

    EXPECT_EQ(runtime.albumStore().builtInAlbum().tracks, tracks);
    // The player's re-check read the new album, so it shows the new title.
    EXPECT_EQ(runtime.controller().currentTrack().title, QStringLiteral("Retitled by the library"));
}

TEST(RuntimeTest, OpenImportsPathsAndQueuesLinks)
{
    QTemporaryDir dir;
    UserDefaults defaults(dir.path() + QStringLiteral("/settings.conf"));
    CalmcoveRuntime runtime(nullOutput(), defaults);
    QFile song(dir.path() + QStringLiteral("/song.wav"));
    ASSERT_TRUE(song.open(QIODevice::WriteOnly));
    song.write(test::silentWav(1)); // only real audio becomes a track
    song.close();

    const qsizetype before = runtime.albumStore().importedAlbums().size();
    QCoro::waitFor(runtime.open({QStringLiteral("https://127.0.0.1:9/a.mp3"), song.fileName()}));
    ASSERT_EQ(runtime.albumStore().urlImportJobs().size(), 1);
    EXPECT_EQ(runtime.albumStore().urlImportJobs().first().urlString,
              QStringLiteral("https://127.0.0.1:9/a.mp3"));
    ASSERT_EQ(runtime.albumStore().importedAlbums().size(), before + 1);
    EXPECT_TRUE(runtime.albumStore().importedAlbums().last().name.startsWith(
        QStringLiteral("Imported Tracks")));
}

} // namespace
} // namespace calmcove
