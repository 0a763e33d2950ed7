// The desktop's now-playing interface over a private session bus, driven and read by the
// real playerctl as the desktop's controls would: what it shows, the remote commands,
// the position, the covers, and how little it says on the bus.

#include "mpris/nowplayingcontroller.h"

#include "albums/albumstore.h"
#include "app/albumstoreselection.h"
#include "busrecorder.h"
#include "model/tracklibrary.h"
#include "platform/apppaths.h"
#include "platform/userdefaults.h"
#include "playback/audiocontroller.h"
#include "playback/manualengine.h"
#include "support/privatesessionbus.h"
#include "support/qtprinters.h"

#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

namespace calmcove {
namespace {

using test::runBusClient;

CalmTrack track(const QString& id, const QString& title)
{
    return CalmTrack{id,  builtInAlbumID, title,         "Calmcove Ensemble",
                     120, everyMood(),    CalmKind::all, BundledAudio{title.toLower()}};
}

// Identifiers an object path could not hold as they are.
const QList<CalmTrack> albumTracks = {track("first track.v2", "One"), track("zweite_Stück", "Two"),
                                      track("3", "Three")};

class NowPlayingTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_bus = new test::PrivateSessionBus;
        if (s_bus->address().isEmpty())
            return;
        s_player = new QDBusConnection(QDBusConnection::connectToBus(s_bus->address(), "player"));
        s_watcher = new QDBusConnection(QDBusConnection::connectToBus(s_bus->address(), "watcher"));
    }
    static void TearDownTestSuite()
    {
        delete s_player;
        delete s_watcher;
        QDBusConnection::disconnectFromBus("player");
        QDBusConnection::disconnectFromBus("watcher");
        delete s_bus;
    }

    void SetUp() override
    {
        if (s_bus->address().isEmpty() || !s_player->isConnected())
            GTEST_SKIP() << "dbus-daemon could not be started";
        if (QStandardPaths::findExecutable("playerctl").isEmpty())
            GTEST_SKIP() << "playerctl is not installed";
        m_albums.updateBuiltInTracks(albumTracks);
        m_engine.defaultSeconds = 120;
        m_controller =
            std::make_unique<AudioController>(m_selection, m_library, m_engine, m_defaults);
        m_nowPlaying = std::make_unique<NowPlayingController>(m_albums, *s_player);
        m_nowPlaying->configure(m_controller.get());
        ASSERT_TRUE(m_nowPlaying->isOnBus());
        m_recorder = std::make_unique<test::BusRecorder>(*s_watcher);
        ASSERT_TRUE(m_recorder->flush(*s_player));
    }

    // Runs playerctl with the space-separated `command`.
    test::ClientResult playerctl(const char* command)
    {
        return runBusClient(*s_bus, "playerctl",
                            QStringList{"-p", "calmcove"} +
                                QString::fromUtf8(command).split(' ', Qt::SkipEmptyParts));
    }
    // The same, expecting success; its output.
    QString ctl(const char* command)
    {
        const test::ClientResult result = playerctl(command);
        EXPECT_EQ(result.exitCode, 0) << command << ": " << result.error.toStdString();
        return result.output;
    }

    // Plays `seconds` on the manual clock and lets the player's clock read it.
    void advance(double seconds)
    {
        m_engine.advance(seconds);
        QCoreApplication::processEvents();
        m_controller->updateClock();
    }

    // Lets the player finish what a command started, then waits until every signal it
    // sent has reached the recorder, however slow the bus is.
    void settle()
    {
        QTest::qWait(300);
        ASSERT_TRUE(m_recorder->flush(*s_player));
    }

