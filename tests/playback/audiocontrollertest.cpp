// The player's rules, on an engine driven by a manual clock: which track plays, what comes
// next, the clock, the sound settings, the sleep timer and the stored choices.

#include "playback/audiocontroller.h"

#include "manualengine.h"
#include "model/tracklibrary.h"
#include "platform/userdefaults.h"
#include "playback/albumselection.h"
#include "playback/trackaudiolibrary.h"
#include "support/qtprinters.h"

#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <limits>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace calmcove {
namespace {

// The track library as the player sees it: installed files by resource name and the
// starter copies.
class ScriptedLibrary : public TrackAudioLibrary
{
public:
    std::optional<QString> localPath(const QString& resourceName) const override
    {
        if (installed.contains(resourceName))
            return QStringLiteral("/library/") + resourceName + QStringLiteral(".m4a");
        return std::nullopt;
    }
    std::optional<QString> starterPath(const QString& resourceName) const override
    {
        if (startersShipped && TrackLibrary::starterTrackIDs().contains(resourceName))
            return QStringLiteral("/starter/") + resourceName + QStringLiteral(".m4a");
        return std::nullopt;
    }
    bool isTrackAvailable(const CalmTrack& track) const override
    {
        const auto* bundled = std::get_if<BundledAudio>(&track.source);
        return !bundled || localPath(bundled->resourceName) || starterPath(bundled->resourceName);
    }
    void requestLatestPackIfNeeded() override { ++installRequests; }

    QSet<QString> installed;
    bool startersShipped = true;
    int installRequests = 0;
};

// The albums as the player sees them: the default album, the imported ones and the
// selection, kept in memory.
class ListedAlbums : public AlbumSelection
{
public:
    CalmAlbum selectedAlbum() const override
    {
        for (const CalmAlbum& album : imported) {
            if (album.id == selectedID)
                return album;
        }
        return builtIn;
    }
    const CalmAlbum& builtInAlbum() const override { return builtIn; }
    QString selectedAlbumID() const override { return selectedID; }
    void setSelectedAlbumID(const QString& id) override { selectedID = id; }

    CalmAlbum builtIn = TrackLibrary::builtInAlbum();
    QList<CalmAlbum> imported;
    QString selectedID = builtInAlbumID;
};

const CalmTrack& catalogueTrack(const char* id)
{
    for (const CalmTrack& track : TrackLibrary::tracks()) {
        if (track.id == QLatin1String(id))
            return track;
    }
    throw std::logic_error("no such catalogue track");
}

class AudioControllerTest : public ::testing::Test
{
protected:
    AudioController& controller()
    {
        if (!m_controller) {
            AudioController::Options options;
            options.randomIndex = [this](qsizetype count) {
                draws.append(count);
                return nextDraw % count;
            };
            options.sleepTickIntervalMs = 2;
            m_controller = std::make_unique<AudioController>(m_albums, m_library, m_engine,
                                                             m_defaults, options);
        }
        return *m_controller;
    }

    void recreateController()
    {
        m_controller.reset();
        controller();
    }

    // Plays `seconds` and delivers the completions that result.
    void advance(double seconds)
    {
        m_engine.advance(seconds);
        QCoreApplication::processEvents();
        controller().updateClock();
    }

    // An imported album of `trackCount` tracks whose files exist, selected as a newly
    // created album is.
    CalmAlbum importAlbum(int trackCount, const QString& name = QStringLiteral("Mine"))
    {
        CalmAlbum album{
            QStringLiteral("A%1").arg(m_albums.imported.size()), name, {}, NoArtwork{}, false};
        QDir().mkpath(m_dir.path() + QLatin1Char('/') + album.id);
        for (int i = 0; i < trackCount; ++i) {
            const QString path =
                m_dir.path() + QLatin1Char('/') + album.id + QStringLiteral("/%1.mp3").arg(i);
            QFile file(path);
            EXPECT_TRUE(file.open(QIODevice::WriteOnly));
            album.tracks.append(CalmTrack{
                QStringLiteral("I%1").arg(i), album.id, QStringLiteral("Imported %1").arg(i),
                QStringLiteral("Me"), 30, everyMood(), CalmKind::all, FileAudio{path}});
        }
        m_albums.imported.append(album);
        m_albums.selectedID = album.id;
        return album;
    }

