#pragma once

// The failures of URL imports and of the downloader that fetches them. Each case's
// description is the exact text the import shows in the job's row.

#include <QString>

namespace calmcove {

enum class URLImportError
{
    invalidURL,
    unsupportedAudioURL,
    downloadFailed,
    downloadProbeFailed,
    parallelDownloadUnsupported
};

// The exact text shown to the user.
QString errorDescription(URLImportError error);

} // namespace calmcove
