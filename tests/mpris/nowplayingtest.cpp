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
    return CalmTrack{id,  builtInAlbumID, title,         QStringLiteral("Calmcove Ensemble"),
                     120, everyMood(),    CalmKind::all, BundledAudio{title.toLower()}};
}

// Identifiers an object path could not hold as they are.
const QList<CalmTrack> albumTracks = {
    track(QStringLiteral("first track.v2"), QStringLiteral("One")),
    track(QStringLiteral("zweite_Stück"), QStringLiteral("Two")),
    track(QStringLiteral("3"), QStringLiteral("Three"))};

class NowPlayingTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_bus = new test::PrivateSessionBus;
        if (s_bus->address().isEmpty())
            return;
        s_player = new QDBusConnection(
            QDBusConnection::connectToBus(s_bus->address(), QStringLiteral("player")));
        s_watcher = new QDBusConnection(
            QDBusConnection::connectToBus(s_bus->address(), QStringLiteral("watcher")));
    }
    static void TearDownTestSuite()
    {
        delete s_player;
        delete s_watcher;
        QDBusConnection::disconnectFromBus(QStringLiteral("player"));
        QDBusConnection::disconnectFromBus(QStringLiteral("watcher"));
        delete s_bus;
    }

    void SetUp() override
    {
        if (s_bus->address().isEmpty() || !s_player->isConnected())
            GTEST_SKIP() << "dbus-daemon could not be started";
        if (QStandardPaths::findExecutable(QStringLiteral("playerctl")).isEmpty())
            GTEST_SKIP() << "playerctl is not installed";
        m_albums.updateBuiltInTracks(albumTracks);
        m_engine.defaultSeconds = 120;
        m_controller =
            std::make_unique<AudioController>(m_selection, m_library, m_engine, m_defaults);
        m_nowPlaying = std::make_unique<NowPlayingController>(m_albums, *s_player);
        m_nowPlaying->configure(m_controller.get());
        ASSERT_TRUE(m_nowPlaying->isOnBus());
        m_recorder = std::make_unique<test::BusRecorder>(*s_watcher);
    }

    test::ClientResult playerctl(const QStringList& arguments)
    {
        return runBusClient(*s_bus, QStringLiteral("playerctl"),
                            QStringList{QStringLiteral("-p"), QStringLiteral("calmcove")} +
                                arguments);
    }
    QString playerctlOutput(const QStringList& arguments)
    {
        const test::ClientResult result = playerctl(arguments);
        EXPECT_EQ(result.exitCode, 0) << result.error.toStdString();
        return result.output;
    }

    // Plays `seconds` on the manual clock and lets the player's clock read it.
    void advance(double seconds)
    {
        m_engine.advance(seconds);
        QCoreApplication::processEvents();
        m_controller->updateClock();
    }

    // Lets signals on their way to the recorder arrive.
    void settle() { QTest::qWait(300); }

    QVariant property(const QString& interface, const QString& name)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(
            NowPlayingController::serviceName, NowPlayingController::objectPath,
            QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
        call << interface << name;
        const QDBusMessage reply = s_watcher->call(call, QDBus::BlockWithGui, 10000);
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
            return {};
        return reply.arguments().first().value<QDBusVariant>().variant();
    }
    QVariant playerProperty(const QString& name)
    {
        return property(QStringLiteral("org.mpris.MediaPlayer2.Player"), name);
    }
    QVariantMap metadata()
    {
        return qdbus_cast<QVariantMap>(playerProperty(QStringLiteral("Metadata")));
    }

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
    EXPECT_EQ(playerctlOutput({QStringLiteral("status")}), QStringLiteral("Paused"));
    EXPECT_EQ(playerctlOutput({QStringLiteral("metadata"), QStringLiteral("--format"),
                               QStringLiteral("{{title}}|{{artist}}|{{album}}|{{mpris:length}}")}),
              QStringLiteral("One|Calmcove Ensemble|%1|120000000")
                  .arg(TrackLibrary::builtInAlbum().name));

    const QVariantMap shown = metadata();
    EXPECT_EQ(shown.value(QStringLiteral("mpris:trackid")).userType(),
              qMetaTypeId<QDBusObjectPath>());
    EXPECT_EQ(shown.value(QStringLiteral("mpris:length")).userType(), QMetaType::LongLong);
    EXPECT_EQ(shown.value(QStringLiteral("xesam:artist")).toStringList(),
              QStringList{QStringLiteral("Calmcove Ensemble")});
    EXPECT_EQ(shown.value(QStringLiteral("mpris:artUrl")).toString(),
              QUrl::fromLocalFile(AppPaths::resourcePath(QStringLiteral("BuiltInAlbumCover.png")))
                  .toString());

    EXPECT_EQ(property(QStringLiteral("org.mpris.MediaPlayer2"), QStringLiteral("Identity")),
              QStringLiteral("Calmcove"));
    EXPECT_EQ(property(QStringLiteral("org.mpris.MediaPlayer2"), QStringLiteral("CanRaise")),
              false);
    EXPECT_EQ(playerProperty(QStringLiteral("CanSeek")), true);
}

