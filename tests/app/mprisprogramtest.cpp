// The program's now-playing interface as the desktop meets it: the runtime puts it on the
// session bus headless, OpenUri imports as the command line does, and Quit ends the
// program cleanly. A private session bus (started here) is the session's.

#include "albums/albumstore.h"
#include "app/calmcoveruntime.h"
#include "mpris/nowplayingcontroller.h"
#include "platform/userdefaults.h"
#include "playback/audiocontroller.h"
#include "support/privatesessionbus.h"
#include "support/qtprinters.h"
#include "support/wavfile.h"

#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

namespace calmcove {
namespace {

using test::runBusClient;

class MprisProgramTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_bus = new test::PrivateSessionBus;
        // Before the first use of the session bus in this process.
        qputenv("DBUS_SESSION_BUS_ADDRESS", s_bus->address().toUtf8());
    }
    static void TearDownTestSuite() { delete s_bus; }
    void SetUp() override
    {
        if (s_bus->address().isEmpty())
            GTEST_SKIP() << "dbus-daemon could not be started";
        if (QStandardPaths::findExecutable(QStringLiteral("playerctl")).isEmpty())
            GTEST_SKIP() << "playerctl is not installed";
    }

    test::ClientResult playerctl(const QStringList& arguments)
    {
        return runBusClient(*s_bus, QStringLiteral("playerctl"),
                            QStringList{QStringLiteral("-p"), QStringLiteral("calmcove")} +
                                arguments);
    }

    static inline test::PrivateSessionBus* s_bus = nullptr;
};

LaunchOptions headlessNullOutput()
{
    LaunchOptions options;
    options.headless = true;
    options.audioOutput = QStringLiteral("null");
    return options;
}

TEST_F(MprisProgramTest, RuntimePublishesHeadlessAndOpenUriImportsLikeTheCommandLine)
{
    QTemporaryDir dir;
    UserDefaults defaults(dir.filePath(QStringLiteral("settings.conf")));
    CalmcoveRuntime runtime(headlessNullOutput(), defaults,
                            {.sessionBus = QDBusConnection::sessionBus()});
    ASSERT_TRUE(runtime.nowPlaying().isOnBus());
    QSignalSpy started(&runtime.controller(), &AudioController::playbackStateDidChange);
    runtime.start();
    ASSERT_TRUE(started.wait(5000));
    EXPECT_EQ(playerctl({QStringLiteral("status")}).output, QStringLiteral("Playing"));

    QFile song(dir.filePath(QStringLiteral("a song.wav")));
    ASSERT_TRUE(song.open(QIODevice::WriteOnly));
    song.write(test::silentWav(2.0)); // only real audio becomes a track
    song.close();
    const qsizetype albumsBefore = runtime.albumStore().importedAlbums().size();
    EXPECT_EQ(playerctl({QStringLiteral("open"), QUrl::fromLocalFile(song.fileName()).toString()})
                  .exitCode,
              0);
    // Recorded once its copy, made off the main thread, is done.
    QTRY_COMPARE_WITH_TIMEOUT(runtime.albumStore().importedAlbums().size(), albumsBefore + 1,
                              10000);

    EXPECT_EQ(
        playerctl({QStringLiteral("open"), QStringLiteral("https://127.0.0.1:9/a.mp3")}).exitCode,
        0);
    ASSERT_EQ(runtime.albumStore().urlImportJobs().size(), 1);
    EXPECT_EQ(runtime.albumStore().urlImportJobs().first().urlString,
              QStringLiteral("https://127.0.0.1:9/a.mp3"));
}

TEST_F(MprisProgramTest, QuitEndsTheProgramCleanly)
{
    QProcess program;
    program.setProcessEnvironment(s_bus->environment());
    program.start(QCoreApplication::applicationDirPath() + QStringLiteral("/calmcove"),
                  {QStringLiteral("--headless"), QStringLiteral("--audio-output=null")});
    ASSERT_TRUE(program.waitForStarted());
    bool onBus = false;
    for (int attempt = 0; attempt < 100 && !onBus; ++attempt) {
        onBus = playerctl({QStringLiteral("status")}).exitCode == 0;
        if (!onBus)
            QTest::qWait(100);
    }
    ASSERT_TRUE(onBus) << program.readAllStandardError().toStdString();

    EXPECT_EQ(runBusClient(*s_bus, QStringLiteral("dbus-send"),
                           {QStringLiteral("--print-reply"),
                            QStringLiteral("--dest=") + NowPlayingController::serviceName,
                            NowPlayingController::objectPath,
                            QStringLiteral("org.mpris.MediaPlayer2.Quit")})
                  .exitCode,
              0);
    ASSERT_TRUE(program.waitForFinished(10000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
}

} // namespace
} // namespace calmcove
