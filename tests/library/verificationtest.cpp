// Launch verification of the installed library: the records beside each pack let a launch
// trust unchanged files without reading them; a file without a matching record is hashed on
// a worker thread and its track is offered only once it passes; a bad file never is.

#include "librarytesting.h"

#include "library/verificationrecords.h"
#include "model/tracklibrary.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>

namespace calmcove {
namespace {

using test::LibraryHarness;
using test::TestPack;
using Launch = LibraryHarness::Launch;

const QStringList tracks = {"morning-tea-steam", "pixel-snowfall", "quiet-circuit"};

QString packDir(const LibraryHarness& h, const TestPack& pack)
{
    return h.packsRoot() + "/" + pack.version;
}

QString audioFile(const LibraryHarness& h, const TestPack& pack, const QString& id)
{
    return packDir(h, pack) + "/Audio/" + id + ".m4a";
}

QStringList offered(const AudioPackStore& store)
{
    QStringList ids;
    for (const QString& id : tracks) {
        if (store.localPath(id))
            ids << id;
    }
    return ids;
}

// File times come from a coarse clock: waits until a write in `directory` gets a later
// change time than `path` has, so that the test's change is one a launch can see.
void waitForALaterChangeTime(const QString& path, const QString& directory)
{
    const qint64 changed = FileIdentity::of(path)->changed;
    const QString probe = directory + "/.probe";
    ASSERT_TRUE(test::runUntil([&] {
        QFile file(probe);
        file.open(QIODevice::WriteOnly);
        file.write("x");
        file.close();
        return FileIdentity::of(probe)->changed > changed;
    }));
    QFile::remove(probe);
}

// Rewrites the file in place and sets its modification time back: only the change time
// tells.
void rewriteKeepingModificationTime(const QString& path, const QByteArray& bytes)
{
    struct stat before;
    ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &before), 0);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    file.write(bytes);
    file.close();
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
}

TEST(VerificationRecordsTest, RoundTripAtomicReplacementAndDamagedFiles)
{
    QTemporaryDir folder;
    const QString path = folder.filePath(verificationRecordsFileName);
    // Nanoseconds since the epoch lie far beyond what a double holds exactly.
    const VerificationRecords records = {
        {"a.m4a",
         {{3000, 1717243200123456789, 1717243200987654321, 18446744073709551615ull, 2049},
          QString(64, 'a')}},
        {"b.m4a", {{0, 1, 2, 3, 4}, QString(64, 'b')}},
    };
    ASSERT_TRUE(writeVerificationRecords(folder.path(), {}).ok());
    const auto firstInode = FileIdentity::of(path)->inode;
    ASSERT_TRUE(writeVerificationRecords(folder.path(), records).ok());
    EXPECT_EQ(readVerificationRecords(folder.path()), records);
    EXPECT_NE(FileIdentity::of(path)->inode, firstInode) << "a new file renamed into place";
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList{verificationRecordsFileName})
        << "no temporary file left";

    const auto readAfterWriting = [&](const QByteArray& json) {
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(json);
        file.close();
        return readVerificationRecords(folder.path());
    };
    EXPECT_TRUE(readAfterWriting("{ not json").isEmpty());
    EXPECT_TRUE(readAfterWriting(R"({"format": 2, "files": {}})").isEmpty());
    const QString good = QString(R"("sha256": "%1", "size": "1", "modifiedNanoseconds": "2",
                                     "changedNanoseconds": "3", "inode": "4", "device": "5")")
                             .arg(QString(64, 'C'));
    const VerificationRecords kept = readAfterWriting(
        QString(R"({"format": 1, "files": {"good.m4a": {%1}, "short.m4a": {"sha256": "ab"},
                    "number.m4a": {%2}}})")
            .arg(good, QString(good).replace(R"("size": "1")", R"("size": 1)"))
            .toUtf8());
    EXPECT_EQ(kept, (VerificationRecords{{"good.m4a", {{1, 2, 3, 4, 5}, QString(64, 'c')}}}));
    QFile::remove(path);
    EXPECT_TRUE(readVerificationRecords(folder.path()).isEmpty());
}