TEST_F(NowPlayingTest, TrackIdsAreValidObjectPathsAndDistinct)
{
    const QRegularExpression objectPath(QStringLiteral("^(/[A-Za-z0-9_]+)+$"));
    const QStringList ids = {QStringLiteral("first track.v2"),
                             QStringLiteral("zweite_Stück"),
                             QStringLiteral(""),
                             QStringLiteral("a.b"),
                             QStringLiteral("a_2eb"),
                             QStringLiteral("😴 sleep")};
    QSet<QString> paths;
    for (const QString& id : ids) {
        const QString path = mprisTrackPath(id);
        EXPECT_TRUE(objectPath.match(path).hasMatch()) << path.toStdString();
        EXPECT_FALSE(path.startsWith(QStringLiteral("/org/mpris"))) << path.toStdString();
        paths.insert(path);
    }
    EXPECT_EQ(paths.size(), ids.size()); // the bus takes them: see SetPosition below
}

TEST_F(NowPlayingTest, PlayerctlDrivesThePlayer)
{
    playerctlOutput({QStringLiteral("play-pause")});
    EXPECT_TRUE(m_controller->isPlaying());
    EXPECT_EQ(playerctlOutput({QStringLiteral("status")}), QStringLiteral("Playing"));

    advance(12.5);
    EXPECT_NEAR(playerctlOutput({QStringLiteral("position")}).toDouble(), 12.5, 0.01);

    playerctlOutput({QStringLiteral("next")});
    EXPECT_EQ(m_controller->currentTrack().title, QStringLiteral("Two"));
    EXPECT_TRUE(m_controller->isPlaying());
    playerctlOutput({QStringLiteral("previous")});
    EXPECT_EQ(m_controller->currentTrack().title, QStringLiteral("One"));

    // The position slider: 30 s of a 120 s track is a quarter of the file.
    playerctlOutput({QStringLiteral("position"), QStringLiteral("30")});
    ASSERT_FALSE(m_engine.segments.empty());
    EXPECT_EQ(m_engine.segments.front().startFrame, qint64(0.25 * 120 * m_engine.sampleRate));
    EXPECT_NEAR(playerctlOutput({QStringLiteral("position")}).toDouble(), 30, 0.01);

    playerctlOutput({QStringLiteral("stop")});
    EXPECT_FALSE(m_controller->isPlaying());
    EXPECT_EQ(m_controller->currentTime(), 0);
    EXPECT_EQ(playerctlOutput({QStringLiteral("status")}), QStringLiteral("Stopped"));
    playerctlOutput({QStringLiteral("play-pause")});
    EXPECT_EQ(playerctlOutput({QStringLiteral("status")}), QStringLiteral("Playing"));
}

TEST_F(NowPlayingTest, PreviousThatRestartsIsAJumpToZero)
{
    m_controller->next(); // on "Two"
    m_controller->play();
    advance(10);
    m_recorder->clear();
    playerctlOutput({QStringLiteral("previous")});
    EXPECT_EQ(m_controller->currentTrack().title, QStringLiteral("Two"));
    EXPECT_EQ(m_controller->currentTime(), 0);
    settle();
    EXPECT_EQ(m_recorder->seeks, QList<qlonglong>{0}); // the restart is a jump to 0
}

