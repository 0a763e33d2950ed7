// The calmcove executable as a user starts it: version, quitting on signals, and setting
// overrides that never reach the disk.

#include "app/appversion.h"
#include "support/qtprinters.h"
#include "support/tempxdg.h"
#include "support/wavfile.h"

#include <csignal>
#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QThread>

namespace calmcove {
namespace {

QString executable()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/calmcove");
}

QString storedSettings()
{
    QFile file(test::temporaryXdgRoot() + QStringLiteral("/config/Calmcove/Calmcove.conf"));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// The running program's single-instance socket. The program creates it after it watches
// for signals, so once it exists a signal goes through the event loop.
QString instanceSocket()
{
    return test::temporaryXdgRoot() + QStringLiteral("/runtime/calmcove.socket");
}

// The test's environment without any graphical display.
QProcessEnvironment environmentWithoutDisplay()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const QString& name : {QStringLiteral("DISPLAY"), QStringLiteral("WAYLAND_DISPLAY"),
                                QStringLiteral("QT_QPA_PLATFORM")})
        environment.remove(name);
    return environment;
}

// Starts the program and waits (however loaded the machine) until it listens.
void startAndWaitUntilListening(QProcess& process, const QStringList& arguments)
{
    QFile::remove(instanceSocket()); // left by a program that was killed
    process.start(executable(), arguments);
    EXPECT_TRUE(process.waitForStarted());
    for (int waited = 0;
         waited < 30000 && !QFile::exists(instanceSocket()) && process.state() == QProcess::Running;
         waited += 20)
        QThread::msleep(20);
}

// Starts headless, waits until it runs, sends `signalNumber` and returns the exit status.
int runHeadlessUntilSignal(const QStringList& extraArguments, int signalNumber)
{
    QProcess process;
    startAndWaitUntilListening(process, QStringList{QStringLiteral("--headless")} + extraArguments);
    EXPECT_EQ(process.state(), QProcess::Running) << process.readAllStandardError().toStdString();
    ::kill(static_cast<pid_t>(process.processId()), signalNumber);
    EXPECT_TRUE(process.waitForFinished(10000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit)
        << process.readAllStandardError().toStdString();
    return process.exitCode();
}

TEST(ExecutableTest, PrintsItsVersion)
{
    QProcess process;
    process.start(executable(), {QStringLiteral("--version")});
    ASSERT_TRUE(process.waitForFinished(10000));
    EXPECT_EQ(process.exitCode(), 0);
    EXPECT_EQ(QString::fromUtf8(process.readAllStandardOutput()),
              QStringLiteral("calmcove ") + appVersion() + QLatin1Char('\n'));
}

TEST(ExecutableTest, HelpBeginsWithTheUsage)
{
    QProcess process;
    process.start(executable(), {QStringLiteral("--help")});
    ASSERT_TRUE(process.waitForFinished(10000));
    EXPECT_EQ(process.exitCode(), 0);
    const QString help = QString::fromUtf8(process.readAllStandardOutput());
    EXPECT_TRUE(help.startsWith(QStringLiteral("Usage: calmcove [options] [FILE|FOLDER|URL...]\n")))
        << help.toStdString();
    EXPECT_TRUE(help.contains(QStringLiteral("--setting <KEY=VALUE>")));
}

TEST(ExecutableTest, RejectsAnUnknownOption)
{
    QProcess process;
    process.start(executable(), {QStringLiteral("--audio-output=alsa")});
    ASSERT_TRUE(process.waitForFinished(10000));
    EXPECT_EQ(process.exitCode(), 2);
    EXPECT_TRUE(process.readAllStandardError().contains("unknown audio output"));
}

TEST(ExecutableTest, QuitsCleanlyOnSigintAndSigterm)
{
    EXPECT_EQ(runHeadlessUntilSignal({}, SIGTERM), 0);
    EXPECT_EQ(runHeadlessUntilSignal({}, SIGINT), 0);
}

TEST(ExecutableTest, SettingOverridesAreNeverStored)
{
    EXPECT_EQ(runHeadlessUntilSignal(
                  {QStringLiteral("--setting"),
                   QStringLiteral("CalmcoveAudioPackIndexURL=https://override.invalid/")},
                  SIGTERM),
              0);
    EXPECT_FALSE(storedSettings().contains(QStringLiteral("override.invalid")));
}

TEST(ExecutableTest, ASecondLaunchHandsItsFilesToTheRunningOne)
{
    const QString folder = test::temporaryXdgRoot() + QStringLiteral("/Handed Over");
    QDir().mkpath(folder);
    QFile track(folder + QStringLiteral("/song.wav"));
    ASSERT_TRUE(track.open(QIODevice::WriteOnly));
    track.write(test::silentWav(1));
    track.close();

    // Both without a display: only the one that runs says it runs headless.
    QProcess running;
    running.setProcessEnvironment(environmentWithoutDisplay());
    startAndWaitUntilListening(running, {QStringLiteral("--audio-output=null")});

    QProcess second;
    second.setProcessEnvironment(environmentWithoutDisplay());
    second.setWorkingDirectory(test::temporaryXdgRoot());
    second.start(executable(), {QStringLiteral("--audio-output=null"),
                                QStringLiteral("--update-library"), QStringLiteral("Handed Over")});
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(QString::fromUtf8(second.readAllStandardError()), QString());
    EXPECT_EQ(QString::fromUtf8(second.readAllStandardOutput()), QString());

    const QString index =
        test::temporaryXdgRoot() + QStringLiteral("/data/Calmcove/Imported Albums/albums.json");
    QByteArray albums;
    for (int i = 0; i < 50 && !albums.contains("Handed Over"); ++i) {
        QThread::msleep(100);
        QFile file(index);
        if (file.open(QIODevice::ReadOnly))
            albums = file.readAll();
    }
    EXPECT_TRUE(albums.contains(R"("name":"Handed Over")")) << albums.toStdString();
    EXPECT_EQ(running.state(), QProcess::Running);
    ::kill(static_cast<pid_t>(running.processId()), SIGTERM);
    EXPECT_TRUE(running.waitForFinished(10000));
    EXPECT_EQ(running.exitCode(), 0);
    EXPECT_EQ(running.readAllStandardError().count("no graphical display found"), 1);
}

} // namespace
} // namespace calmcove