class LaunchVerificationTest : public ::testing::Test
{
protected:
    LibraryHarness h;
    const TestPack pack = TestPack::make(h.server, "1", tracks);
};

TEST_F(LaunchVerificationTest, UnchangedFilesAreTrustedOnTheirRecordsWithoutReading)
{
    h.install(pack);
    const VerificationRecords records = readVerificationRecords(packDir(h, pack));
    ASSERT_EQ(records.size(), 3) << "written as the downloads arrived";
    for (const AudioPackTrack& track : pack.manifest.tracks)
        EXPECT_EQ(records.value(track.fileName).digest, track.sha256);

    auto store = h.makeStore(Launch::asConstructed);
    EXPECT_FALSE(store->verifyingInstalledFiles());
    EXPECT_EQ(store->status(), AudioPackStatus::ready("1"));
    EXPECT_TRUE(store->fullLibraryIsInstalled());
    EXPECT_EQ(store->progress(), 1.0);
    EXPECT_EQ(offered(*store), tracks);
    store.reset();

    // A record is believed as long as the file looks the same: one claiming another digest
    // refuses the track without its bytes being read.
    VerificationRecords lying = records;
    lying["pixel-snowfall.m4a"].digest = QString(64, '0');
    ASSERT_TRUE(writeVerificationRecords(packDir(h, pack), lying).ok());
    store = h.makeStore(Launch::asConstructed);
    EXPECT_FALSE(store->verifyingInstalledFiles());
    EXPECT_EQ(store->backgroundHashedFileCount(), 0);
    EXPECT_EQ(offered(*store), QStringList({"morning-tea-steam", "quiet-circuit"}));
    EXPECT_FALSE(store->fullLibraryIsInstalled());
    EXPECT_EQ(store->status(), AudioPackStatus::notInstalled());
}

TEST_F(LaunchVerificationTest, AFirstLaunchWithoutRecordsHashesInTheBackground)
{
    h.install(pack);
    ASSERT_TRUE(QFile::remove(packDir(h, pack) + "/" + verificationRecordsFileName));
    QFile starter(h.starterDirectory() + "/morning-tea-steam.m4a");
    ASSERT_TRUE(starter.open(QIODevice::WriteOnly));
    starter.close();

    auto store = h.makeStore(Launch::asConstructed);
    EXPECT_TRUE(store->verifyingInstalledFiles());
    EXPECT_EQ(store->installedManifest(), pack.manifest);
    EXPECT_FALSE(store->fullLibraryIsInstalled());
    EXPECT_EQ(store->status(), AudioPackStatus::notInstalled());
    EXPECT_EQ(store->progress(), 0.0);
    EXPECT_TRUE(offered(*store).isEmpty());
    const QList<CalmTrack> album = AudioPackStore::tracksForDefaultAlbum(pack.manifest);
    EXPECT_TRUE(store->isTrackAvailable(album[0])) << "the starter track plays meanwhile";
    EXPECT_FALSE(store->isTrackAvailable(album[1]));

    QList<QList<CalmTrack>> changes;
    QObject::connect(store.get(), &AudioPackStore::libraryDidChange,
                     [&](const QList<CalmTrack>& list) { changes.append(list); });
    int verifyingChanges = 0;
    QObject::connect(store.get(), &AudioPackStore::verifyingInstalledFilesChanged,
                     [&] { ++verifyingChanges; });
    ASSERT_TRUE(test::runUntil([&] { return !store->verifyingInstalledFiles(); }));
    EXPECT_EQ(verifyingChanges, 1);
    EXPECT_EQ(store->backgroundHashedFileCount(), 3);
    EXPECT_EQ(store->status(), AudioPackStatus::ready("1"));
    EXPECT_TRUE(store->fullLibraryIsInstalled());
    EXPECT_EQ(store->progress(), 1.0);
    EXPECT_EQ(offered(*store), tracks);
    EXPECT_EQ(changes, QList<QList<CalmTrack>>{album});
    EXPECT_EQ(readVerificationRecords(packDir(h, pack)).size(), 3);
    store.reset();

    store = h.makeStore(Launch::asConstructed);
    EXPECT_FALSE(store->verifyingInstalledFiles()) << "the next launch trusts the new records";
    EXPECT_EQ(store->status(), AudioPackStatus::ready("1"));
}