TEST_F(NowPlayingTest, HeadsetPlayWhilePausedResumesAtThePresetRate)
{
    m_controller->selectMood(Mood::sleepy);
    ASSERT_FALSE(m_controller->isPlaying());
    playerctlOutput({QStringLiteral("play")});
    EXPECT_TRUE(m_controller->isPlaying());
    EXPECT_EQ(playerctlOutput({QStringLiteral("status")}), QStringLiteral("Playing"));
    for (const char* name : {"Rate", "MinimumRate", "MaximumRate"})
        EXPECT_DOUBLE_EQ(playerProperty(QLatin1String(name)).toDouble(), 0.88) << name;
    // Paused, the rate stays the preset's (MPRIS has no rate 0).
    playerctlOutput({QStringLiteral("pause")});
    EXPECT_DOUBLE_EQ(playerProperty(QStringLiteral("Rate")).toDouble(), 0.88);
}

TEST_F(NowPlayingTest, SeekAndSetPositionKeepWithinTheCurrentTrack)
{
    const QString first = mprisTrackPath(QStringLiteral("first track.v2"));
    const auto callPlayer = [&](const QString& method, const QVariantList& arguments) {
        QStringList dbusSend = {QStringLiteral("--print-reply"),
                                QStringLiteral("--dest=") + NowPlayingController::serviceName,
                                NowPlayingController::objectPath,
                                QStringLiteral("org.mpris.MediaPlayer2.Player.") + method};
        for (const QVariant& argument : arguments)
            dbusSend << (argument.userType() == QMetaType::QString
                             ? QStringLiteral("objpath:") + argument.toString()
                             : QStringLiteral("int64:") + argument.toString());
        EXPECT_EQ(runBusClient(*s_bus, QStringLiteral("dbus-send"), dbusSend).exitCode, 0);
    };

    callPlayer(QStringLiteral("Seek"), {qlonglong(20'000'000)});
    EXPECT_NEAR(m_controller->playbackPosition(), 20, 1e-3);
    callPlayer(QStringLiteral("Seek"), {qlonglong(-50'000'000)});
    EXPECT_EQ(m_controller->playbackPosition(), 0);
    callPlayer(QStringLiteral("SetPosition"), {first, qlonglong(121'000'000)}); // past the end
    callPlayer(QStringLiteral("SetPosition"), {first, qlonglong(-1)});
    EXPECT_EQ(m_controller->playbackPosition(), 0);
    callPlayer(QStringLiteral("Seek"), {qlonglong(130'000'000)}); // past the end: next track
    EXPECT_EQ(m_controller->currentTrack().title, QStringLiteral("Two"));

    // The first track's id is stale now.
    callPlayer(QStringLiteral("SetPosition"), {first, qlonglong(60'000'000)});
    EXPECT_EQ(m_controller->playbackPosition(), 0);
    callPlayer(QStringLiteral("SetPosition"),
               {mprisTrackPath(QStringLiteral("zweite_Stück")), qlonglong(60'000'000)});
    EXPECT_NEAR(m_controller->playbackPosition(), 60, 1e-3);
}

TEST_F(NowPlayingTest, OnePublicationPerPlayPauseAndSeek)
{
    // A seek changes no property: the display hears of it through Seeked alone. Another
    // track: one signal carrying only the metadata.
    const struct
    {
        QStringList command;
        QStringList changedKeys; // of the one change signal, none when empty
        QVariant status;
        QList<qlonglong> seeks;
    } steps[] = {
        {{"play"}, {"PlaybackStatus"}, QStringLiteral("Playing"), {}},
        {{"pause"}, {"PlaybackStatus"}, QStringLiteral("Paused"), {}},
        {{"position", "45"}, {}, {}, {45'000'000}},
        {{"next"}, {"Metadata"}, {}, {}},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.command.join(' ').toStdString());
        m_recorder->clear();
        playerctlOutput(step.command);
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
}

TEST_F(NowPlayingTest, QuietOnTheBusWhilePaused)
{
    m_controller->play();
    advance(5);
    m_controller->pause();
    settle();

    QProcess monitor;
    monitor.setProcessEnvironment(s_bus->environment());
    monitor.start(QStringLiteral("dbus-monitor"),
                  {QStringLiteral("sender='%1'").arg(s_player->baseService())});
    ASSERT_TRUE(monitor.waitForStarted());
    QTest::qWait(2500); // the player's clock ticks several times meanwhile
    monitor.terminate();
    monitor.waitForFinished();
    const QString seen = QString::fromUtf8(monitor.readAllStandardOutput());
    EXPECT_FALSE(
        seen.contains(QStringLiteral("sender=") + s_player->baseService() + QLatin1Char(' ')))
        << seen.toStdString();
}

