// calmcove-pack's release commands as a vendor uses them: standard PEM keys that openssl
// reads, signatures that openssl verifies, and a feed that keeps one entry per version.

#include "updatetesting.h"

#include "support/qtprinters.h"
#include "updates/updatefeed.h"

#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

namespace calmcove {
namespace {

int runOpenssl(const QStringList& arguments)
{
    QProcess openssl;
    openssl.start("openssl", arguments);
    return openssl.waitForFinished(30000) ? openssl.exitCode() : -1;
}

TEST(ReleaseToolTest, KeysAndSignaturesAreStandardAndTheFeedKeepsOneEntryPerVersion)
{
    test::ReleaseWorkshop workshop;
    const QString keys = workshop.folder() + "/keys";
    const QString publicKey = keys + "/calmcove-release-key.pub.pem";
    const auto othersMayRead = QFile::ReadGroup | QFile::ReadOther;
    EXPECT_FALSE(QFileInfo(workshop.privateKey()).permissions() & othersMayRead);
    EXPECT_TRUE(QFileInfo(publicKey).permissions() & QFile::ReadOther);
    EXPECT_EQ(runOpenssl({"pkey", "-in", workshop.privateKey(), "-noout"}), 0);
    EXPECT_EQ(runOpenssl({"pkey", "-pubin", "-in", publicKey, "-noout"}), 0);

    // A second key would orphan every installed copy: refused.
    QProcess again;
    again.start(QCoreApplication::applicationDirPath() + "/calmcove-pack",
                {"keygen", "--output", keys});
    ASSERT_TRUE(again.waitForFinished(30000));
    EXPECT_EQ(again.exitCode(), 1);

    const QString archive = workshop.makeArchive("0.3.0", 5000);
    const QString feedPath = workshop.folder() + "/feed/feed.json";
    const QUrl url("https://updates.example.org/calmcove-0.3.0-linux-x86_64.tar.xz");
    ASSERT_EQ(workshop.release(archive, feedPath, "0.3.0", url), "");
    ASSERT_EQ(workshop.release(archive, feedPath, "0.3.0", url, {"--minimum-version", "0.2"}), "");
    const QString older = workshop.makeArchive("0.2.1", 5000);
    ASSERT_EQ(workshop.release(older, feedPath, "0.2.1", url), "");
    EXPECT_NE(workshop.release(older, feedPath, "v2", url), "");

    const QByteArray document = test::readFile(feedPath);
    const auto feed = decodeUpdateFeed(document);
    ASSERT_TRUE(feed);
    ASSERT_EQ(feed->releases.size(), 2);
    const UpdateRelease& newest = feed->releases.first();
    EXPECT_EQ(newest.version, "0.3.0");
    EXPECT_EQ(newest.minimumVersion, "0.2");
    EXPECT_EQ(newest.archiveURL, url);
    EXPECT_EQ(newest.byteCount, QFileInfo(archive).size());
    EXPECT_EQ(newest.notes, "Calmer than ever.");

    const QString signature = workshop.folder() + "/signature";
    test::writeFile(signature, newest.signature);
    EXPECT_EQ(runOpenssl({"pkeyutl", "-verify", "-pubin", "-inkey", publicKey, "-rawin", "-in",
                          archive, "-sigfile", signature}),
              0);
    EXPECT_NE(runOpenssl({"pkeyutl", "-verify", "-pubin", "-inkey", publicKey, "-rawin", "-in",
                          older, "-sigfile", signature}),
              0);
}

} // namespace
} // namespace calmcove