TEST_F(LaunchVerificationTest, ChangedFilesAreHashedAgainAndBadOnesNeverOffered)
{
    h.install(pack);
    const QString path = audioFile(h, pack, "pixel-snowfall");
    const QByteArray bytes = pack.contents["pixel-snowfall.m4a"];
    QByteArray corrupted = bytes;
    corrupted[100] = char(corrupted[100] ^ 1);
    struct Case
    {
        const char* change;
        std::function<void()> apply;
        bool passes;
    };
    const std::vector<Case> cases = {
        {"same bytes, new change time", [&] { rewriteKeepingModificationTime(path, bytes); }, true},
        {"same bytes, new inode",
         [&] {
             ASSERT_TRUE(QFile::copy(path, path + ".copy"));
             ASSERT_TRUE(QFile::remove(path));
             ASSERT_TRUE(QFile::rename(path + ".copy", path));
         },
         true},
        {"other bytes, same size and modification time",
         [&] { rewriteKeepingModificationTime(path, corrupted); }, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.change);
        waitForALaterChangeTime(path, packDir(h, pack));
        c.apply();

        auto store = h.makeStore(Launch::asConstructed);
        EXPECT_TRUE(store->verifyingInstalledFiles());
        EXPECT_EQ(offered(*store), QStringList({"morning-tea-steam", "quiet-circuit"}));
        ASSERT_TRUE(test::runUntil([&] { return !store->verifyingInstalledFiles(); }));
        EXPECT_EQ(store->backgroundHashedFileCount(), 1) << "only the changed file is read";
        EXPECT_EQ(offered(*store).contains("pixel-snowfall"), c.passes);
        EXPECT_EQ(store->fullLibraryIsInstalled(), c.passes);
        EXPECT_EQ(store->status(),
                  c.passes ? AudioPackStatus::ready("1") : AudioPackStatus::notInstalled());
    }

    // A bad file is what it always was: the next install downloads it again.
    auto store = h.makeStore();
    test::await(store->installLatestPackIfNeeded(false));
    EXPECT_EQ(store->status(), AudioPackStatus::ready("1"));
    EXPECT_EQ(h.server.requestCount(pack.trackPath("pixel-snowfall.m4a")), 1);
    EXPECT_EQ(h.server.requestCount(pack.trackPath("quiet-circuit.m4a")), 0);
    EXPECT_EQ(offered(*store), tracks);
}

TEST_F(LaunchVerificationTest, LibraryWorkWaitsForTheLaunchVerification)
{
    h.install(pack);
    const QString records = packDir(h, pack) + "/" + verificationRecordsFileName;
    ASSERT_TRUE(QFile::remove(records));

    auto store = h.makeStore(Launch::asConstructed);
    ASSERT_TRUE(store->verifyingInstalledFiles());
    auto checking = store->installLatestPackIfNeeded(false);
    EXPECT_EQ(store->status(), AudioPackStatus::notInstalled()) << "not checking yet";
    test::await(std::move(checking));
    EXPECT_FALSE(store->verifyingInstalledFiles());
    EXPECT_EQ(store->status(), AudioPackStatus::ready("1"));
    EXPECT_EQ(h.server.requestCount(pack.manifestPath()), 1);
    EXPECT_EQ(h.server.requestCount(pack.trackPath("quiet-circuit.m4a")), 0)
        << "the files were found good, not downloaded again";
    store.reset();

    // A store that goes away while hashing ends the waiting work with it and writes no
    // records.
    ASSERT_TRUE(QFile::remove(records));
    store = h.makeStore(Launch::asConstructed);
    bool ended = false;
    [](QCoro::Task<> work, bool& done) -> QCoro::Task<> {
        co_await std::move(work);
        done = true;
    }(store->installLatestPackIfDue(), ended);
    store.reset();
    EXPECT_TRUE(ended);
    EXPECT_FALSE(QFile::exists(records));
    EXPECT_EQ(h.server.requestCount(pack.manifestPath()), 1);
}

} // namespace
} // namespace calmcove
