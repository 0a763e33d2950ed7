// The update feed's format and the choice of release: what a feed must hold, and which
// release a running version moves to (numeric versions, minimum versions).

#include "support/qtprinters.h"
#include "updates/updatefeed.h"

#include <gtest/gtest.h>

namespace calmcove {
namespace {

QByteArray releaseJSON(const QString& version, const QString& extra = {})
{
    return QStringLiteral(R"({"version": "%1", "url": "https://example.org/calmcove-%1.tar.xz",
        "size": 1000, "sha256": "%2", "signature": "%3", "publishedAt": "2026-01-01T00:00:00Z",
        "notes": "n"%4})")
        .arg(version, QString(64, QLatin1Char('a')),
             QString::fromLatin1(QByteArray(64, 'x').toBase64()), extra)
        .toUtf8();
}

TEST(UpdateFeedTest, RefusesFeedsThatAreNotOurs)
{
    const struct
    {
        QByteArray json;
        const char* message;
    } cases[] = {
        {"not json", "The update feed is not a JSON object."},
        {"[]", "The update feed is not a JSON object."},
        {"{}", "The update feed has no \"releases\" list."},
        {"{\"releases\": [" + releaseJSON("1.x") + "]}",
         "Release 1 of the update feed: \"version\" is not a version number"},
        {"{\"releases\": [" + releaseJSON("1.0").replace("https://", "http://") + "]}",
         "Release 1 of the update feed: \"url\" is not an https address"},
        {"{\"releases\": [" + releaseJSON("1.0").replace("1000", "10.5") + "]}",
         "Release 1 of the update feed: \"size\" is not a byte count"},
        {"{\"releases\": [" + releaseJSON("1.0").replace("\"aaaa", "\"zzzz") + "]}",
         "Release 1 of the update feed: \"sha256\" is not a SHA-256 digest"},
        {"{\"releases\": [" + releaseJSON("1.0", ", \"minimumVersion\": 3") + "]}",
         "Release 1 of the update feed: \"minimumVersion\" is not a version number"},
        {"{\"releases\": [" + releaseJSON("1.0") + ", " + releaseJSON("2.0").replace("eHh4", "!!") +
             "]}",
         "Release 2 of the update feed: \"signature\" is not a base64 Ed25519 signature"},
        {QByteArray(maximumUpdateFeedSize + 1, ' '), "The update feed is too large."},
    };
    for (const auto& example : cases) {
        const auto feed = decodeUpdateFeed(example.json);
        ASSERT_FALSE(feed) << example.message;
        EXPECT_EQ(feed.error().message, QString::fromUtf8(example.message));
    }
}

TEST(UpdateFeedTest, EncodingRoundTrips)
{
    const auto feed = decodeUpdateFeed(
        "{\"releases\": [" + releaseJSON("1.2", ", \"minimumVersion\": \"1.0\"") + ", " +
        releaseJSON("1.10", ", \"releasePage\": \"https://example.org/1.10\"") + "]}");
    ASSERT_TRUE(feed) << feed.error().message.toStdString();
    const auto again = decodeUpdateFeed(encodeUpdateFeed(*feed));
    ASSERT_TRUE(again);
    ASSERT_EQ(again->releases.size(), 2);
    EXPECT_EQ(again->releases[0].version, "1.10"); // newest first
    EXPECT_EQ(again->releases[1], feed->releases[0]);
    EXPECT_EQ(again->releases[0], feed->releases[1]);
}

TEST(UpdateFeedTest, ChoosesTheNewestReleaseOurVersionMayMoveTo)
{
    const auto release = [](const QString& version, std::optional<QString> minimum = {}) {
        UpdateRelease value;
        value.version = version;
        value.minimumVersion = std::move(minimum);
        return value;
    };
    const struct
    {
        QList<UpdateRelease> releases;
        const char* running;
        const char* chosen;      // "" for none
        const char* unreachable; // "" for none
    } cases[] = {
        {{release("1.9"), release("1.10")}, "1.2", "1.10", ""},
        {{release("1.2.0")}, "1.2", "", ""},
        {{release("1.1")}, "1.2", "", ""},
        {{release("2.0", "1.5")}, "1.2", "", "2.0"},
        {{release("1.4", "1.0"), release("2.0", "1.5")}, "1.2", "1.4", "2.0"},
        {{release("1.4"), release("1.3", "1.5")}, "1.2", "1.4", ""},
        {{release("1.3", "1.2")}, "1.2", "1.3", ""},
    };
    for (const auto& example : cases) {
        const UpdateChoice choice = chooseUpdate(UpdateFeed{example.releases}, example.running);
        EXPECT_EQ(choice.release ? choice.release->version : QString(), example.chosen)
            << example.running;
        EXPECT_EQ(choice.unreachable ? choice.unreachable->version : QString(), example.unreachable)
            << example.running;
    }
}

} // namespace
} // namespace calmcove
