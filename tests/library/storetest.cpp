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

const QStringList fiveTracks = {"morning-tea-steam", "pixel-snowfall", "quiet-circuit",
                                "new-harbor-loop", "rain-on-the-skylight"};

class StoreTest : public ::testing::Test
{
protected:
    // Records every status the store passes through.
    void watch(AudioPackStore& store)
    {
        statuses.clear();
        QObject::connect(&store, &AudioPackStore::statusChanged, &store,
                         [this, s = &store] { statuses.append(s->status()); });
    }
    int trackRequests(const TestPack& pack) const
    {
        int count = 0;
        for (const auto& [name, bytes] : pack.contents.asKeyValueRange())
            count += h.server.requestCount(pack.trackPath(name));
        return count;
    }
    QString audioFile(const QString& version, const QString& fileName) const
    {
        return h.packsRoot() + "/" + version + "/Audio/" + fileName;
    }
    std::unique_ptr<AudioPackStore> installed(const TestPack& pack)
    {
        pack.publish(h.server);
        h.useManifest(pack);
        auto store = h.makeStore();
        test::await(store->installLatestPackIfNeeded(false));
        EXPECT_EQ(store->status(), AudioPackStatus::ready(pack.version));
        return store;
    }
    static QList<AudioPackStatus::Kind> kinds(const QList<AudioPackStatus>& list)
    {
        QList<AudioPackStatus::Kind> result;
        for (const AudioPackStatus& status : list)
            result.append(status.kind);
        return result;
    }

    test::LibraryHarness h;
    QList<AudioPackStatus> statuses;
};

