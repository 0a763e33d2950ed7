// The track-library store on a temporary packs folder against a real HTTPS server:
// installs, reuse, resume, verification failures, cleanup, lookups, the update states,
// the daily check and the network monitor.

#include "librarytesting.h"

#include "model/tracklibrary.h"

#include "support/loopback.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace calmcove {
namespace {

using test::TestPack;
using test::TestServer;
using K = AudioPackStatus::Kind;

const QStringList fiveTracks = {"morning-tea-steam", "pixel-snowfall", "quiet-circuit",
                                "new-harbor-loop", "rain-on-the-skylight"};
const QString continueLater =
    "Calmcove will continue the library download when the network returns.";

class StoreTest : public ::testing::Test
{
protected:
    // Records every status and every library change of `store`.
    void watch(AudioPackStore& store)
    {
        statuses.clear();
        QObject::connect(&store, &AudioPackStore::statusChanged, &store,
                         [this, s = &store] { statuses.append(s->status()); });
        QObject::connect(&store, &AudioPackStore::libraryDidChange, &store,
                         [this](const QList<CalmTrack>& tracks) { changes.append(tracks); });
    }
    QList<K> kinds() const
    {
        QList<K> result;
        for (const AudioPackStatus& status : statuses)
            result.append(status.kind);
        return result;
    }
    int trackRequests(const TestPack& pack) const
    {
        int count = 0;
        for (const QString& name : pack.contents.keys())
            count += h.server.requestCount(pack.trackPath(name));
        return count;
    }
    QString audioFile(const QString& version, const QString& fileName) const
    {
        return h.packsRoot() + "/" + version + "/Audio/" + fileName;
    }
    QByteArray read(const QString& path) const
    {
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
        return file.readAll();
    }
    static void write(const QString& path, const QByteArray& bytes)
    {
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
        file.write(bytes);
    }
    // Publishes the pack and points the manifest URL at it.
    void offer(const TestPack& pack)
    {
        pack.publish(h.server);
        h.useManifest(pack);
    }
    std::unique_ptr<AudioPackStore> installed(const TestPack& pack)
    {
        offer(pack);
        auto store = h.makeStore();
        test::await(store->installLatestPackIfNeeded(false));
        EXPECT_EQ(store->status(), AudioPackStatus::ready(pack.version));
        h.server.clearRequests();
        return store;
    }
    // The track's transfer drops twice after `cutAfter` bytes, then succeeds.
    void dropTwice(const TestPack& pack, const QString& fileName, size_t cutAfter)
    {
        const auto full = TestServer::Response{pack.contents[fileName].toStdString()};
        auto dropped = full;
        dropped.cutAfter = cutAfter;
        h.server.script(pack.trackPath(fileName), {dropped, dropped, full});
    }
    bool becomesReady(AudioPackStore& store, const QString& version)
    {
        return test::runUntil([&] { return store.status() == AudioPackStatus::ready(version); });
    }

