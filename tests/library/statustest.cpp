// The panel's status texts for every status and update state, and the streamed digests
// with their per-launch memory.

#include "librarytestsupport.h"

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

TEST(AudioPackStatusTest, TitlesAndDetailsFollowStatusAndLibraryState)
{
    const QString bytes12 = QLocale().formattedDataSize(1200000, 1, QLocale::DataSizeSIFormat);
    const QString bytes48 = QLocale().formattedDataSize(4800000, 1, QLocale::DataSizeSIFormat);
    struct Case
    {
        AudioPackStatus status;
        bool full;
        const char* title;
        QString detail;
    };
    const auto S = [](const char* text) { return QString::fromUtf8(text); };
    const Case cases[] = {
        {AudioPackStatus::downloading("a.m4a", 1200000, 4800000), false, "Downloading full library",
         S("Full library: a.m4a  |  ") + bytes12 + " of " + bytes48},
        {AudioPackStatus::downloading("a.m4a", 1200000, 4800000), true, "Downloading new tracks",
         S("Track update: a.m4a  |  ") + bytes12 + " of " + bytes48},
        {AudioPackStatus::verifying("b.m4a"), false, "Verifying track", "Full library: b.m4a"},
        {AudioPackStatus::verifying("b.m4a"), true, "Verifying new tracks", "Track update: b.m4a"},
        {AudioPackStatus::waitingForNetwork("Later."), false, "Waiting for network", "Later."},
        {AudioPackStatus::waitingForNetwork("Later."), true, "Track update paused", "Later."},
        {AudioPackStatus::ready("3"), true, "Full library ready", "51 tracks installed."},
        {AudioPackStatus::failed("Broken."), false, "Library setup failed", "Broken."},
        {AudioPackStatus::failed("Broken."), true, "Track update failed", "Broken."},
        {AudioPackStatus::notInstalled(), false, "Starter tracks ready",
         "Calmcove will download the full library while starter tracks play."},
        {AudioPackStatus::checking(), false, "Preparing full library",
         "Looking for the audio pack."},
        {AudioPackStatus::checking(), true, "Checking tracks", "Looking for new tracks."},
        {AudioPackStatus::installing(), false, "Saving tracks", "Saving verified tracks locally."},
        {AudioPackStatus::installing(), true, "Installing new tracks",
         "Saving new tracks locally."},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(audioPackStatusTitle(c.status, AudioPackUpdateState::current(), c.full), c.title)
            << c.title;
        EXPECT_EQ(audioPackStatusDetail(c.status, AudioPackUpdateState::current(), c.full, 51),
                  c.detail)
            << c.title;
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

TEST(AudioPackStatusTest, BusyStatuses)
{
    EXPECT_TRUE(AudioPackStatus::downloading("a", 0, 1).isBusy());
    EXPECT_TRUE(AudioPackStatus::verifying("a").isBusy());
    EXPECT_TRUE(AudioPackStatus::checking().isBusy());
    EXPECT_TRUE(AudioPackStatus::installing().isBusy());
    EXPECT_FALSE(AudioPackStatus::ready("1").isBusy());
    EXPECT_FALSE(AudioPackStatus::failed("x").isBusy());
    EXPECT_FALSE(AudioPackStatus::waitingForNetwork("x").isBusy());
    EXPECT_FALSE(AudioPackStatus::notInstalled().isBusy());
}

TEST(FileDigestTest, StreamsKnownDigests)
{
    Sha256 abc;
    abc.update("a", 1);
    abc.update("bc", 2);
    EXPECT_EQ(abc.hexDigest(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");

    QTemporaryDir folder;
    const QString empty = folder.filePath("empty");
    QFile(empty).open(QIODevice::WriteOnly);
    EXPECT_EQ(sha256OfFile(empty),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_FALSE(sha256OfFile(folder.filePath("missing")));

    // Larger than one read block, so the blocks must chain.
    const QString big = folder.filePath("big");
    QFile file(big);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    const QByteArray block(3 * 1024 * 1024 + 17, 'z');
    file.write(block);
    file.close();
    Sha256 expected;
    expected.update(block.constData(), block.size());
    EXPECT_EQ(sha256OfFile(big), expected.hexDigest());
}

TEST(FileDigestTest, CacheNoticesEveryChangeOfAFile)
{
    QTemporaryDir folder;
    const QString path = folder.filePath("track.m4a");
    const auto write = [&](const QByteArray& content) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
    };
    write("first");
    FileDigestCache cache;
    const auto first = cache.digest(path);
    ASSERT_TRUE(first);
    EXPECT_EQ(cache.digest(path), first);

    // Same size, modification time put back: the change time still tells.
    struct stat before;
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &before), 0);
    write("other");
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