    QTemporaryDir m_dir;
    UserDefaults m_defaults{m_dir.path() + QStringLiteral("/settings.conf")};
    ListedAlbums m_albums;
    ScriptedLibrary m_library;
    test::ManualEngine m_engine;
    qsizetype nextDraw = 0;
    QList<qsizetype> draws;
    std::unique_ptr<AudioController> m_controller;
};

TEST_F(AudioControllerTest, FirstLaunchPlaysStarterTracksOnly)
{
    EXPECT_EQ(controller().currentTrack().id, QStringLiteral("morning-tea-steam"));
    EXPECT_FALSE(controller().isPlaying());
    EXPECT_EQ(m_engine.opened, QStringList{QStringLiteral("/starter/morning-tea-steam.m4a")});
    EXPECT_EQ(m_defaults.string(QStringLiteral("currentTrackID")),
              QStringLiteral("morning-tea-steam"));

    controller().play();
    EXPECT_TRUE(m_engine.running);
    EXPECT_TRUE(m_engine.playing);
    // With focus selected only one starter passes; next wraps to it again.
    controller().next();
    EXPECT_EQ(controller().currentTrack().id, QStringLiteral("morning-tea-steam"));
    EXPECT_TRUE(controller().isPlaying());

    // The stored mood picks the first starter it lets through.
    m_defaults.setValue(QStringLiteral("selectedMood"), QStringLiteral("Night"));
    m_defaults.remove(QStringLiteral("currentTrackID"));
    recreateController();
    EXPECT_EQ(controller().currentTrack().id, QStringLiteral("midnight-overpass"));

    // No starter passes the kind filter: the first starter of the default album.
    m_defaults.setValue(QStringLiteral("selectedKind"), QStringLiteral("Soft glitch"));
    m_defaults.remove(QStringLiteral("currentTrackID"));
    recreateController();
    EXPECT_EQ(controller().currentTrack().id, QStringLiteral("morning-tea-steam"));
    controller().next();
    controller().next();
    EXPECT_TRUE(TrackLibrary::starterTrackIDs().contains(controller().currentTrack().id));
}

TEST_F(AudioControllerTest, NextSwitchesFromStarterToLibraryEvenInShuffle)
{
    controller().setShuffleEnabled(true);
    controller().play();
    m_library.installed = {QStringLiteral("corner-bookshop")};

    controller().next();
    EXPECT_EQ(controller().currentTrack().id, QStringLiteral("corner-bookshop"));
    EXPECT_EQ(m_engine.opened.last(), QStringLiteral("/library/corner-bookshop.m4a"));
    EXPECT_TRUE(draws.isEmpty());
}

TEST_F(AudioControllerTest, PreviousRestartsAfterFourSeconds)
{
    m_library.installed = {QStringLiteral("morning-tea-steam"),
                           QStringLiteral("dusty-window-light"), QStringLiteral("corner-bookshop")};
    controller().play();
    controller().next();
    ASSERT_EQ(controller().currentTrack().id, QStringLiteral("dusty-window-light"));

    advance(4.1);
    controller().previous();
    EXPECT_EQ(controller().currentTrack().id, QStringLiteral("dusty-window-light"));
    EXPECT_EQ(controller().currentTime(), 0);

    advance(4.0);
    EXPECT_DOUBLE_EQ(controller().currentTime(), 4.0);
    controller().previous();
    EXPECT_EQ(controller().currentTrack().id, QStringLiteral("morning-tea-steam"));
    controller().previous(); // wraps backwards
    EXPECT_EQ(controller().currentTrack().id, QStringLiteral("corner-bookshop"));
}

TEST_F(AudioControllerTest, ShuffleWithOneCandidateReloadsItFromTheStart)
{
    m_library.installed = {QStringLiteral("morning-tea-steam")};
    controller().setShuffleEnabled(true);
    controller().play();
    advance(10);
    controller().next();
    EXPECT_EQ(controller().currentTrack().id, QStringLiteral("morning-tea-steam"));
    EXPECT_EQ(controller().currentTime(), 0);
    EXPECT_EQ(m_engine.opened.size(), 2);
    EXPECT_TRUE(draws.isEmpty());
}

TEST_F(AudioControllerTest, TrackEndAdvancesAndLateCompletionsAreIgnored)
{
    m_library.installed = {QStringLiteral("morning-tea-steam"),
                           QStringLiteral("dusty-window-light")};
    m_engine.lengths[QStringLiteral("/library/morning-tea-steam.m4a")] = 5;
    controller().play();
    advance(5);
    EXPECT_EQ(controller().currentTrack().id, QStringLiteral("dusty-window-light"));
    EXPECT_TRUE(controller().isPlaying());

    // A completion that arrives after the listener moved on changes nothing.
    auto stale = std::move(m_engine.segments.front().completion);
    m_engine.segments.front().completion = [] {};
    controller().next();
    ASSERT_EQ(controller().currentTrack().id, QStringLiteral("morning-tea-steam"));
    stale();
    QCoreApplication::processEvents();
    EXPECT_EQ(controller().currentTrack().id, QStringLiteral("morning-tea-steam"));

    // A track that ends while paused does not advance.
    controller().pause();
    m_engine.playing = true;
    advance(6);
    EXPECT_EQ(controller().currentTrack().id, QStringLiteral("morning-tea-steam"));
}

// Near its end the next track is scheduled behind the current one; when the current one
// ends it becomes current without the player being stopped, once, its position counting
// from 0. A next track that cannot be opened leaves the move to the end, as before.
TEST_F(AudioControllerTest, NextTrackIsQueuedAndTakesOverWithoutStoppingThePlayer)
{
    m_library.installed = {QStringLiteral("morning-tea-steam"), QStringLiteral("pixel-snowfall")};
    const QString first = QStringLiteral("/library/morning-tea-steam.m4a");
    const QString second = QStringLiteral("/library/pixel-snowfall.m4a");
    m_engine.lengths[first] = 20;
    m_engine.lengths[second] = 10;
    constexpr double rate = test::ManualEngine::sampleRate;
    controller().play();
    advance(20 - AudioController::prerollSeconds - 0.5);
    EXPECT_EQ(m_engine.segments.size(), 1u);
    advance(1);
    ASSERT_EQ(m_engine.segments.size(), 2u);
    EXPECT_EQ(m_engine.segments.back().path, second);
    EXPECT_EQ(m_engine.segments.back().startFrame, 0);
    EXPECT_EQ(m_engine.segments.back().frameCount, qint64(10 * rate));
    EXPECT_EQ(controller().currentTrack().id, QStringLiteral("morning-tea-steam"));

    QSignalSpy changed(&controller(), &AudioController::currentTrackChanged);
    QSignalSpy published(&controller(), &AudioController::nowPlayingUpdated);
    QSignalSpy jumped(&controller(), &AudioController::positionJumped);
    advance(AudioController::prerollSeconds - 0.5 + 1.5);
    EXPECT_EQ(controller().currentTrack().id, QStringLiteral("pixel-snowfall"));
    EXPECT_DOUBLE_EQ(controller().currentTime(), 1.5);
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(published.count(), 1);
    EXPECT_EQ(jumped.count(), 0);
    EXPECT_EQ(m_engine.played, qint64(21.5 * rate)) << "the player ran on";
    EXPECT_EQ(m_engine.opened, (QStringList{first, second}));

    // A pause may find the player in the queued track before the completion arrives: it
    // pauses that track, and the late completion changes nothing more.
    advance(4);
    ASSERT_EQ(m_engine.segments.size(), 2u);
    EXPECT_EQ(m_engine.segments.back().path, first); // wraps around
    m_engine.advance(5);
    controller().pause();
    EXPECT_EQ(controller().currentTrack().id, QStringLiteral("morning-tea-steam"));
    EXPECT_DOUBLE_EQ(controller().currentTime(), 0.5);
    QCoreApplication::processEvents();
    EXPECT_EQ(controller().currentTrack().id, QStringLiteral("morning-tea-steam"));
    EXPECT_EQ(changed.count(), 2);
    ASSERT_EQ(m_engine.segments.size(), 1u);
    EXPECT_EQ(m_engine.segments.front().startFrame, qint64(0.5 * rate));
    controller().play();

    m_engine.unreadable.insert(second);
    advance(16);
    EXPECT_EQ(m_engine.segments.size(), 1u);
    EXPECT_TRUE(controller().lastPlaybackError().isNull()) << "reported at the end";
    advance(4);
    EXPECT_EQ(controller().currentTrack().id, QStringLiteral("pixel-snowfall"));
    EXPECT_TRUE(
        controller().lastPlaybackError().startsWith(QStringLiteral("Could not open pixel")));
}

// A one-track album runs into itself, with or without shuffle; shuffle queues a draw.
TEST_F(AudioControllerTest, QueuedTrackRepeatsAOneTrackAlbumAndFollowsShuffle)
{
    const CalmAlbum single = importAlbum(1);
    const QString path = std::get<FileAudio>(single.tracks.first().source).path;
    m_engine.lengths[path] = 30;
    QSignalSpy jumped(&controller(), &AudioController::positionJumped);
    controller().play();
    advance(26);
    ASSERT_EQ(m_engine.segments.size(), 2u);
    EXPECT_EQ(m_engine.segments.back().path, path);
    advance(5);
    EXPECT_EQ(controller().currentTrack().id, QStringLiteral("I0"));
    EXPECT_DOUBLE_EQ(controller().currentTime(), 1);
    EXPECT_EQ(jumped.count(), 1);
    EXPECT_EQ(m_engine.played, qint64(31 * test::ManualEngine::sampleRate));

    controller().setShuffleEnabled(true);
    advance(26);
    EXPECT_EQ(m_engine.segments.size(), 2u);
    advance(4);
    EXPECT_EQ(jumped.count(), 2);
    EXPECT_TRUE(draws.isEmpty());

    const CalmAlbum three = importAlbum(3);
    controller().selectAlbum(three);
    nextDraw = 1;
    advance(100 - AudioController::prerollSeconds + 1);
    ASSERT_EQ(m_engine.segments.size(), 2u);
    EXPECT_EQ(draws, QList<qsizetype>{2});
    advance(AudioController::prerollSeconds);
    EXPECT_EQ(controller().currentTrack(), three.tracks.at(2));
}

// Whatever the listener does near a track's end drops the track queued behind it; a
// change of the choices queues the right one instead. No dropped track ever plays.
TEST_F(AudioControllerTest, ListenerActionsDropTheQueuedTrack)
{
    m_library.installed = {QStringLiteral("morning-tea-steam"), QStringLiteral("pixel-snowfall"),
                           QStringLiteral("dusty-window-light")};
    const auto library = [](const char* id) {
        return QStringLiteral("/library/%1.m4a").arg(QLatin1String(id));
    };
    m_engine.lengths[library("morning-tea-steam")] = 20;
    const struct
    {
        const char* action;
        std::function<void()> act;
        const char* current;      // right after the action
        QStringList scheduled;    // right after the action
        const char* currentLater; // five seconds on
    } cases[] = {
        {"pause",
         [&] { controller().pause(); },
         "morning-tea-steam",
         {library("morning-tea-steam")},
         "morning-tea-steam"},
        {"seek",
         [&] { controller().seek(0.25); },
         "morning-tea-steam",
         {library("morning-tea-steam")},
         "morning-tea-steam"},
        {"previous",
         [&] { controller().previous(); },
         "morning-tea-steam",
         {library("morning-tea-steam")},
         "morning-tea-steam"},
        {"next",
         [&] { controller().next(); },
         "pixel-snowfall",
         {library("pixel-snowfall")},
         "pixel-snowfall"},
        {"select",
         [&] { controller().select(catalogueTrack("dusty-window-light")); },
         "dusty-window-light",
         {library("dusty-window-light")},
         "dusty-window-light"},
        {"stop",
         [&] { controller().stop(); },
         "morning-tea-steam",
         {library("morning-tea-steam")},
         "morning-tea-steam"},
        {"kind that keeps the track",
         [&] { controller().selectKind(CalmKind::dustyBeat); },
         "morning-tea-steam",
         {library("morning-tea-steam"), library("dusty-window-light")},
         "dusty-window-light"},
        {"library without the queued track",
         [&] {
             m_library.installed.remove(QStringLiteral("pixel-snowfall"));
             controller().handleBuiltInLibraryChanged();
         },
         "morning-tea-steam",
         {library("morning-tea-steam"), library("dusty-window-light")},
         "dusty-window-light"},
    };
    for (const auto& step : cases) {
        SCOPED_TRACE(step.action);
        m_controller.reset();
        m_engine.stopPlayer();
        m_engine.played = 0;
        m_library.installed.insert(QStringLiteral("pixel-snowfall"));
        m_defaults.remove(QStringLiteral("selectedKind"));
        m_defaults.remove(QStringLiteral("currentTrackID"));
        controller().play();
        advance(16);
        ASSERT_EQ(m_engine.segments.size(), 2u);
        ASSERT_EQ(m_engine.segments.back().path, library("pixel-snowfall"));

        step.act();
        QCoreApplication::processEvents(); // completions of what was dropped
        EXPECT_EQ(controller().currentTrack().id, QLatin1String(step.current));
        QStringList scheduled;
        for (const auto& segment : m_engine.segments)
            scheduled.append(segment.path);
        EXPECT_EQ(scheduled, step.scheduled);
        advance(5);
        EXPECT_EQ(controller().currentTrack().id, QLatin1String(step.currentLater));
    }
}

TEST_F(AudioControllerTest, SeekToTheEndWhilePlayingStartsTheNextTrack)
{
    m_library.installed = {QStringLiteral("morning-tea-steam"),
                           QStringLiteral("dusty-window-light")};
    controller().play();
    controller().seek(1.0);
    EXPECT_EQ(controller().currentTrack().id, QStringLiteral("dusty-window-light"));
    EXPECT_TRUE(controller().isPlaying());

    controller().pause();
    const size_t scheduled = m_engine.segments.size();
    controller().seek(1.0);
    EXPECT_EQ(controller().currentTrack().id, QStringLiteral("dusty-window-light"));
    EXPECT_TRUE(m_engine.segments.empty());
    EXPECT_EQ(scheduled, 1u);
    EXPECT_FALSE(controller().isPlaying());

    controller().seek(0.5);
    EXPECT_NEAR(controller().currentTime(), 50, 0.01);
    EXPECT_NEAR(controller().progress(), 50 / controller().currentTrack().duration, 1e-9);
    EXPECT_EQ(m_engine.segments.front().startFrame, qint64(50 * test::ManualEngine::sampleRate));
}

TEST_F(AudioControllerTest, ClockFollowsThePositionAcrossPauseAndResume)
{
    controller().play();
    advance(3);
    EXPECT_DOUBLE_EQ(controller().currentTime(), 3);
    controller().pause();
    EXPECT_DOUBLE_EQ(controller().currentTime(), 3);
    advance(2); // paused: nothing plays
    EXPECT_DOUBLE_EQ(controller().currentTime(), 3);
    controller().play();
    advance(2);
    EXPECT_DOUBLE_EQ(controller().currentTime(), 5);
    EXPECT_EQ(controller().displayTime(), QStringLiteral("0:05 / 2:44"));

    controller().stop();
    EXPECT_FALSE(controller().isPlaying());
    EXPECT_EQ(controller().currentTime(), 0);
    EXPECT_EQ(m_engine.segments.front().startFrame, 0);
}

TEST_F(AudioControllerTest, SilenceUntilTheLibraryDeliversAPlayableTrack)
{
    m_library.startersShipped = false;
    m_defaults.setValue(QStringLiteral("selectedKind"), QStringLiteral("Soft glitch"));
    controller();
    EXPECT_TRUE(m_engine.opened.isEmpty());
    EXPECT_GE(m_library.installRequests, 1);

    controller().play();
    EXPECT_TRUE(controller().isPlaying());
    EXPECT_TRUE(m_engine.running);
    EXPECT_TRUE(m_engine.segments.empty());

    m_library.installed = {QStringLiteral("pixel-snowfall")};
    controller().handleBuiltInLibraryChanged();
    EXPECT_EQ(controller().currentTrack().id, QStringLiteral("pixel-snowfall"));
    EXPECT_EQ(m_engine.segments.size(), 1u);
    EXPECT_TRUE(m_engine.playing);
}

TEST_F(AudioControllerTest, LibraryChangeSwapsTheStarterCopyForTheLibraryFile)
{
    controller().play();
    advance(20);
    QList<CalmTrack> tracks = TrackLibrary::tracks();
    tracks[0].title = QStringLiteral("Morning Tea Steam (library)");
    m_library.installed = {QStringLiteral("morning-tea-steam")};
    m_albums.builtIn.tracks = tracks;
    controller().handleBuiltInLibraryChanged();
    EXPECT_EQ(controller().currentTrack().title, QStringLiteral("Morning Tea Steam (library)"));
    EXPECT_EQ(m_engine.opened.last(), QStringLiteral("/library/morning-tea-steam.m4a"));
    EXPECT_EQ(controller().currentTime(), 0);
    EXPECT_TRUE(controller().isPlaying());
}

TEST_F(AudioControllerTest, MoodAndKindSelection)
{
    m_library.installed = {QStringLiteral("morning-tea-steam"),
                           QStringLiteral("dusty-window-light"), QStringLiteral("pixel-snowfall")};
    controller();
    // The draw may hit the current track, which then simply stays.
    nextDraw = 0;
    controller().selectMood(Mood::focus);
    EXPECT_EQ(controller().currentTrack().id, QStringLiteral("morning-tea-steam"));
    EXPECT_EQ(m_engine.opened.size(), 1);
    nextDraw = 1;
    controller().selectMood(Mood::focus);
    EXPECT_EQ(controller().currentTrack().id, QStringLiteral("pixel-snowfall"));
    EXPECT_EQ(m_defaults.string(QStringLiteral("selectedMood")), QStringLiteral("Focus"));

    // A kind keeps the current track whenever it still passes.
    controller().selectKind(CalmKind::softGlitch);
    EXPECT_EQ(controller().currentTrack().id, QStringLiteral("pixel-snowfall"));
    controller().selectKind(CalmKind::dustyBeat);
    EXPECT_EQ(controller().currentTrack().id, QStringLiteral("morning-tea-steam"));
    EXPECT_EQ(m_defaults.string(QStringLiteral("selectedKind")), QStringLiteral("Dusty beat"));
}

TEST_F(AudioControllerTest, ImportedAlbumsIgnoreFiltersAndEmptyOnesFallBack)
{
    const CalmAlbum imported = importAlbum(2);
    ASSERT_EQ(m_albums.imported.at(0).tracks.size(), 2);
    AudioController player(m_albums, m_library, m_engine, m_defaults);
    player.selectKind(CalmKind::nightDrive);
    player.selectAlbum(m_albums.imported.at(0));
    EXPECT_EQ(player.filteredTracks(), m_albums.imported.at(0).tracks);
    EXPECT_EQ(player.currentTrack().id, QStringLiteral("I0"));
    player.next();
    EXPECT_EQ(player.currentTrack().id, QStringLiteral("I1"));

    const CalmAlbum empty = importAlbum(0, QStringLiteral("Empty"));
    player.selectAlbum(empty);
    EXPECT_EQ(player.currentTrack().id, QStringLiteral("I1")); // nothing to choose
    player.next();
    EXPECT_EQ(player.currentTrack().albumID, builtInAlbumID);
    EXPECT_EQ(imported.name, QStringLiteral("Mine"));
}

TEST_F(AudioControllerTest, SelectingAnUnavailableTrackAsksForTheLibrary)
{
    controller();
    const int before = m_library.installRequests;
    controller().select(catalogueTrack("corner-bookshop"));
    EXPECT_EQ(m_library.installRequests, before + 1);
    EXPECT_EQ(controller().currentTrack().id, QStringLiteral("morning-tea-steam"));

    m_engine.unreadable.insert(QStringLiteral("/starter/midnight-overpass.m4a"));
    controller().select(catalogueTrack("midnight-overpass"));
    EXPECT_EQ(controller().currentTrack().id, QStringLiteral("midnight-overpass"));
}

TEST_F(AudioControllerTest, EngineThatCannotStartLeavesThePlayerPaused)
{
    m_engine.startError = QStringLiteral("Connection refused");
    QSignalSpy state(&controller(), &AudioController::playbackStateDidChange);
    controller().play();
    EXPECT_FALSE(controller().isPlaying());
    EXPECT_EQ(state.count(), 0);

    m_engine.startError.reset();
    controller().togglePlayPause();
    ASSERT_EQ(state.count(), 1);
    EXPECT_EQ(state.at(0).at(0).toBool(), true);
    controller().togglePlayPause();
    EXPECT_EQ(state.count(), 2);
}

TEST_F(AudioControllerTest, LastPlaybackErrorShowsTheFailureUntilAudioPlays)
{
    m_engine.unreadable.insert(QStringLiteral("/starter/midnight-overpass.m4a"));
    m_engine.startError = QStringLiteral("Connection refused");
    QSignalSpy errors(&controller(), &AudioController::lastPlaybackErrorChanged);
    EXPECT_TRUE(controller().lastPlaybackError().isNull());

    controller().play();
    EXPECT_EQ(controller().lastPlaybackError(),
              QStringLiteral("Calmcove playback failed: Connection refused"));
    controller().play();
    EXPECT_EQ(errors.count(), 1) << "the same failure again is no change";

    m_engine.startError.reset();
    controller().select(catalogueTrack("midnight-overpass"));
    EXPECT_TRUE(controller().lastPlaybackError().startsWith(
        QStringLiteral("Could not open midnight-overpass.m4a: ")));
    controller().select(catalogueTrack("morning-tea-steam"));
    controller().play();
    EXPECT_TRUE(controller().isPlaying());
    EXPECT_TRUE(controller().lastPlaybackError().isNull());
    EXPECT_EQ(errors.count(), 3);
}

TEST_F(AudioControllerTest, PresetsAndVolume)
{
    controller().selectMood(Mood::sleepy);
    EXPECT_EQ(m_engine.rate, 0.88);
    EXPECT_EQ(m_engine.reverbMix, 28);
    EXPECT_EQ(m_engine.gains, (std::array<float, 3>{2, -3, -5}));
    controller().selectMood(Mood::boost);
    EXPECT_EQ(m_engine.rate, 1.04);
    EXPECT_EQ(m_engine.reverbMix, 6);
    EXPECT_EQ(m_engine.gains, (std::array<float, 3>{1, 1.5f, 2}));
    EXPECT_EQ(controller().lowGain(), 1);

    EXPECT_EQ(controller().volume(), 0.72);
    controller().setVolume(1.5);
    EXPECT_EQ(controller().volume(), 1);
    EXPECT_EQ(m_engine.volume, 1);
    EXPECT_EQ(m_defaults.number(QStringLiteral("volume")), 1);
    controller().setVolume(-0.2);
    EXPECT_EQ(controller().volume(), 0);
    controller().setVolume(std::numeric_limits<double>::quiet_NaN());
    controller().setVolume(std::numeric_limits<double>::infinity());
    EXPECT_EQ(controller().volume(), 0);
    EXPECT_EQ(m_defaults.number(QStringLiteral("volume")), 0);
}

TEST_F(AudioControllerTest, ChoicesPersistAndUnreadableValuesFallBack)
{
    m_library.installed = {QStringLiteral("corner-bookshop"), QStringLiteral("morning-tea-steam")};
    controller().selectMood(Mood::cozy);
    controller().setShuffleEnabled(true);
    controller().setVolume(0.4);
    controller().select(catalogueTrack("corner-bookshop"));
    recreateController();
    EXPECT_EQ(controller().selectedMood(), Mood::cozy);
    EXPECT_TRUE(controller().shuffleEnabled());
    EXPECT_EQ(controller().volume(), 0.4);
    EXPECT_EQ(controller().currentTrack().id, QStringLiteral("corner-bookshop"));
    EXPECT_EQ(controller().playbackRate(), 0.96);

    for (const char* stored : {"loud", "nan", "inf"}) {
        m_defaults.setValue(QStringLiteral("volume"), QString::fromLatin1(stored));
        m_defaults.setValue(QStringLiteral("selectedMood"), QStringLiteral("cozy"));
        recreateController();
        EXPECT_EQ(controller().volume(), 0.72) << stored;
        EXPECT_EQ(controller().selectedMood(), Mood::focus);
    }
}

TEST_F(AudioControllerTest, SleepTimerPausesWhenItRunsOut)
{
    controller().play();
    controller().setSleepMinutes(0.05); // three ticks
    controller().startSleepTimer();
    EXPECT_EQ(controller().sleepTimeRemaining(), 3);
    QTRY_COMPARE_WITH_TIMEOUT(controller().isPlaying(), false, 5000);
    EXPECT_EQ(controller().sleepTimeRemaining(), 0);
    EXPECT_EQ(controller().sleepMinutes(), 0.05);

    controller().startSleepTimer();
    controller().cancelSleepTimer();
    EXPECT_EQ(controller().sleepTimeRemaining(), 0);
    EXPECT_EQ(controller().sleepMinutes(), 0);

    controller().setSleepMinutes(10);
    controller().startSleepTimer();
    controller().setSleepMinutes(0);
    controller().startSleepTimer(); // zero minutes: clears the time, runs nothing
    EXPECT_EQ(controller().sleepTimeRemaining(), 0);
    controller().play();
    QTest::qWait(30);
    EXPECT_TRUE(controller().isPlaying());
}

TEST(FormatTimeTest, MinutesAndSeconds)
{
    EXPECT_EQ(formatTime(3725), QStringLiteral("62:05"));
    EXPECT_EQ(formatTime(-3), QStringLiteral("0:00"));
    EXPECT_EQ(formatTime(59.99), QStringLiteral("0:59"));
    EXPECT_EQ(formatTime(std::numeric_limits<double>::quiet_NaN()), QStringLiteral("0:00"));
}

// The desktop display hears of exactly the changes it must see, once each; the clock and
// a track ending while paused say nothing.
TEST_F(AudioControllerTest, PublishesTheNowPlayingTableAtItsMoments)
{
    m_library.installed = {QStringLiteral("morning-tea-steam"),
                           QStringLiteral("dusty-window-light"), QStringLiteral("corner-bookshop")};
    QSignalSpy published(&controller(), &AudioController::nowPlayingUpdated);
    QSignalSpy jumped(&controller(), &AudioController::positionJumped);
    const auto state = [this] { return controller().nowPlayingInfo().state; };

    const struct
    {
        const char* step;
        std::function<void()> action;
        int publications;
        int jumps;
        NowPlayingInfo::State state;
    } steps[] = {
        {"play", [&] { controller().play(); }, 1, 0, NowPlayingInfo::State::playing},
        {"clock", [&] { advance(10); }, 0, 0, NowPlayingInfo::State::playing},
        {"seek while playing", [&] { controller().seek(0.5); }, 1, 1,
         NowPlayingInfo::State::playing},
        {"pause",
         [&] {
             m_engine.advance(2); // not read by the clock yet
             controller().pause();
             EXPECT_DOUBLE_EQ(controller().currentTime(), 0.5 * 100 + 2); // no tick needed
         },
         1, 0, NowPlayingInfo::State::paused},
        {"seek while paused", [&] { controller().seek(0.25); }, 1, 1,
         NowPlayingInfo::State::paused},
        {"next while paused", [&] { controller().next(); }, 1, 0, NowPlayingInfo::State::paused},
        {"stop", [&] { controller().stop(); }, 1, 1, NowPlayingInfo::State::stopped},
        {"library re-check", [&] { controller().handleBuiltInLibraryChanged(); }, 1, 0,
         NowPlayingInfo::State::stopped},
        {"failed start",
         [&] {
             m_engine.running = false;
             m_engine.startError = QStringLiteral("no device");
             controller().play();
         },
         1, 0, NowPlayingInfo::State::paused},
    };
    for (const auto& step : steps) {
        published.clear();
        jumped.clear();
        step.action();
        EXPECT_EQ(published.count(), step.publications) << step.step;
        EXPECT_EQ(jumped.count(), step.jumps) << step.step;
        EXPECT_EQ(state(), step.state) << step.step;
    }

    const NowPlayingInfo info = controller().nowPlayingInfo();
    EXPECT_EQ(info.trackID, controller().currentTrack().id);
    EXPECT_EQ(info.albumTitle, TrackLibrary::builtInAlbum().name);
    EXPECT_EQ(info.artwork, TrackLibrary::builtInAlbum().artwork);
    EXPECT_EQ(info.rate, 0); // not playing
    EXPECT_EQ(info.defaultRate, controller().playbackRate());
}

} // namespace
} // namespace calmcove
