#pragma once

// The update feed: the JSON document in which the vendor lists the program's releases
// (archive address, byte size, SHA-256, Ed25519 signature of the archive's bytes,
// publication date, the lowest version that may update to it, and short notes), and the
// rule that picks the release a running version should move to. Pure functions.

#include "model/expected.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

namespace calmcove {

struct UpdateRelease
{
    QString version;
    QUrl archiveURL;                       // https only
    qint64 byteCount = 0;                  // the archive's exact size
    QString sha256;                        // 64 lower-case hexadecimal digits
    QByteArray signature;                  // the raw 64-byte Ed25519 signature
    QString publishedAt;                   // ISO 8601 UTC
    std::optional<QString> minimumVersion; // none: any version may update to it
    QString notes;
    std::optional<QUrl> releasePage; // where users of packaged installs get the release

    bool operator==(const UpdateRelease&) const = default;
};

struct UpdateFeed
{
    QList<UpdateRelease> releases; // newest first when written by encodeUpdateFeed

    bool operator==(const UpdateFeed&) const = default;
};

// Feeds are a few kilobytes; a larger answer is refused before it is parsed.
inline constexpr qint64 maximumUpdateFeedSize = 1024 * 1024;
// No release archive of ours comes near this; a feed that claims more is refused.
inline constexpr qint64 maximumUpdateArchiveSize = qint64(2) * 1024 * 1024 * 1024;

// The reason a document is no valid feed, naming the release and member at fault.
struct UpdateFeedError
{
    QString message;
    bool operator==(const UpdateFeedError&) const = default;
};

Expected<UpdateFeed, UpdateFeedError> decodeUpdateFeed(const QByteArray& json);
// Pretty-printed, releases sorted newest first, signature in base64.
QByteArray encodeUpdateFeed(const UpdateFeed& feed);

// What the feed offers a running version.
struct UpdateChoice
{
    // The newest release newer than the running one whose minimum version allows it.
    std::optional<UpdateRelease> release;
    // The newest release newer than the running one, when its minimum version excludes
    // the running one (and nothing newer is eligible).
    std::optional<UpdateRelease> unreachable;
};

// Versions compare numerically part by part (1.10 > 1.9, 1.2 == 1.2.0).
UpdateChoice chooseUpdate(const UpdateFeed& feed, const QString& runningVersion);

} // namespace calmcove
