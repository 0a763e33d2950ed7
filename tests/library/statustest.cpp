// The panel's status texts for every status and update state, and the streamed digests
// with their per-launch memory.

#include "support/qtprinters.h"

#include "library/audiopackstatus.h"
#include "library/filedigest.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QLocale>
#include <QTemporaryDir>

#include <sys/stat.h>

#include <utime.h>

namespace calmcove {
namespace {

TEST(AudioPackStatusTest, TitlesDetailsAndBusyFollowStatusAndLibraryState)
{
    const auto size = [](qint64 bytes) {
        return QLocale().formattedDataSize(bytes, 1, QLocale::DataSizeSIFormat);
    };
    const QString progress = "a.m4a  |  " + size(1200000) + " of " + size(4800000);
    const auto downloading = AudioPackStatus::downloading("a.m4a", 1200000, 4800000);
    struct Case
    {
        AudioPackStatus status;
        bool full;
        const char* title;
        QString detail;
        bool busy;
    };
    const Case cases[] = {
        {downloading, false, "Downloading full library", "Full library: " + progress, true},
        {downloading, true, "Downloading new tracks", "Track update: " + progress, true},
        {AudioPackStatus::verifying("b.m4a"), false, "Verifying track", "Full library: b.m4a",
         true},
        {AudioPackStatus::verifying("b.m4a"), true, "Verifying new tracks", "Track update: b.m4a",
         true},
        {AudioPackStatus::waitingForNetwork("Later."), false, "Waiting for network", "Later.",
         false},
        {AudioPackStatus::waitingForNetwork("Later."), true, "Track update paused", "Later.",
         false},
        {AudioPackStatus::ready("3"), true, "Full library ready", "51 tracks installed.", false},
        {AudioPackStatus::failed("Broken."), false, "Library setup failed", "Broken.", false},
        {AudioPackStatus::failed("Broken."), true, "Track update failed", "Broken.", false},
        {AudioPackStatus::notInstalled(), false, "Starter tracks ready",
         "Calmcove will download the full library while starter tracks play.", false},
        {AudioPackStatus::checking(), false, "Preparing full library",
         "Looking for the audio pack.", true},
        {AudioPackStatus::checking(), true, "Checking tracks", "Looking for new tracks.", true},
        {AudioPackStatus::installing(), false, "Saving tracks", "Saving verified tracks locally.",
         true},
        {AudioPackStatus::installing(), true, "Installing new tracks", "Saving new tracks locally.",
         true},
    };
    const auto current = AudioPackUpdateState::current();
    for (const Case& c : cases) {
        EXPECT_EQ(audioPackStatusTitle(c.status, current, c.full), c.title) << c.title;
        EXPECT_EQ(audioPackStatusDetail(c.status, current, c.full, 51), c.detail) << c.title;
        EXPECT_EQ(c.status.isBusy(), c.busy) << c.title;
    }
    EXPECT_EQ(audioPackStatusDetail(AudioPackStatus::ready("3"), {}, true, std::nullopt),
              "Installed.");
}

TEST(AudioPackStatusTest, AFailedCheckSpeaksForAReadyLibraryOnly)
{
    const auto failed =
        AudioPackUpdateState::failed("Calmcove will update new tracks when the network is better.");
    EXPECT_EQ(audioPackStatusTitle(AudioPackStatus::ready("1"), failed, true), failed.text);
    EXPECT_EQ(audioPackStatusDetail(AudioPackStatus::ready("1"), failed, true, 5), failed.text);
    EXPECT_EQ(audioPackStatusTitle(AudioPackStatus::downloading("a.m4a", 0, 1), failed, true),
              "Downloading new tracks");
    EXPECT_EQ(audioPackStatusTitle(AudioPackStatus::failed("x"), failed, true),
              "Track update failed");
}

TEST(FileDigestTest, DigestsStreamAndTheCacheNoticesEveryChange)
{
    Sha256 abc;
    abc.update("a", 1);
    abc.update("bc", 2);
    EXPECT_EQ(abc.hexDigest(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");

    QTemporaryDir folder;
    const auto write = [&](const QString& name, const QByteArray& content) {
        QFile file(folder.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
        return file.fileName();
    };
    EXPECT_EQ(sha256OfFile(write("empty", {})),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_FALSE(sha256OfFile(folder.filePath("missing")));
    // Larger than one read block, so the blocks must chain.
    const QByteArray block(3 * 1024 * 1024 + 17, 'z');
    Sha256 expected;
    expected.update(block.constData(), block.size());
    EXPECT_EQ(sha256OfFile(write("big", block)), expected.hexDigest());

    const QString path = write("track.m4a", "first");
    FileDigestCache cache;
    const auto first = cache.digest(path);
    ASSERT_TRUE(first);
    EXPECT_EQ(cache.digest(path), first);
    // Same size, modification time put back: the change time still tells.
    struct stat before;
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &before), 0);
    write("track.m4a", "other");
    const utimbuf times{before.st_atime, before.st_mtime};
    ::utime(QFile::encodeName(path).constData(), &times);
    EXPECT_NE(cache.digest(path), first);
    EXPECT_EQ(cache.digest(path), sha256OfFile(path));

    EXPECT_EQ(FileDigestCache::fileSize(path), 5);
    EXPECT_FALSE(FileDigestCache::fileSize(folder.path())) << "a directory is no file";
    QFile::remove(path);
    EXPECT_FALSE(cache.digest(path));
}

} // namespace
} // namespace calmcove
