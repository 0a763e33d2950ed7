#pragma once

// The build configuration the track library reads (what the Info dictionary holds on other
// platforms): the application version, the pack compatibility version and the default
// server addresses. An empty value counts as absent.

#include <QString>

namespace calmcove {

struct BuildInfo
{
    QString version;
    QString audioPackCompatibilityVersion;
    QString audioPackIndexURL;
    QString audioPackManifestURL;

    // The values compiled into this build.
    static const BuildInfo& current();

    // The value stored under an Info dictionary key ("CalmcoveAudioPackIndexURL",
    // "CalmcoveAudioPackManifestURL", "CalmcoveAudioPackCompatibilityVersion",
    // "CFBundleShortVersionString"); empty for an absent value or an unknown key.
    QString value(const QString& key) const;

    // The compatibility version if present, else the version if present, else "0".
    QString compatibilityVersion() const;
};

} // namespace calmcove
