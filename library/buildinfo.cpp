#include "buildinfo.h"

#include "library/buildconfig.h"

namespace calmcove {

const BuildInfo& BuildInfo::current()
{
    static const BuildInfo info{
        QString::fromUtf8(BuildConfig::version),
        QString::fromUtf8(BuildConfig::audioPackCompatibilityVersion),
        QString::fromUtf8(BuildConfig::audioPackIndexURL),
        QString::fromUtf8(BuildConfig::audioPackManifestURL),
    };
    return info;
}

QString BuildInfo::value(const QString& key) const
{
    if (key == QLatin1String("CalmcoveAudioPackIndexURL"))
        return audioPackIndexURL;
    if (key == QLatin1String("CalmcoveAudioPackManifestURL"))
        return audioPackManifestURL;
    if (key == QLatin1String("CalmcoveAudioPackCompatibilityVersion"))
        return audioPackCompatibilityVersion;
    if (key == QLatin1String("CFBundleShortVersionString"))
        return version;
    return {};
}

QString BuildInfo::compatibilityVersion() const
{
    if (!audioPackCompatibilityVersion.isEmpty())
        return audioPackCompatibilityVersion;
    if (!version.isEmpty())
        return version;
    return QStringLiteral("0");
}

} // namespace calmcove