    QVariant property(const QString& name, const QString& interface = playerInterface)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(
            NowPlayingController::serviceName, NowPlayingController::objectPath,
            "org.freedesktop.DBus.Properties", "Get");
        call << interface << name;
        const QDBusMessage reply = s_watcher->call(call, QDBus::BlockWithGui, 10000);
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
            return {};
        return reply.arguments().first().value<QDBusVariant>().variant();
    }
    QVariantMap metadata() { return qdbus_cast<QVariantMap>(property("Metadata")); }
    // Calls `method` of `interface` with dbus-send; its exit code.
    int call(const QString& method, const QStringList& arguments = {},
             const QString& interface = playerInterface)
    {
        return runBusClient(
                   *s_bus, "dbus-send",
                   QStringList{"--print-reply", "--dest=" + NowPlayingController::serviceName,
                               NowPlayingController::objectPath, interface + '.' + method} +
                       arguments)
            .exitCode;
    }

    static inline const QString playerInterface = "org.mpris.MediaPlayer2.Player";
    static inline const QString rootInterface = "org.mpris.MediaPlayer2";
    static inline test::PrivateSessionBus* s_bus = nullptr;
    static inline QDBusConnection* s_player = nullptr;
    static inline QDBusConnection* s_watcher = nullptr;

    QTemporaryDir m_dir;
    UserDefaults m_defaults{m_dir.filePath(QStringLiteral("settings.conf"))};
    AlbumStore m_albums{m_defaults, m_dir.filePath(QStringLiteral("albums"))};
    AlbumStoreSelection m_selection{m_albums};
    test::InstalledLibrary m_library;
    test::ManualEngine m_engine;
    std::unique_ptr<AudioController> m_controller;
    std::unique_ptr<NowPlayingController> m_nowPlaying;
    std::unique_ptr<test::BusRecorder> m_recorder;
};

TEST_F(NowPlayingTest, ShowsTheTrackAlbumAndCoverWithMprisTypes)
{
    EXPECT_EQ(ctl("status"), "Paused");
    EXPECT_EQ(ctl("metadata --format {{title}}|{{artist}}|{{album}}|{{mpris:length}}"),
              "One|Calmcove Ensemble|" + TrackLibrary::builtInAlbum().name + "|120000000");

    const QVariantMap shown = metadata();
    EXPECT_EQ(shown.value("mpris:trackid").userType(), qMetaTypeId<QDBusObjectPath>());
    EXPECT_EQ(shown.value("mpris:length").userType(), QMetaType::LongLong);
    EXPECT_EQ(shown.value("xesam:artist").toStringList(), QStringList{"Calmcove Ensemble"});
    EXPECT_EQ(shown.value("mpris:artUrl").toString(),
              QUrl::fromLocalFile(AppPaths::resourcePath("BuiltInAlbumCover.png")).toString());

    EXPECT_EQ(property("Identity", rootInterface), "Calmcove");
    EXPECT_EQ(property("CanRaise", rootInterface), false);
    EXPECT_EQ(property("CanSeek"), true);
}

TEST_F(NowPlayingTest, TrackIdsAreValidObjectPathsAndDistinct)
{
    const QRegularExpression objectPath("^(/[A-Za-z0-9_]+)+$");
    const QStringList ids = {"first track.v2", "zweite_Stück", "", "a.b", "a_2eb", "😴 sleep"};
    QSet<QString> paths;
    for (const QString& id : ids) {
        const QString path = mprisTrackPath(id);
        EXPECT_TRUE(objectPath.match(path).hasMatch()) << path.toStdString();
        EXPECT_FALSE(path.startsWith("/org/mpris")) << path.toStdString();
        paths.insert(path);
    }
    EXPECT_EQ(paths.size(), ids.size()); // the bus takes them: see SetPosition below
}

TEST_F(NowPlayingTest, PlayerctlDrivesThePlayer)
{
    ctl("play-pause");
    EXPECT_TRUE(m_controller->isPlaying());
    EXPECT_EQ(ctl("status"), "Playing");

    advance(12.5);
    EXPECT_NEAR(ctl("position").toDouble(), 12.5, 0.01);

    ctl("next");
    EXPECT_EQ(m_controller->currentTrack().title, "Two");
    EXPECT_TRUE(m_controller->isPlaying());
    ctl("previous");
    EXPECT_EQ(m_controller->currentTrack().title, "One");

    // The position slider: 30 s of a 120 s track is a quarter of the file.
    ctl("position 30");
    ASSERT_FALSE(m_engine.segments.empty());
    EXPECT_EQ(m_engine.segments.front().startFrame, qint64(0.25 * 120 * m_engine.sampleRate));
    EXPECT_NEAR(ctl("position").toDouble(), 30, 0.01);

    ctl("stop");
    EXPECT_FALSE(m_controller->isPlaying());
    EXPECT_EQ(m_controller->currentTime(), 0);
    EXPECT_EQ(ctl("status"), "Stopped");
    ctl("play-pause");
    EXPECT_EQ(ctl("status"), "Playing");
}