TEST_F(NowPlayingTest, CoversOfImportedAlbums)
{
    const auto artUrl = [&] { return metadata().value(QStringLiteral("mpris:artUrl")); };
    // Selecting an album publishes its name and cover.
    const auto plain = m_albums.createAlbum(QStringLiteral("Plain"));
    ASSERT_TRUE(plain);
    EXPECT_EQ(playerctlOutput({QStringLiteral("metadata"), QStringLiteral("album")}),
              QStringLiteral("Plain"));
    EXPECT_EQ(artUrl().toString(),
              QUrl::fromLocalFile(AppPaths::resourcePath(QStringLiteral("icons/calmcove.png")))
                  .toString());

    const QString picture = m_dir.filePath(QStringLiteral("picture.png"));
    ASSERT_TRUE(QFile::copy(AppPaths::resourcePath(QStringLiteral("icons/calmcove.png")), picture));
    const auto covered = m_albums.createAlbum(QStringLiteral("Covered"), picture);
    ASSERT_TRUE(covered);
    const CalmAlbum selected = m_albums.selectedAlbum();
    const auto* artwork = std::get_if<FileArtwork>(&selected.artwork);
    ASSERT_NE(artwork, nullptr);
    EXPECT_EQ(artUrl().toString(), QUrl::fromLocalFile(artwork->path).toString());

    ASSERT_TRUE(QFile::remove(artwork->path));
    m_controller->play();
    EXPECT_FALSE(artUrl().isValid());
    EXPECT_EQ(playerctlOutput({QStringLiteral("metadata"), QStringLiteral("album")}),
              QStringLiteral("Covered"));
}

TEST_F(NowPlayingTest, ConfiguringTwiceInstallsOneSetOfHandlers)
{
    m_nowPlaying->configure(m_controller.get());
    playerctlOutput({QStringLiteral("next")});
    EXPECT_EQ(m_controller->currentTrack().title, QStringLiteral("Two"));
    m_recorder->clear();
    playerctlOutput({QStringLiteral("play")});
    settle();
    EXPECT_EQ(m_recorder->changes.size(), 1);
}

TEST_F(NowPlayingTest, CommandsAfterThePlayerIsGoneStillAnswer)
{
    m_controller.reset();
    for (const char* command : {"play", "next", "stop"})
        EXPECT_EQ(playerctl({QLatin1String(command)}).exitCode, 0) << command;
    EXPECT_EQ(playerctlOutput({QStringLiteral("position")}).toDouble(), 0);
}

TEST_F(NowPlayingTest, RaiseBecomesPossibleWithAHandler)
{
    int raised = 0;
    m_nowPlaying->setRaiseHandler([&raised] { ++raised; });
    settle();
    ASSERT_EQ(m_recorder->changes.size(), 1);
    EXPECT_EQ(m_recorder->changes.first().interface, QStringLiteral("org.mpris.MediaPlayer2"));
    EXPECT_EQ(property(QStringLiteral("org.mpris.MediaPlayer2"), QStringLiteral("CanRaise")), true);
    EXPECT_EQ(runBusClient(*s_bus, QStringLiteral("dbus-send"),
                           {QStringLiteral("--print-reply"),
                            QStringLiteral("--dest=") + NowPlayingController::serviceName,
                            NowPlayingController::objectPath,
                            QStringLiteral("org.mpris.MediaPlayer2.Raise")})
                  .exitCode,
              0);
    EXPECT_EQ(raised, 1);
}

TEST(NowPlayingWithoutBusTest, StaysOffQuietly)
{
    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath(QStringLiteral("settings.conf")));
    AlbumStore albums(defaults, dir.filePath(QStringLiteral("albums")));
    AlbumStoreSelection selection(albums);
    test::InstalledLibrary library;
    test::ManualEngine engine;
    AudioController controller(selection, library, engine, defaults);
    NowPlayingController nowPlaying(albums, QDBusConnection::sessionBus());
    nowPlaying.configure(&controller);
    EXPECT_TRUE(nowPlaying.isConfigured());
    EXPECT_FALSE(nowPlaying.isOnBus());
    controller.play();
    EXPECT_EQ(nowPlaying.published().playbackStatus, QStringLiteral("Playing"));
}

} // namespace
} // namespace calmcove