TEST_F(StoreTest, FreshInstallDownloadsVerifiesAndCommits)
{
    const TestPack pack = TestPack::make(h.server, "2024.1", fiveTracks);
    pack.publish(h.server);
    h.useManifest(pack);
    auto store = h.makeStore();
    EXPECT_EQ(store->status(), AudioPackStatus::notInstalled());
    EXPECT_EQ(store->updateState(), AudioPackUpdateState::notChecked());
    EXPECT_EQ(store->statusTitle(), "Starter tracks ready");
    EXPECT_FALSE(store->installedManifest());

    watch(*store);
    QList<QList<CalmTrack>> changes;
    QObject::connect(store.get(), &AudioPackStore::libraryDidChange,
                     [&](const QList<CalmTrack>& tracks) { changes.append(tracks); });
    int progressChanges = 0;
    QObject::connect(store.get(), &AudioPackStore::progressChanged, [&] { ++progressChanges; });
    test::await(store->installLatestPackIfNeeded(false));

    EXPECT_EQ(store->status(), AudioPackStatus::ready("2024.1"));
    EXPECT_EQ(store->statusTitle(), "Full library ready");
    EXPECT_EQ(store->statusDetail(), "5 tracks installed.");
    EXPECT_EQ(store->updateState(), AudioPackUpdateState::current());
    EXPECT_TRUE(store->fullLibraryIsInstalled());
    EXPECT_EQ(store->installedManifest(), pack.manifest);
    EXPECT_EQ(store->progress(), 1.0);
    EXPECT_GE(progressChanges, 5);
    EXPECT_TRUE(h.defaults->date(AudioPackStore::lastManifestCheckDateKey));

    using K = AudioPackStatus::Kind;
    QList<K> expected = {K::checking};
    for (int i = 0; i < 5; ++i)
        expected << K::downloading << K::verifying;
    expected << K::installing << K::ready;
    EXPECT_EQ(kinds(statuses), expected);
    EXPECT_EQ(statuses[1],
              AudioPackStatus::downloading("morning-tea-steam.m4a", 0, pack.manifest.totalBytes));
    EXPECT_EQ(statuses[3].completedBytes, 3000);
    EXPECT_EQ(statuses[2], AudioPackStatus::verifying("morning-tea-steam.m4a"));

    for (const auto& [name, bytes] : pack.contents.asKeyValueRange()) {
        QFile file(audioFile("2024.1", name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
        EXPECT_EQ(file.readAll(), bytes);
    }
    QFile written(h.packsRoot() + "/2024.1/audio-pack-manifest.json");
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(decodeAudioPackManifest(written.readAll()).value(), pack.manifest);

    // Once when the manifest is in place, once when the pack is complete.
    ASSERT_EQ(changes.size(), 2);
    EXPECT_EQ(changes.last(), AudioPackStore::tracksForDefaultAlbum(pack.manifest));
    EXPECT_TRUE(h.leftoverDownloads().isEmpty());

    // Nothing to do the next time: the same version, every file verified.
    h.server.clearRequests();
    test::await(store->installLatestPackIfNeeded(false));
    EXPECT_EQ(trackRequests(pack), 0);
    EXPECT_EQ(store->status(), AudioPackStatus::ready("2024.1"));
}

TEST_F(StoreTest, ASecondCallWhileDownloadingDoesNothing)
{
    TestPack pack = TestPack::make(h.server, "1", {"a", "b"});
    pack.publish(h.server);
    TestServer::Response slow;
    slow.body = pack.contents["a.m4a"].toStdString();
    slow.delay = std::chrono::milliseconds(400);
    h.server.serve(pack.trackPath("a.m4a"), slow);
    h.useManifest(pack);
    auto store = h.makeStore();

    auto first = store->installLatestPackIfNeeded(false);
    ASSERT_TRUE(
        test::runUntil([&] { return store->status().kind == AudioPackStatus::Kind::downloading; }));
    test::await(store->installLatestPackIfNeeded(false));
    EXPECT_EQ(store->status().kind, AudioPackStatus::Kind::downloading);
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

    // Version 10 changes one track's audio and adds one.
    TestPack v2 = TestPack::make(h.server, "10", fiveTracks.mid(0, 4) + QStringList{"fresh"});
    const TestPack changed = TestPack::make(h.server, "10", {"pixel-snowfall"}, 3000, 7);
    v2.contents["pixel-snowfall.m4a"] = changed.contents["pixel-snowfall.m4a"];
    v2.manifest.tracks[1].sha256 = changed.manifest.tracks[0].sha256;
    for (AudioPackTrack& track : v2.manifest.tracks)
        track.downloadURL = h.server.url(QString::fromStdString(v2.trackPath(track.fileName)));
    for (AudioPackTrack& track : v2.manifest.tracks)
        if (track.id != "pixel-snowfall" && track.id != "fresh")
            track.sha256 = v1.manifest.tracks[fiveTracks.indexOf(track.id)].sha256;
    for (const QString& id : fiveTracks.mid(0, 4))
        if (id != "pixel-snowfall")
            v2.contents[id + ".m4a"] = v1.contents[id + ".m4a"];
    v2.publish(h.server);
    h.useManifest(v2);
    h.server.clearRequests();

    watch(*store);
    QList<AudioPackUpdateState> updates;
    QObject::connect(store.get(), &AudioPackStore::updateStateChanged,
                     [&] { updates.append(store->updateState()); });
    EXPECT_TRUE(store->manifestCheckIsDue() == false);
    test::await(store->installLatestTrackUpdateIfAvailable());

    ASSERT_GE(updates.size(), 3);
    EXPECT_EQ(updates[0], AudioPackUpdateState::checking());
    EXPECT_EQ(updates[1], AudioPackUpdateState::available("10", 2));
    EXPECT_EQ(updates.last(), AudioPackUpdateState::current());
    EXPECT_EQ(store->status(), AudioPackStatus::ready("10"));
    EXPECT_EQ(h.server.requestCount(v2.trackPath("pixel-snowfall.m4a")), 1);
    EXPECT_EQ(h.server.requestCount(v2.trackPath("fresh.m4a")), 1);
    EXPECT_EQ(trackRequests(v2), 2) << "unchanged tracks come from the old pack";
    EXPECT_EQ(statuses.first(),
              AudioPackStatus::downloading("pixel-snowfall.m4a", 3000, v2.manifest.totalBytes));
    EXPECT_FALSE(QFileInfo::exists(h.packsRoot() + "/9"));
    EXPECT_TRUE(QFileInfo::exists(h.packsRoot() + "/.hidden-pack"));
    EXPECT_TRUE(QFileInfo::exists(h.packsRoot() + "/notes.txt"));
    QFile reused(audioFile("10", "quiet-circuit.m4a"));
    ASSERT_TRUE(reused.open(QIODevice::ReadOnly));
    EXPECT_EQ(reused.readAll(), v1.contents["quiet-circuit.m4a"]);
}

TEST_F(StoreTest, InterruptedInstallIsResumedByTheNextLaunch)
{
    TestPack pack = TestPack::make(h.server, "3", fiveTracks);
    pack.publish(h.server);
    TestServer::Response stalled;
    stalled.body = pack.contents["new-harbor-loop.m4a"].toStdString();
    stalled.delay = std::chrono::milliseconds(1000);
    h.server.serve(pack.trackPath("new-harbor-loop.m4a"), stalled);
    h.useManifest(pack);
    h.timeouts.trackRequest = std::chrono::milliseconds(60000);
    {
        auto store = h.makeStore();
        auto running = store->installLatestPackIfNeeded(false);
        ASSERT_TRUE(test::runUntil([&] {
            return store->status() ==
                   AudioPackStatus::downloading("new-harbor-loop.m4a", 9000, 15000);
        }));
        ASSERT_TRUE(test::runUntil(
            [&] { return h.server.requestCount(pack.trackPath("new-harbor-loop.m4a")) == 1; }));
        EXPECT_EQ(store->progress(), 0.6);
        EXPECT_TRUE(store->localPath("quiet-circuit"));
        EXPECT_FALSE(store->localPath("new-harbor-loop"));
        // The program quits in the middle of a download.
    }
    EXPECT_TRUE(h.leftoverDownloads().isEmpty());

    QFile starter(h.starterDirectory() + "/rain-on-the-skylight.m4a");
    ASSERT_TRUE(starter.open(QIODevice::WriteOnly));
    starter.write("starter");
    starter.close();

    auto store = h.makeStore();
    EXPECT_EQ(store->installedManifest(), pack.manifest);
    EXPECT_FALSE(store->fullLibraryIsInstalled());
    EXPECT_EQ(store->status(), AudioPackStatus::notInstalled());
    EXPECT_DOUBLE_EQ(store->progress(), 0.6);
    const auto track = [](const QString& id, const AudioSource& source = {}) {
        CalmTrack result;
        result.id = id;
        result.albumID = builtInAlbumID;
        result.source = std::holds_alternative<FileAudio>(source) ? source : BundledAudio{id};
        return result;
    };
    EXPECT_TRUE(store->isTrackAvailable(track("quiet-circuit")));
    EXPECT_FALSE(store->isTrackAvailable(track("new-harbor-loop")));
    EXPECT_FALSE(store->localPath("rain-on-the-skylight"));
    EXPECT_TRUE(store->isTrackAvailable(track("rain-on-the-skylight"))) << "a starter track";
    EXPECT_EQ(store->starterPath("rain-on-the-skylight"),
              h.starterDirectory() + "/rain-on-the-skylight.m4a");
    EXPECT_FALSE(store->starterPath("quiet-circuit")) << "not a starter track";
    EXPECT_TRUE(store->isTrackAvailable(
        track("x", FileAudio{h.starterDirectory() + "/rain-on-the-skylight.m4a"})));
    EXPECT_FALSE(store->isTrackAvailable(track("y", FileAudio{"/nowhere.m4a"})));

    h.server.clearRequests();
    pack.publish(h.server);
    test::await(store->installLatestPackIfDue());
    EXPECT_EQ(store->status(), AudioPackStatus::ready("3"));
    EXPECT_EQ(trackRequests(pack), 2) << "only the fourth and fifth track";
}

TEST_F(StoreTest, WrongDigestFailsAndBringsThePreviousLibraryBack)
{
    const TestPack v1 = TestPack::make(h.server, "1", {"a", "b"});
    auto store = installed(v1);

    TestPack v2 = TestPack::make(h.server, "2", {"a", "c"}, 3000, 5);
    v2.contents["c.m4a"][10] = char(v2.contents["c.m4a"][10] ^ 1); // same size, other bytes
    v2.publish(h.server);
    h.useManifest(v2);
    h.defaults->remove(AudioPackStore::lastManifestCheckDateKey);
    test::await(store->installLatestPackIfDue());

    const QString message = "c.m4a did not pass verification.";
    EXPECT_EQ(store->status(), AudioPackStatus::failed(message));
    EXPECT_EQ(store->updateState(), AudioPackUpdateState::failed(message));
    EXPECT_EQ(store->installedManifest(), v1.manifest);
    EXPECT_TRUE(store->fullLibraryIsInstalled());
    EXPECT_EQ(store->statusTitle(), "Track update failed");
    EXPECT_EQ(store->statusDetail(), message);
    EXPECT_TRUE(QFileInfo::exists(audioFile("1", "b.m4a")));
    EXPECT_FALSE(QFileInfo::exists(audioFile("2", "c.m4a")));
    EXPECT_TRUE(QFileInfo::exists(audioFile("2", "a.m4a"))) << "kept for the next attempt";
    EXPECT_TRUE(h.leftoverDownloads().isEmpty());

    // A new launch finds the complete old pack first.
    store.reset();
    auto relaunched = h.makeStore();
    EXPECT_EQ(relaunched->installedManifest(), v1.manifest);
    EXPECT_EQ(relaunched->status(), AudioPackStatus::ready("1"));
}

TEST_F(StoreTest, FailedFirstInstallShowsLibrarySetupFailed)
{
    TestPack pack = TestPack::make(h.server, "1", {"a", "b"});
    pack.publish(h.server);
    TestServer::Response huge;
    huge.body = std::string(1024 * 1024, 'x');
    h.server.serve(pack.trackPath("b.m4a"), huge);
    h.useManifest(pack);
    auto store = h.makeStore();
    test::await(store->installLatestPackIfNeeded(false));
    EXPECT_EQ(store->status(), AudioPackStatus::failed("b.m4a did not pass verification."));
    EXPECT_EQ(store->statusTitle(), "Library setup failed");
    EXPECT_EQ(store->installedManifest(), pack.manifest) << "the partial library plays";
    EXPECT_TRUE(store->localPath("a"));

    h.defaults->remove(AudioPackClient::manifestURLKey);
    test::await(store->installLatestPackIfNeeded(false));
    EXPECT_EQ(store->status(), AudioPackStatus::failed("No audio library URL is configured."));
}

TEST_F(StoreTest, LaunchPicksTheGreatestCompletePack)
{
    const TestPack nine = TestPack::make(h.server, "9", {"a"}, 100, 1);
    const TestPack ten = TestPack::make(h.server, "10", {"a"}, 100, 2);
    const TestPack eleven = TestPack::make(h.server, "11", {"a"}, 100, 3);
    auto store = h.makeStore();
    for (const TestPack* pack : {&nine, &ten, &eleven}) {
        const QString dir = h.packsRoot() + "/" + pack->version;
        QDir().mkpath(dir + "/Audio");
        ASSERT_TRUE(store->writeManifest(pack->manifest, dir).ok());
        if (pack != &eleven) { // 11 is incomplete
            QFile file(dir + "/Audio/a.m4a");
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(pack->contents["a.m4a"]);
        }
    }
    QDir().mkpath(h.packsRoot() + "/12");
    QFile broken(h.packsRoot() + "/12/audio-pack-manifest.json");
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("{ not json");
    broken.close();

    EXPECT_EQ(store->installedPackDirectories(),
              QStringList({h.packsRoot() + "/12", h.packsRoot() + "/11", h.packsRoot() + "/10",
                           h.packsRoot() + "/9"}));
    store.reset();
    store = h.makeStore();
    EXPECT_EQ(store->installedManifest(), ten.manifest);
    EXPECT_EQ(store->status(), AudioPackStatus::ready("10"));
}

TEST_F(StoreTest, InstallWithEveryFileInPlaceDownloadsNothing)
{
    const TestPack pack = TestPack::make(h.server, "5", {"a", "b"});
    pack.publish(h.server);
    h.useManifest(pack);
    QDir().mkpath(h.packsRoot() + "/5/Audio");
    for (const auto& [name, bytes] : pack.contents.asKeyValueRange()) {
        QFile file(audioFile("5", name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    auto store = h.makeStore();
    EXPECT_FALSE(store->installedManifest()) << "no manifest on disk yet";
    watch(*store);
    test::await(store->installLatestPackIfNeeded(false));
    using K = AudioPackStatus::Kind;
    EXPECT_EQ(kinds(statuses), QList<K>({K::checking, K::installing, K::ready}));
    EXPECT_EQ(trackRequests(pack), 0);
}

TEST_F(StoreTest, DefaultAlbumTracksFollowTheManifest)
{
    EXPECT_EQ(AudioPackStore::tracksForDefaultAlbum(std::nullopt), TrackLibrary::tracks());
    TestPack pack =
        TestPack::make(h.server, "1", {"quiet-circuit", "brand-new-loop", "pixel-snowfall"});
    pack.manifest.tracks[0].title = "Quiet Circuit II";
    const QList<CalmTrack> tracks = AudioPackStore::tracksForDefaultAlbum(pack.manifest);
    ASSERT_EQ(tracks.size(), 3);
    EXPECT_EQ(tracks[0].title, "Quiet Circuit II");
    EXPECT_EQ(tracks[0].artist, TrackLibrary::artistName) << "from the catalogue";
    EXPECT_EQ(tracks[1].title, "Brand New Loop");
    EXPECT_EQ(tracks[2].id, "pixel-snowfall");
    for (const CalmTrack& track : tracks)
        EXPECT_EQ(track.albumID, "built-in-calm");
}

TEST_F(StoreTest, DailyCheckRunsAfterTwentyFourHours)
{
    const TestPack pack = TestPack::make(h.server, "1", {"a"});
    auto store = installed(pack);
    h.server.clearRequests();

    h.defaults->setDate(AudioPackStore::lastManifestCheckDateKey,
                        h.clock->now().addSecs(-23 * 3600));
    EXPECT_FALSE(store->manifestCheckIsDue());
    test::await(store->installLatestPackIfDue());
    EXPECT_EQ(h.server.requestCount(pack.manifestPath()), 0);

    h.defaults->setDate(AudioPackStore::lastManifestCheckDateKey,
                        h.clock->now().addSecs(-24 * 3600));
    EXPECT_TRUE(store->manifestCheckIsDue());
    test::await(store->installLatestPackIfDue());
    EXPECT_EQ(h.server.requestCount(pack.manifestPath()), 1);
    EXPECT_EQ(store->updateState(), AudioPackUpdateState::current());
    EXPECT_EQ(h.defaults->date(AudioPackStore::lastManifestCheckDateKey), h.clock->now());
}

TEST_F(StoreTest, HourlyLoopChecksOnceADayAndStopsWithTheStore)
{
    const TestPack pack = TestPack::make(h.server, "1", {"a"});
    auto store = installed(pack);
    h.server.clearRequests();
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
    // 24 hourly waits until the check was due.
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
    pack.publish(h.server);
    h.useManifest(pack);
    auto store = h.makeStore();
    h.monitor->setOnline(false);
    EXPECT_FALSE(store->hasNetwork());

    store->startAutomaticUpdates();
    ASSERT_TRUE(test::runUntil(
        [&] { return store->status().kind == AudioPackStatus::Kind::waitingForNetwork; }));
    EXPECT_EQ(store->statusTitle(), "Waiting for network");
    EXPECT_EQ(store->statusDetail(),
              "Calmcove will continue the library download when the network returns.");
    EXPECT_TRUE(h.server.requests().empty());

    h.monitor->setPath({true, true, true}); // online again, even on an expensive path
    ASSERT_TRUE(test::runUntil([&] { return store->status() == AudioPackStatus::ready("1"); }));
    EXPECT_EQ(trackRequests(pack), 2);
}

TEST_F(StoreTest, NetworkLostDuringADownloadPausesAndResumes)
{
    TestPack pack = TestPack::make(h.server, "1", {"a", "b"});
    pack.publish(h.server);
    TestServer::Response dropped;
    dropped.body = pack.contents["b.m4a"].toStdString();
    dropped.cutAfter = 1000;
    TestServer::Response full = dropped;
    full.cutAfter.reset();
    h.server.script(pack.trackPath("b.m4a"), {dropped, dropped, full});
    h.useManifest(pack);
    auto store = h.makeStore();
    // The network goes away while the client waits to retry the dropped transfer.
    h.clock->onSchedule = [&](std::chrono::nanoseconds) { h.monitor->setOnline(false); };

    test::await(store->installLatestPackIfNeeded(false));
    EXPECT_EQ(store->status(),
              AudioPackStatus::waitingForNetwork(
                  "Calmcove will continue the library download when the network returns."));
    EXPECT_EQ(h.server.requestCount(pack.trackPath("b.m4a")), 2) << "no retries while offline";
    EXPECT_TRUE(store->localPath("a"));

    h.clock->onSchedule = nullptr;
    h.monitor->setOnline(false); // an update that keeps the network away resumes nothing
    EXPECT_EQ(store->status().kind, AudioPackStatus::Kind::waitingForNetwork);
    h.monitor->setOnline(true);
    ASSERT_TRUE(test::runUntil([&] { return store->status() == AudioPackStatus::ready("1"); }));
    EXPECT_EQ(h.server.requestCount(pack.trackPath("a.m4a")), 1);
}

TEST_F(StoreTest, OnlineToOnlineUpdatesResumeNothing)
{
    const TestPack pack = TestPack::make(h.server, "1", {"a"});
    pack.publish(h.server);
    // The server cannot be reached although the network is there: the install waits.
    h.setSetting(AudioPackClient::manifestURLKey,
                 QStringLiteral("https://127.0.0.1:%1/m.json").arg(test::closedLoopbackPort()));
    auto store = h.makeStore();
    test::await(store->installLatestPackIfNeeded(false));
    ASSERT_EQ(store->status().kind, AudioPackStatus::Kind::waitingForNetwork);
    EXPECT_TRUE(store->hasNetwork());

    h.useManifest(pack);
    h.monitor->setPath({true, true, false});
    h.monitor->setPath({true, false, false});
    test::runUntil([] { return false; }, 100);
    EXPECT_TRUE(h.server.requests().empty());
    EXPECT_EQ(store->status().kind, AudioPackStatus::Kind::waitingForNetwork);

    h.monitor->setOnline(false);
    h.monitor->setOnline(true);
    ASSERT_TRUE(test::runUntil([&] { return store->status() == AudioPackStatus::ready("1"); }));
}

TEST_F(StoreTest, ChecksWaitForAGoodNetwork)
{
    const TestPack pack = TestPack::make(h.server, "1", {"a"});
    auto store = installed(pack);
    h.server.clearRequests();

    const QString better = "Calmcove will update new tracks when the network is better.";
    h.monitor->setPath({true, false, true});
    test::await(store->installLatestTrackUpdateIfAvailable());
    EXPECT_EQ(store->updateState(), AudioPackUpdateState::failed(better));
    EXPECT_EQ(store->statusTitle(), better);
    EXPECT_EQ(store->statusDetail(), better);
    EXPECT_EQ(store->status(), AudioPackStatus::ready("1"));

    h.monitor->setPath({false, false, false});
    test::await(store->installLatestTrackUpdateIfAvailable());
    EXPECT_EQ(store->updateState(),
              AudioPackUpdateState::failed(
                  "Calmcove will check for new tracks when the network returns."));
    EXPECT_EQ(store->status(), AudioPackStatus::ready("1"));
    EXPECT_TRUE(h.server.requests().empty());
}

TEST_F(StoreTest, UpdateInterruptedByTheNetworkCanBeResumed)
{
    const TestPack v1 = TestPack::make(h.server, "1", {"a"});
    auto store = installed(v1);
    TestPack v2 = TestPack::make(h.server, "2", {"a", "b"});
    v2.manifest.tracks[0] = v1.manifest.tracks[0];
    v2.contents["a.m4a"] = v1.contents["a.m4a"];
    v2.manifest.totalBytes = 6000;
    v2.publish(h.server);
    TestServer::Response dropped;
    dropped.body = v2.contents["b.m4a"].toStdString();
    dropped.cutAfter = 10;
    TestServer::Response full = dropped;
    full.cutAfter.reset();
    h.server.script(v2.trackPath("b.m4a"), {dropped, dropped, full});
    h.useManifest(v2);
    h.clock->onSchedule = [&](std::chrono::nanoseconds) { h.monitor->setOnline(false); };

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
    ASSERT_TRUE(test::runUntil([&] { return store->status() == AudioPackStatus::ready("2"); }));
    EXPECT_FALSE(store->canDownloadCheckedTrackUpdate());
    EXPECT_EQ(store->updateState(), AudioPackUpdateState::current());
    EXPECT_GE(canDownloadChanges, 1);
}

TEST_F(StoreTest, NewVersionWithTheSameAudioIsTakenWithoutDownloads)
{
    const TestPack v1 = TestPack::make(h.server, "1", {"quiet-circuit"});
    auto store = installed(v1);
    TestPack v2 = v1;
    v2.version = "2";
    v2.manifest.version = "2";
    v2.manifest.tracks[0].title = "Quiet Circuit (New Title)";
    v2.publish(h.server);
    h.useManifest(v2);
    h.server.clearRequests();
    QList<QList<CalmTrack>> changes;
    QObject::connect(store.get(), &AudioPackStore::libraryDidChange,
                     [&](const QList<CalmTrack>& tracks) { changes.append(tracks); });

    test::await(store->installLatestTrackUpdateIfAvailable());
    EXPECT_EQ(store->status(), AudioPackStatus::ready("2"));
    EXPECT_EQ(store->updateState(), AudioPackUpdateState::current());
    EXPECT_EQ(trackRequests(v2), 0);
    ASSERT_FALSE(changes.isEmpty());
    EXPECT_EQ(changes.last().first().title, "Quiet Circuit (New Title)");
    EXPECT_FALSE(QFileInfo::exists(h.packsRoot() + "/1"));
}

} // namespace
} // namespace calmcove
