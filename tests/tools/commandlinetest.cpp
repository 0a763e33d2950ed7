// calmcove-musicgen as a user runs it: its modes, its files and its error messages.

#include "support/ffmpegprobe.h"

#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

namespace calmcove {
namespace {

struct Outcome
{
    int exitCode = -1;
    QString out;
    QString err;
};

Outcome musicgen(const QStringList& arguments,
                 const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QCoreApplication::applicationDirPath() + QStringLiteral("/calmcove-musicgen"),
                  arguments);
    if (!process.waitForFinished(240000))
        return {};
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

TEST(CommandLineTest, AnswersHelpListAndBadUsage)
{
    const QStringList one = {"--id", "morning-tea-steam", "--output", "x.m4a"};
    const struct
    {
        QStringList arguments;
        int exitCode;
        const char* message; // on standard output for exit code 0, else on standard error
    } cases[] = {
        {{"--help"}, 0, "Usage:"},
        {{"--list"}, 0, "morning-tea-steam\tDusty beat\tFocus, Cozy\t164\tMorning Tea Steam\n"},
        {{}, 2, "choose exactly one of --id, --all and --list"},
        {{"--list", "--all"}, 2, "choose exactly one"},
        {{"--id", "morning-tea-steam"}, 2, "--id needs --output"},
        {{"--all"}, 2, "--all needs --output-dir"},
        {one + QStringList{"--duration", "abc"}, 2, "--duration must be"},
        {one + QStringList{"--duration", "0"}, 2, "--duration must be"},
        {{"--all", "--output-dir", "x", "--jobs", "0"}, 2, "--jobs must be"},
        {{"--bogus"}, 2, "unknown argument \"--bogus\""},
        {{"--id", "no-such-track", "--output", "x.m4a"}, 1, "unknown track id \"no-such-track\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        const Outcome run = musicgen(c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode);
        const QString& text = c.exitCode == 0 ? run.out : run.err;
        EXPECT_TRUE(text.contains(QString::fromUtf8(c.message))) << text.toStdString();
    }
}

TEST(CommandLineTest, RendersOneTrackAndReportsWhatItCannotDo)
{
    QTemporaryDir folder;
    const QString output = folder.filePath(QStringLiteral("tiny.m4a"));
    const Outcome ok = musicgen({"--id", "tiny-data-rain", "--duration", "4", "--output", output});
    EXPECT_EQ(ok.exitCode, 0) << ok.err.toStdString();
    EXPECT_NEAR(test::decodedDuration(output), 4.0, 0.5);
    EXPECT_TRUE(ok.out.contains(QStringLiteral("LUFS")));

    for (const auto& [target, reason] :
         {std::pair{folder.filePath("no/such/folder/x.m4a"), "does not exist"},
          std::pair{folder.path(), "it is a folder"}}) {
        const Outcome unwritable =
            musicgen({"--id", "tiny-data-rain", "--duration", "2", "--output", target});
        EXPECT_EQ(unwritable.exitCode, 1);
        EXPECT_TRUE(unwritable.err.contains("cannot write " + target + ": ") &&
                    unwritable.err.contains(QLatin1String(reason)))
            << unwritable.err.toStdString();
    }

    // No ffmpeg on PATH.
    QProcessEnvironment bare = QProcessEnvironment::systemEnvironment();
    bare.insert(QStringLiteral("PATH"), folder.path());
    const Outcome noEncoder = musicgen({"--id", "tiny-data-rain", "--duration", "2", "--output",
                                        folder.filePath(QStringLiteral("y.m4a"))},
                                       bare);
    EXPECT_EQ(noEncoder.exitCode, 1);
    EXPECT_TRUE(noEncoder.err.contains(QStringLiteral("ffmpeg not found")))
        << noEncoder.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(folder.filePath(QStringLiteral("y.m4a"))));
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden).size(), 1); // only tiny.m4a
}

TEST(CommandLineTest, RendersTheWholeCatalogueInParallel)
{
    QTemporaryDir folder;
    const QString output = folder.filePath(QStringLiteral("library"));
    const Outcome run =
        musicgen({"--all", "--output-dir", output, "--duration", "1", "--jobs", "2"});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    const QStringList files = QDir(output).entryList({QStringLiteral("*.m4a")}, QDir::Files);
    EXPECT_EQ(files.size(), 51); // every catalogue row
    EXPECT_TRUE(files.contains(QStringLiteral("last-train-window.m4a")));
    EXPECT_NEAR(test::decodedDuration(output + QStringLiteral("/paper-crane-loop.m4a")), 1.0, 0.5);
}

} // namespace
} // namespace calmcove