TEST_F(NowPlayingTest, PreviousThatRestartsIsAJumpToZero)
{
    m_controller->next(); // on "Two"
    m_controller->play();
    advance(10);
    m_recorder->clear();
    ctl("previous");
    EXPECT_EQ(m_controller->currentTrack().title, "Two");
    EXPECT_EQ(m_controller->currentTime(), 0);
    settle();
    EXPECT_EQ(m_recorder->seeks, QList<qlonglong>{0});
}

TEST_F(NowPlayingTest, HeadsetPlayWhilePausedResumesAtThePresetRate)
{
    m_controller->selectMood(Mood::sleepy);
    ASSERT_FALSE(m_controller->isPlaying());
    ctl("play");
    EXPECT_TRUE(m_controller->isPlaying());
    EXPECT_EQ(ctl("status"), "Playing");
    for (const char* name : {"Rate", "MinimumRate", "MaximumRate"})
        EXPECT_DOUBLE_EQ(property(name).toDouble(), 0.88) << name;
    // Paused, the rate stays the preset's (MPRIS has no rate 0).
    ctl("pause");
    EXPECT_DOUBLE_EQ(property("Rate").toDouble(), 0.88);
}

TEST_F(NowPlayingTest, SeekAndSetPositionKeepWithinTheCurrentTrack)
{
    const QString first = "objpath:" + mprisTrackPath("first track.v2");
    const auto position = [&](const QString& method, QStringList arguments) {
        EXPECT_EQ(call(method, arguments), 0) << method.toStdString();
        return m_controller->playbackPosition();
    };
    EXPECT_NEAR(position("Seek", {"int64:20000000"}), 20, 1e-3);
    EXPECT_EQ(position("Seek", {"int64:-50000000"}), 0);
    position("SetPosition", {first, "int64:121000000"}); // past the end
    EXPECT_EQ(position("SetPosition", {first, "int64:-1"}), 0);
    position("Seek", {"int64:130000000"}); // past the end: next track
    EXPECT_EQ(m_controller->currentTrack().title, "Two");

    // The first track's id is stale now.
    EXPECT_EQ(position("SetPosition", {first, "int64:60000000"}), 0);
    EXPECT_NEAR(
        position("SetPosition", {"objpath:" + mprisTrackPath("zweite_Stück"), "int64:60000000"}),
        60, 1e-3);
}

TEST_F(NowPlayingTest, OnePublicationPerPlayPauseAndSeek)
{
    // Configured twice: still one set of handlers, so one command, one step, one signal.
    m_nowPlaying->configure(m_controller.get());
    // A seek changes no property: the display hears of it through Seeked alone. Another
    // track: one signal carrying only the metadata.
    const struct
    {
        const char* command;
        QStringList changedKeys; // of the one change signal, none when empty
        QVariant status;
        QList<qlonglong> seeks;
    } steps[] = {
        {"play", {"PlaybackStatus"}, "Playing", {}},
        {"pause", {"PlaybackStatus"}, "Paused", {}},
        {"position 45", {}, {}, {45'000'000}},
        {"next", {"Metadata"}, {}, {}},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.command);
        m_recorder->clear();
        ctl(step.command);
        settle();
        if (!step.seeks.isEmpty()) {
            EXPECT_EQ(m_recorder->seeks, step.seeks);
        }
        ASSERT_EQ(m_recorder->changes.size(), step.changedKeys.isEmpty() ? 0 : 1);
        if (step.changedKeys.isEmpty())
            continue;
        EXPECT_EQ(m_recorder->changes.first().properties.keys(), step.changedKeys);
        if (step.status.isValid()) {
            EXPECT_EQ(m_recorder->changes.first().properties.value("PlaybackStatus"), step.status);
        }
    }
    EXPECT_EQ(m_controller->currentTrack().title, "Two");
}

