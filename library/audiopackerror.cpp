#include "audiopackerror.h"

namespace calmcove {

AudioPackError AudioPackError::httpStatus(int statusCode, std::optional<double> retryAfter)
{
    return {Case::httpStatus, statusCode, retryAfter, {}};
}

AudioPackError AudioPackError::invalidFile(const QString& fileName)
{
    return {Case::invalidFile, 0, std::nullopt, fileName};
}

AudioPackError AudioPackError::invalidManifest(const QString& message)
{
    return {Case::invalidManifest, 0, std::nullopt, message};
}

AudioPackError AudioPackError::unsupportedAppVersion(const QString& version)
{
    return {Case::unsupportedAppVersion, 0, std::nullopt, version};
}

AudioPackError AudioPackError::missingManifestURL()
{
    return {Case::missingManifestURL, 0, std::nullopt, {}};
}

QString AudioPackError::errorDescription() const
{
    switch (kind) {
    case Case::httpStatus:
        return QStringLiteral("The audio library server returned HTTP %1.").arg(statusCode);
    case Case::invalidFile:
        return text + QStringLiteral(" did not pass verification.");
    case Case::invalidManifest:
        return text;
    case Case::unsupportedAppVersion:
        return QStringLiteral(
                   "Update Calmcove to version %1 or newer to install this track library.")
            .arg(text);
    case Case::missingManifestURL:
        return QStringLiteral("No audio library URL is configured.");
    }
    return text;
}

QString errorDescription(const LibraryError& error)
{
    struct Describe
    {
        QString operator()(const AudioPackError& e) const { return e.errorDescription(); }
        QString operator()(const DecodingError& e) const { return e.message; }
        QString operator()(const NetworkError& e) const { return e.message; }
        QString operator()(const FileError& e) const { return e.message; }
        QString operator()(const CancelledError&) const
        {
            return QStringLiteral("The operation was cancelled.");
        }
    };
    return std::visit(Describe{}, error);
}

bool isConnectivityError(const LibraryError& error)
{
    const auto* network = std::get_if<NetworkError>(&error);
    if (!network)
        return false;
    return isConnectivityError(network->code);
}

} // namespace calmcove