    test::LibraryHarness h;
    QList<AudioPackStatus> statuses;
    QList<QList<CalmTrack>> changes;
};

TEST_F(StoreTest, FreshInstallDownloadsVerifiesAndCommits)
{
    const TestPack pack = TestPack::make(h.server, "2024.1", fiveTracks);
    offer(pack);
    auto store = h.makeStore();
    EXPECT_EQ(store->status(), AudioPackStatus::notInstalled());
    EXPECT_EQ(store->updateState(), AudioPackUpdateState::notChecked());
    watch(*store);
    int progressChanges = 0;
    QObject::connect(store.get(), &AudioPackStore::progressChanged, [&] { ++progressChanges; });
    test::await(store->installLatestPackIfNeeded(false));

    EXPECT_EQ(store->status(), AudioPackStatus::ready("2024.1"));
    EXPECT_EQ(store->statusDetail(), "5 tracks installed.");
    EXPECT_EQ(store->updateState(), AudioPackUpdateState::current());
    EXPECT_TRUE(store->fullLibraryIsInstalled());
    EXPECT_EQ(store->installedManifest(), pack.manifest);
    EXPECT_EQ(store->progress(), 1.0);
    EXPECT_GE(progressChanges, 5);
    EXPECT_TRUE(h.defaults->date(AudioPackStore::lastManifestCheckDateKey));

    QList<K> expected = {K::checking};
    for (int i = 0; i < 5; ++i)
        expected << K::downloading << K::verifying;
    EXPECT_EQ(kinds(), expected << K::installing << K::ready);
    EXPECT_EQ(statuses[1],
              AudioPackStatus::downloading("morning-tea-steam.m4a", 0, pack.manifest.totalBytes));
    EXPECT_EQ(statuses[2], AudioPackStatus::verifying("morning-tea-steam.m4a"));
    EXPECT_EQ(statuses[3].completedBytes, 3000);

    for (const auto& [name, bytes] : pack.contents.asKeyValueRange())
        EXPECT_EQ(read(audioFile("2024.1", name)), bytes) << name.toStdString();
    EXPECT_EQ(
        decodeAudioPackManifest(read(h.packsRoot() + "/2024.1/audio-pack-manifest.json")).value(),
        pack.manifest);
    // Once when the manifest is in place, once when the pack is complete.
    ASSERT_EQ(changes.size(), 2);
    EXPECT_EQ(changes.last(), AudioPackStore::tracksForDefaultAlbum(pack.manifest));
    EXPECT_EQ(changes.last()[4].albumID, "built-in-calm");
    EXPECT_EQ(AudioPackStore::tracksForDefaultAlbum(std::nullopt), TrackLibrary::tracks());
    EXPECT_TRUE(h.leftoverDownloads().isEmpty());

    // Nothing to do the next time: the same version, every file verified.
    h.server.clearRequests();
    test::await(store->installLatestPackIfNeeded(false));
    EXPECT_EQ(trackRequests(pack), 0);
    EXPECT_EQ(store->status(), AudioPackStatus::ready("2024.1"));
}

TEST_F(StoreTest, ASecondCallWhileDownloadingDoesNothing)
{
    const TestPack pack = TestPack::make(h.server, "1", {"a", "b"});
    offer(pack);
    auto slow = TestServer::Response{pack.contents["a.m4a"].toStdString()};
    slow.delay = std::chrono::milliseconds(400);
    h.server.serve(pack.trackPath("a.m4a"), slow);
    auto store = h.makeStore();

    auto first = store->installLatestPackIfNeeded(false);
    ASSERT_TRUE(test::runUntil([&] { return store->status().kind == K::downloading; }));
    test::await(store->installLatestPackIfNeeded(false));
    EXPECT_EQ(store->status().kind, K::downloading);
    test::await(std::move(first));
    EXPECT_EQ(store->status(), AudioPackStatus::ready("1"));
    EXPECT_EQ(h.server.requestCount(pack.manifestPath()), 1);
    EXPECT_EQ(trackRequests(pack), 2);
}

TEST_F(StoreTest, UpdateReusesUnchangedTracksAndRemovesTheOldPack)
{
    const TestPack v1 = TestPack::make(h.server, "9", fiveTracks);
    auto store = installed(v1);
    QDir().mkpath(h.packsRoot() + "/.hidden-pack");
    QFile(h.packsRoot() + "/notes.txt").open(QIODevice::WriteOnly);

    // The same ids and seed give the same bytes: version 10 changes one track's audio, one
    // title, drops a track and adds one.
    TestPack v2 = TestPack::make(h.server, "10", fiveTracks.mid(0, 4) << "fresh");
    QByteArray& changed = v2.contents["pixel-snowfall.m4a"];
    changed[0] = char(changed[0] ^ 1);
    v2.manifest.tracks[1].sha256 = test::sha256Hex(changed);
    v2.manifest.tracks[2].title = "Quiet Circuit II";
    offer(v2);

    watch(*store);
    QList<AudioPackUpdateState> updates;
    QObject::connect(store.get(), &AudioPackStore::updateStateChanged,
                     [&] { updates.append(store->updateState()); });
    EXPECT_FALSE(store->manifestCheckIsDue());
    test::await(store->installLatestTrackUpdateIfAvailable());

    ASSERT_GE(updates.size(), 3);
    EXPECT_EQ(updates[0], AudioPackUpdateState::checking());
    EXPECT_EQ(updates[1], AudioPackUpdateState::available("10", 2));
    EXPECT_EQ(updates.last(), AudioPackUpdateState::current());
    EXPECT_EQ(store->status(), AudioPackStatus::ready("10"));
    EXPECT_EQ(h.server.requestCount(v2.trackPath("fresh.m4a")), 1);
    EXPECT_EQ(trackRequests(v2), 2) << "unchanged tracks come from the old pack";
    EXPECT_EQ(statuses.first(),
              AudioPackStatus::downloading("pixel-snowfall.m4a", 3000, v2.manifest.totalBytes));
    EXPECT_EQ(read(audioFile("10", "quiet-circuit.m4a")), v1.contents["quiet-circuit.m4a"]);
    ASSERT_FALSE(changes.isEmpty());
    EXPECT_EQ(changes.last()[2].title, "Quiet Circuit II");
    // Only the obsolete pack goes; what is not a pack stays.
    EXPECT_FALSE(QFileInfo::exists(h.packsRoot() + "/9"));
    EXPECT_TRUE(QFileInfo::exists(h.packsRoot() + "/.hidden-pack"));
    EXPECT_TRUE(QFileInfo::exists(h.packsRoot() + "/notes.txt"));
}

TEST_F(StoreTest, InterruptedInstallIsResumedByTheNextLaunch)
{
    const TestPack pack = TestPack::make(h.server, "3", fiveTracks);
    offer(pack);
    auto stalled = TestServer::Response{pack.contents["new-harbor-loop.m4a"].toStdString()};
    stalled.delay = std::chrono::milliseconds(1000);
    h.server.serve(pack.trackPath("new-harbor-loop.m4a"), stalled);
    h.timeouts.trackRequest = std::chrono::milliseconds(60000);
    {
        auto store = h.makeStore();
        auto running = store->installLatestPackIfNeeded(false);
        ASSERT_TRUE(test::runUntil([&] {
            return store->status() ==
                       AudioPackStatus::downloading("new-harbor-loop.m4a", 9000, 15000) &&
                   h.server.requestCount(pack.trackPath("new-harbor-loop.m4a")) == 1;
        }));
        EXPECT_EQ(store->progress(), 0.6);
        // The program quits in the middle of a download.
    }
    EXPECT_TRUE(h.leftoverDownloads().isEmpty());

    const QString starter = h.starterDirectory() + "/rain-on-the-skylight.m4a";
    write(starter, "starter");

    auto store = h.makeStore();
    EXPECT_EQ(store->installedManifest(), pack.manifest);
    EXPECT_FALSE(store->fullLibraryIsInstalled());
    EXPECT_EQ(store->status(), AudioPackStatus::notInstalled());
    EXPECT_DOUBLE_EQ(store->progress(), 0.6);
    const auto available = [&](const QString& id, const AudioSource& source = {}) {
        CalmTrack track;
        track.id = id;
        track.albumID = builtInAlbumID;
        track.source = std::holds_alternative<FileAudio>(source) ? source : BundledAudio{id};
        return store->isTrackAvailable(track);
    };
    EXPECT_TRUE(available("quiet-circuit"));
    EXPECT_FALSE(available("new-harbor-loop"));
    EXPECT_FALSE(store->localPath("rain-on-the-skylight"));
    EXPECT_TRUE(available("rain-on-the-skylight")) << "a starter track";
    EXPECT_EQ(store->starterPath("rain-on-the-skylight"), starter);
    EXPECT_FALSE(store->starterPath("quiet-circuit")) << "not a starter track";
    EXPECT_TRUE(available("x", FileAudio{starter}));
    EXPECT_FALSE(available("y", FileAudio{"/nowhere.m4a"}));

    h.server.clearRequests();
    pack.publish(h.server);
    test::await(store->installLatestPackIfDue());
    EXPECT_EQ(store->status(), AudioPackStatus::ready("3"));
    EXPECT_EQ(trackRequests(pack), 2) << "only the fourth and fifth track";
}

TEST_F(StoreTest, FailedVerificationKeepsWhatCanPlay)
{
    // A first install fails on an oversized track: the partial library plays.
    const TestPack v1 = TestPack::make(h.server, "1", {"a", "b"});
    offer(v1);
    h.server.serve(v1.trackPath("b.m4a"), TestServer::Response{std::string(1 << 20, 'x')});
    auto store = h.makeStore();
    test::await(store->installLatestPackIfNeeded(false));
    EXPECT_EQ(store->status(), AudioPackStatus::failed("b.m4a did not pass verification."));
    EXPECT_EQ(store->statusTitle(), "Library setup failed");
    EXPECT_EQ(store->installedManifest(), v1.manifest);
    EXPECT_TRUE(store->localPath("a"));
    v1.publish(h.server);
    test::await(store->installLatestPackIfNeeded(false));
    ASSERT_EQ(store->status(), AudioPackStatus::ready("1"));

    // An update with a wrong digest fails and brings the previous library back.

    TestPack v2 = TestPack::make(h.server, "2", {"a", "c"}, 3000, 5);
    v2.contents["c.m4a"][10] = char(v2.contents["c.m4a"][10] ^ 1); // same size, other bytes
    offer(v2);
    h.defaults->remove(AudioPackStore::lastManifestCheckDateKey);
    test::await(store->installLatestPackIfDue());

    const QString message = "c.m4a did not pass verification.";
    EXPECT_EQ(store->status(), AudioPackStatus::failed(message));
    EXPECT_EQ(store->updateState(), AudioPackUpdateState::failed(message));
    EXPECT_EQ(store->installedManifest(), v1.manifest);
    EXPECT_TRUE(store->fullLibraryIsInstalled());
    EXPECT_EQ(store->statusTitle(), "Track update failed");
    EXPECT_TRUE(QFileInfo::exists(audioFile("1", "b.m4a")));
    EXPECT_FALSE(QFileInfo::exists(audioFile("2", "c.m4a")));
    EXPECT_TRUE(QFileInfo::exists(audioFile("2", "a.m4a"))) << "kept for the next attempt";
    EXPECT_TRUE(h.leftoverDownloads().isEmpty());

    // A new launch finds the complete old pack first.
    store.reset();
    store = h.makeStore();
    EXPECT_EQ(store->installedManifest(), v1.manifest);
    EXPECT_EQ(store->status(), AudioPackStatus::ready("1"));
}

TEST_F(StoreTest, LaunchPicksTheGreatestCompletePack)
{
    auto store = h.makeStore();
    for (int version : {9, 10, 11}) { // 11 lacks its track
        const TestPack pack = TestPack::make(h.server, QString::number(version), {"a"}, 100);
        QDir().mkpath(h.packsRoot() + "/" + pack.version);
        ASSERT_TRUE(store->writeManifest(pack.manifest, h.packsRoot() + "/" + pack.version).ok());
        if (version < 11)
            write(audioFile(pack.version, "a.m4a"), pack.contents["a.m4a"]);
    }
    write(h.packsRoot() + "/12/audio-pack-manifest.json", "{ not json");
    QStringList expected;
    for (const char* version : {"12", "11", "10", "9"})
        expected << h.packsRoot() + "/" + version;
    EXPECT_EQ(store->installedPackDirectories(), expected);
    store.reset();
    store = h.makeStore();
    EXPECT_EQ(store->status(), AudioPackStatus::ready("10"));
}

TEST_F(StoreTest, ChecksRunDailyAndOnlyOnAGoodNetwork)
{
    const TestPack pack = TestPack::make(h.server, "1", {"a"});
    auto store = installed(pack);
    for (int hours : {23, 24}) {
        h.defaults->setDate(AudioPackStore::lastManifestCheckDateKey,
                            h.clock->now().addSecs(-hours * 3600));
        EXPECT_EQ(store->manifestCheckIsDue(), hours == 24);
        test::await(store->installLatestPackIfDue());
        EXPECT_EQ(h.server.requestCount(pack.manifestPath()), hours == 24 ? 1 : 0);
    }
    EXPECT_EQ(store->updateState(), AudioPackUpdateState::current());
    EXPECT_EQ(h.defaults->date(AudioPackStore::lastManifestCheckDateKey), h.clock->now());

    h.server.clearRequests();
    const QString better = "Calmcove will update new tracks when the network is better.";
    h.monitor->setPath({true, false, true});
    test::await(store->installLatestTrackUpdateIfAvailable());
    EXPECT_EQ(store->updateState(), AudioPackUpdateState::failed(better));
    EXPECT_EQ(store->statusTitle(), better);
    h.monitor->setPath({false, false, false});
    test::await(store->installLatestTrackUpdateIfAvailable());
    EXPECT_EQ(store->updateState(),
              AudioPackUpdateState::failed(
                  "Calmcove will check for new tracks when the network returns."));
    EXPECT_EQ(store->status(), AudioPackStatus::ready("1"));
    EXPECT_TRUE(h.server.requests().empty());
}

TEST_F(StoreTest, HourlyLoopChecksOnceADayAndStopsWithTheStore)
{
    const TestPack pack = TestPack::make(h.server, "1", {"a"});
    auto store = installed(pack);
    h.defaults->setDate(AudioPackStore::lastManifestCheckDateKey, h.clock->now());
    h.clock->clearDelays();

    // Hourly waits pass at once until the check has been asked for; the first wait after it
    // parks, so the loop cannot start the next day's check while the test looks.
    h.clock->park = [&](std::chrono::nanoseconds) {
        return h.server.requestCount(pack.manifestPath()) >= 1;
    };
    store->startAutomaticUpdates();
    store->startAutomaticUpdates(); // a second start changes nothing
    ASSERT_TRUE(test::runUntil([&] { return h.server.requestCount(pack.manifestPath()) == 1; }));
    EXPECT_GE(h.clock->delays().size(), 24);
    EXPECT_EQ(h.clock->delays().first(), 3600.0);
    ASSERT_TRUE(
        test::runUntil([&] { return store->updateState() == AudioPackUpdateState::current(); }));

    // The loop is parked in its next hourly wait; destroying the store must end it at once.
    store.reset();
    h.clock->releaseParked();
    test::runUntil([] { return false; }, 50);
}

TEST_F(StoreTest, OfflineLaunchWaitsAndDownloadsWhenTheNetworkReturns)
{
    const TestPack pack = TestPack::make(h.server, "1", {"a", "b"});
    offer(pack);
    auto store = h.makeStore();
    h.monitor->setOnline(false);
    EXPECT_FALSE(store->hasNetwork());

    store->startAutomaticUpdates();
    ASSERT_TRUE(test::runUntil([&] { return store->status().kind == K::waitingForNetwork; }));
    EXPECT_EQ(store->statusTitle(), "Waiting for network");
    EXPECT_EQ(store->statusDetail(), continueLater);
    EXPECT_TRUE(h.server.requests().empty());

    h.monitor->setPath({true, true, true}); // online again, even on an expensive path
    ASSERT_TRUE(becomesReady(*store, "1"));
    EXPECT_EQ(trackRequests(pack), 2);
}

TEST_F(StoreTest, NetworkLostDuringADownloadPausesAndResumes)
{
    // The network goes away while the client waits to retry a dropped transfer.
    const auto loseTheNetworkOnRetry = [&] {
        h.clock->onSchedule = [&](std::chrono::nanoseconds) { h.monitor->setOnline(false); };
    };
    const TestPack v1 = TestPack::make(h.server, "1", {"a", "b"});
    offer(v1);
    dropTwice(v1, "b.m4a", 1000);
    auto store = h.makeStore();
    loseTheNetworkOnRetry();
    test::await(store->installLatestPackIfNeeded(false));
    EXPECT_EQ(store->status(), AudioPackStatus::waitingForNetwork(continueLater));
    EXPECT_EQ(h.server.requestCount(v1.trackPath("b.m4a")), 2) << "no retries while offline";
    EXPECT_TRUE(store->localPath("a"));

    h.clock->onSchedule = nullptr;
    h.monitor->setOnline(false); // an update that keeps the network away resumes nothing
    EXPECT_EQ(store->status().kind, K::waitingForNetwork);
    h.monitor->setOnline(true);
    ASSERT_TRUE(becomesReady(*store, "1"));
    EXPECT_EQ(h.server.requestCount(v1.trackPath("a.m4a")), 1);

    // The same during a track update, which can then be resumed.
    const TestPack v2 = TestPack::make(h.server, "2", {"a", "b", "c"});
    offer(v2);
    dropTwice(v2, "c.m4a", 10);
    loseTheNetworkOnRetry();
    test::await(store->installLatestTrackUpdateIfAvailable());
    EXPECT_EQ(store->updateState(), AudioPackUpdateState::available("2", 1));
    EXPECT_EQ(store->status(),
              AudioPackStatus::waitingForNetwork(
                  "Calmcove will continue the new tracks download when the network returns."));
    EXPECT_TRUE(store->canDownloadCheckedTrackUpdate());
    EXPECT_EQ(store->statusTitle(), "Track update paused");
    EXPECT_EQ(store->installedManifest(), v1.manifest) << "the complete library comes back";

    h.clock->onSchedule = nullptr;
    int canDownloadChanges = 0;
    QObject::connect(store.get(), &AudioPackStore::canDownloadCheckedTrackUpdateChanged,
                     [&] { ++canDownloadChanges; });
    h.monitor->setOnline(true);
    ASSERT_TRUE(becomesReady(*store, "2"));
    EXPECT_FALSE(store->canDownloadCheckedTrackUpdate());
    EXPECT_EQ(store->updateState(), AudioPackUpdateState::current());
    EXPECT_EQ(canDownloadChanges, 1);
}

TEST_F(StoreTest, OnlineToOnlineUpdatesResumeNothing)
{
    const TestPack pack = TestPack::make(h.server, "1", {"a"});
    // The server cannot be reached although the network is there: the install waits.
    h.defaults->setValue(
        AudioPackClient::manifestURLKey,
        QStringLiteral("https://127.0.0.1:%1/m.json").arg(test::closedLoopbackPort()));
    auto store = h.makeStore();
    test::await(store->installLatestPackIfNeeded(false));
    ASSERT_EQ(store->status().kind, K::waitingForNetwork);
    EXPECT_TRUE(store->hasNetwork());

    offer(pack);
    h.monitor->setPath({true, true, false});
    h.monitor->setPath({true, false, false});
    test::runUntil([] { return false; }, 100);
    EXPECT_TRUE(h.server.requests().empty());
    EXPECT_EQ(store->status().kind, K::waitingForNetwork);

    h.monitor->setOnline(false);
    h.monitor->setOnline(true);
    ASSERT_TRUE(becomesReady(*store, "1"));
}

} // namespace
} // namespace calmcove