TEST_F(NowPlayingTest, QuietOnTheBusWhilePaused)
{
    m_controller->play();
    advance(5);
    m_controller->pause();
    settle();

    QProcess monitor;
    monitor.setProcessEnvironment(s_bus->environment());
    monitor.start("dbus-monitor", {QStringLiteral("sender='%1'").arg(s_player->baseService())});
    ASSERT_TRUE(monitor.waitForStarted());
    QTest::qWait(2500); // the player's clock ticks several times meanwhile
    monitor.terminate();
    monitor.waitForFinished();
    const QString seen = QString::fromUtf8(monitor.readAllStandardOutput());
    EXPECT_FALSE(seen.contains("sender=" + s_player->baseService() + ' ')) << seen.toStdString();
}

TEST_F(NowPlayingTest, CoversOfImportedAlbums)
{
    const auto artUrl = [&] { return metadata().value("mpris:artUrl"); };
    const QString icon = AppPaths::resourcePath("icons/calmcove.png");
    // Selecting an album publishes its name and cover.
    ASSERT_TRUE(m_albums.createAlbum("Plain"));
    EXPECT_EQ(ctl("metadata album"), "Plain");
    EXPECT_EQ(artUrl().toString(), QUrl::fromLocalFile(icon).toString());

    const QString picture = m_dir.filePath("picture.png");
    ASSERT_TRUE(QFile::copy(icon, picture));
    ASSERT_TRUE(m_albums.createAlbum("Covered", picture));
    const CalmAlbum selected = m_albums.selectedAlbum();
    const auto* artwork = std::get_if<FileArtwork>(&selected.artwork);
    ASSERT_NE(artwork, nullptr);
    EXPECT_EQ(artUrl().toString(), QUrl::fromLocalFile(artwork->path).toString());

    ASSERT_TRUE(QFile::remove(artwork->path));
    m_controller->play();
    EXPECT_FALSE(artUrl().isValid());
    EXPECT_EQ(ctl("metadata album"), "Covered");
}

TEST_F(NowPlayingTest, CommandsAfterThePlayerIsGoneStillAnswer)
{
    m_controller.reset();
    for (const char* command : {"play", "next", "stop"})
        EXPECT_EQ(playerctl(command).exitCode, 0) << command;
    EXPECT_EQ(ctl("position").toDouble(), 0);
}

TEST_F(NowPlayingTest, RaiseBecomesPossibleWithAHandler)
{
    int raised = 0;
    m_nowPlaying->setRaiseHandler([&raised] { ++raised; });
    settle();
    ASSERT_EQ(m_recorder->changes.size(), 1);
    EXPECT_EQ(m_recorder->changes.first().interface, rootInterface);
    EXPECT_EQ(property("CanRaise", rootInterface), true);
    EXPECT_EQ(call("Raise", {}, rootInterface), 0);
    EXPECT_EQ(raised, 1);
}

TEST(NowPlayingWithoutBusTest, StaysOffQuietly)
{
    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath("settings.conf"));
    AlbumStore albums(defaults, dir.filePath("albums"));
    AlbumStoreSelection selection(albums);
    test::InstalledLibrary library;
    test::ManualEngine engine;
    AudioController controller(selection, library, engine, defaults);
    NowPlayingController nowPlaying(albums, QDBusConnection::sessionBus());
    nowPlaying.configure(&controller);
    EXPECT_TRUE(nowPlaying.isConfigured());
    EXPECT_FALSE(nowPlaying.isOnBus());
    controller.play();
    EXPECT_EQ(nowPlaying.published().playbackStatus, "Playing");
}

} // namespace
} // namespace calmcove
