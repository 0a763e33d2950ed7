#pragma once

// The vendor's side of application updates: the release signing key pair, and adding a
// signed release archive to the update feed.

#include "tools/pack/packresult.h"
#include "updates/updatefeed.h"

#include <QString>

namespace calmcove {

struct ReleaseKeyFiles
{
    QString privateKey; // calmcove-release-key.pem: PKCS#8 (mode 0600)
    QString publicKey;  // calmcove-release-key.pub.pem: SubjectPublicKeyInfo
};

// Makes a new Ed25519 key pair in `directory` (created when missing). Refuses to replace
// an existing private key, which would orphan every installed copy trusting it.
PackResult<ReleaseKeyFiles> makeReleaseKeys(const QString& directory);

struct ReleaseOptions
{
    QString archivePath;
    QString feedPath; // created when missing
    QString privateKeyPath;
    QString version;
    QUrl archiveURL; // https
    QString notes;
    std::optional<QString> minimumVersion;
    std::optional<QUrl> releasePage;
};

struct ReleaseReport
{
    UpdateRelease release;
    bool replacedEarlierEntry = false;
    int releaseCount = 0;
};

// Signs the archive's bytes and adds the release to the feed, replacing an entry of the
// same version; the feed is written atomically.
PackResult<ReleaseReport> publishRelease(const ReleaseOptions& options);

} // namespace calmcove
