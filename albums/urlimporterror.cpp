#include "urlimporterror.h"

namespace calmcove {

QString errorDescription(URLImportError error)
{
    switch (error) {
    case URLImportError::invalidURL:
        return QStringLiteral("Enter a valid http or https URL.");
    case URLImportError::unsupportedAudioURL:
        return QStringLiteral("This URL did not return a supported audio file. Try MP3, M4A, "
                              "AAC, WAV, AIFF, or FLAC.");
    case URLImportError::downloadFailed:
        return QStringLiteral("The download finished without a usable file.");
    case URLImportError::downloadProbeFailed:
        return QStringLiteral("Could not inspect this download before starting.");
    case URLImportError::parallelDownloadUnsupported:
        return QStringLiteral("This server does not support parallel download.");
    }
    return {};
}

} // namespace calmcove
