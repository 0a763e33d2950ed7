// The updater against a loopback HTTPS feed made by calmcove-pack: a signed newer release
// is installed and the exchanged tree runs; every fault in the release or the feed leaves
// the tree untouched with a clear message; packaged trees are only told about releases;
// background checks follow their schedule and the network.

#include "updaterfixture.h"

#include "platform/userdefaults.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

#include <unistd.h>

namespace calmcove {
namespace {

using test::UpdaterFixture;

class UpdaterTest : public UpdaterFixture
{};

// The feed with one member of its first release replaced.
QByteArray withReleaseMember(const QByteArray& feed, const QString& key, const QJsonValue& value)
{
    QJsonObject document = QJsonDocument::fromJson(feed).object();
    QJsonArray releases = document.value("releases").toArray();
    QJsonObject release = releases.first().toObject();
    release.insert(key, value);
    releases.replace(0, release);
    document.insert("releases", releases);
    return QJsonDocument(document).toJson();
}

TEST_F(UpdaterTest, InstallsASignedNewerReleaseAndTheExchangedTreeRuns)
{
    publish(newArchive(), "0.2.0");
    const auto updater = makeUpdater();
    checkAndWait(*updater);

    EXPECT_EQ(driver.shown, QStringList({"checking", "found 0.2.0 install",
                                         "progress Downloading Calmcove 0.2.0…",
                                         "progress Installing Calmcove 0.2.0…", "dismiss"}));
    EXPECT_EQ(delegate.calls, QStringList({"show userInitiated", "attention", "finish"}));
    EXPECT_EQ(relaunched, QStringList{treePath + "/bin/calmcove"});
    EXPECT_EQ(test::reportedVersion(treePath + "/bin/calmcove"), "calmcove 0.2.0");
    EXPECT_EQ(test::snapshotTree(treePath), newTreeSnapshot());
    EXPECT_TRUE(leftoverDownloads().isEmpty());

    // The old tree waits beside the new one until the new program has started.
    ASSERT_EQ(besideTree().size(), 1);
    const auto restarted = makeUpdater();
    restarted->start();
    EXPECT_TRUE(besideTree().isEmpty());
    EXPECT_EQ(test::snapshotTree(treePath), newTreeSnapshot());
}

TEST_F(UpdaterTest, AFaultyReleaseOrFeedInstallsNothing)
{
    const QByteArray valid = publish(newArchive(), "0.2.0");
    const QJsonObject first =
        QJsonDocument::fromJson(valid).object().value("releases").toArray().first().toObject();
    QByteArray flipped = QByteArray::fromBase64(first.value("signature").toString().toLatin1());
    flipped[10] = char(flipped[10] ^ 1);
    const qint64 size = qint64(first.value("size").toDouble());
    QFile archive(newArchive());
    archive.open(QIODevice::ReadOnly);
    const std::string archiveBytes = archive.readAll().toStdString();

    const auto serveFeed = [&](const QByteArray& feed) {
        server.serve("/feed.json", test::TestServer::json(feed.toStdString()));
    };
    const auto feedWith = [&](const QString& key, const QJsonValue& value) {
        return [&, key, value] { serveFeed(withReleaseMember(valid, key, value)); };
    };
    const QString unverified = "error The update could not be verified. | ";
    const struct
    {
        const char* name;
        std::function<void()> prepare;
        QStringList expected; // the start of the last window shown, any of these
    } cases[] = {
        {"wrong signature",
         feedWith("signature", QString::fromLatin1(flipped.toBase64())),
         {unverified + "The download is not signed with the Calmcove release key."}},
        {"size larger than the download",
         feedWith("size", double(size + 1000)),
         {unverified + "The download's size differs from the update feed's."}},
        {"size smaller than the download",
         feedWith("size", double(size - 1)),
         {unverified + "The download is larger than the update feed says."}},
        {"wrong digest",
         feedWith("sha256", QString(64, QLatin1Char('0'))),
         {unverified + "The download's SHA-256 digest differs from the update feed's."}},
        {"truncated download",
         [&] {
             serveFeed(valid);
             server.serve("/calmcove.tar.xz", {archiveBytes,
                                               "application/octet-stream",
                                               200,
                                               {},
                                               std::chrono::milliseconds(0),
                                               archiveBytes.size() / 2});
         },
         {unverified + "The download's size differs from the update feed's.",
          "error The update could not be downloaded. | "}},
        {"older version", feedWith("version", "0.0.9"), {"upToDate 0.1.0"}},
        {"minimum version excludes ours",
         feedWith("minimumVersion", "0.1.5"),
         {"error Calmcove 0.2.0 cannot be installed over this version. | It needs Calmcove 0.1.5 "
          "or newer; you have 0.1.0. Get it from the Calmcove website."}},
        // Not a JSON type, so that the server sends it uncompressed.
        {"feed of 100 MB",
         [&] { server.serve("/feed.json", {std::string(100 * 1000 * 1000, ' ')}); },
         {"error Calmcove could not check for updates. | The update feed is too large."}},
        {"feed not JSON",
         [&] {
             server.serve("/feed.json", {"<html>Not here</html>", "text/html"});
         },
         {"error Calmcove could not check for updates. | The update feed is not a JSON object."}},
    };
    const auto oldTree = test::snapshotTree(treePath);
    for (const auto& example : cases) {
        SCOPED_TRACE(example.name);
        server.serve("/calmcove.tar.xz", {archiveBytes});
        example.prepare();
        driver.shown.clear();
        const auto updater = makeUpdater();
        checkAndWait(*updater);

        ASSERT_FALSE(driver.shown.isEmpty());
        const QString last = driver.shown.last();
        EXPECT_TRUE(std::any_of(example.expected.begin(), example.expected.end(),
                                [&](const QString& start) { return last.startsWith(start); }))
            << driver.shown.join("\n").toStdString();
        EXPECT_EQ(test::snapshotTree(treePath), oldTree);
        EXPECT_TRUE(besideTree().isEmpty()) << besideTree().join(", ").toStdString();
        EXPECT_TRUE(leftoverDownloads().isEmpty());
        EXPECT_FALSE(updater->pendingInstall());
        EXPECT_TRUE(relaunched.isEmpty());
    }
}

TEST_F(UpdaterTest, APackagedTreeIsToldAboutReleasesAndNeverTouched)
{
    QDir(treePath).removeRecursively();
    test::writeReleaseTree(treePath, "0.1.0", 200000, /*releaseMarker=*/false);
    const auto packaged = test::snapshotTree(treePath);
    publish(newArchive(), "0.2.0");

    for (UpdateReply answer : {UpdateReply::openReleasePage, UpdateReply::install}) {
        driver.answer = answer;
        driver.shown.clear();
        const auto updater = makeUpdater();
        checkAndWait(*updater);
        EXPECT_EQ(driver.shown, QStringList({"checking", "found 0.2.0 releasePage"}));
    }
    EXPECT_EQ(server.requestCount("/calmcove.tar.xz"), 0);
    EXPECT_EQ(test::snapshotTree(treePath), packaged);
    EXPECT_TRUE(besideTree().isEmpty());

    if (::geteuid() == 0)
        return; // root writes anywhere: the permission case needs an ordinary user
    QDir(treePath).removeRecursively();
    test::writeReleaseTree(treePath, "0.1.0");
    QFile::setPermissions(home.path(), QFile::ReadOwner | QFile::ExeOwner);
    driver.shown.clear();
    const auto updater = makeUpdater();
    checkAndWait(*updater);
    QFile::setPermissions(home.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_EQ(driver.shown, QStringList({"checking", "found 0.2.0 releasePage"}));
}

TEST_F(UpdaterTest, BackgroundChecksFollowTheScheduleAndTheNetwork)
{
    publish(newArchive(), "0.2.0");
    defaults->setValue(Updater::automaticChecksKey, true);
    defaults->setValue(Updater::automaticUpdatesKey, false);
    const QDateTime lastCheck = clock->now().addSecs(-3600);
    defaults->setDate(Updater::lastCheckTimeKey, lastCheck);
    clock->park = [](std::chrono::nanoseconds delay) { return delay >= std::chrono::seconds(60); };
    driver.answer.reset(); // the background find waits for the user

    const auto updater = makeUpdater();
    updater->start();
    // The due time comes from the stored last check: it survives restarts.
    ASSERT_TRUE(updater->nextScheduledCheck());
    EXPECT_EQ(updater->nextScheduledCheck()->toSecsSinceEpoch(),
              lastCheck.addSecs(Updater::defaultCheckInterval).toSecsSinceEpoch());
    EXPECT_EQ(clock->delays(), QList<double>{86400.0 - 3600.0});

    // Overdue and offline: no request until the network returns.
    monitor->setOnline(false);
    clock->releaseParked();
    test::runUntil([] { return false; }, 300);
    EXPECT_EQ(server.requestCount("/feed.json"), 0);
    EXPECT_TRUE(updater->canCheckForUpdates());
    monitor->setOnline(true);
    ASSERT_TRUE(test::runUntil([&] { return driver.shown.size() == 1; }, 30000));
    EXPECT_EQ(driver.shown, QStringList{"found 0.2.0 install background"});
    EXPECT_EQ(delegate.calls, QStringList{"show background"});
    EXPECT_FALSE(updater->canCheckForUpdates());
    EXPECT_EQ(server.requestCount("/calmcove.tar.xz"), 0);

    // Turning checks off and resetting the cycle leaves no timer.
    updater->setAutomaticallyChecksForUpdates(false);
    updater->resetUpdateCycle();
    EXPECT_FALSE(updater->nextScheduledCheck());

    // A short interval is lengthened, an overdue check waits at least a minute.
    defaults->setValue(Updater::automaticChecksKey, true);
    defaults->setValue(Updater::checkIntervalKey, 10);
    defaults->setDate(Updater::lastCheckTimeKey, clock->now().addSecs(-7200));
    clock->clearDelays();
    const auto another = makeUpdater();
    another->start();
    EXPECT_EQ(clock->delays(), QList<double>{60.0});
}

TEST_F(UpdaterTest, AutomaticUpdatesInstallQuietlyAtQuit)
{
    publish(newArchive(), "0.2.0");
    defaults->setValue(Updater::automaticChecksKey, true);
    defaults->setValue(Updater::automaticUpdatesKey, true);
    clock->park = [](std::chrono::nanoseconds delay) { return delay >= std::chrono::hours(1); };
    const auto oldTree = test::snapshotTree(treePath);

    const auto updater = makeUpdater();
    updater->start();
    ASSERT_TRUE(test::runUntil([&] { return updater->pendingInstall().has_value(); }, 60000));
    EXPECT_TRUE(driver.shown.isEmpty());
    EXPECT_EQ(test::snapshotTree(treePath), oldTree);
    EXPECT_TRUE(test::runUntil([&] { return updater->canCheckForUpdates(); }));
    // The next check is a day after this one.
    EXPECT_EQ(updater->nextScheduledCheck(),
              defaults->date(Updater::lastCheckTimeKey)->addSecs(Updater::defaultCheckInterval));

    updater->installPendingUpdate();
    EXPECT_EQ(test::snapshotTree(treePath), newTreeSnapshot());
    EXPECT_TRUE(relaunched.isEmpty());
}

TEST_F(UpdaterTest, CancellingTheCheckEndsTheSessionQuietly)
{
    publish(newArchive(), "0.2.0");
    server.serve("/feed.json",
                 {"{}", "application/json", 200, {}, std::chrono::milliseconds(3000)});
    const auto updater = makeUpdater();
    updater->checkForUpdates();
    ASSERT_TRUE(driver.cancelChecking);
    driver.cancelChecking();
    EXPECT_TRUE(test::runUntil([&] { return updater->canCheckForUpdates(); }, 1000));
    EXPECT_EQ(driver.shown, QStringList({"checking", "dismiss"}));
}

} // namespace
} // namespace calmcove
