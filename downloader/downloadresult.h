#pragma once

// What a download reports instead of throwing: either its value or the error that
// prevented it. The downloader's failures are its own; the URL import maps them to the
// messages it shows.

#include "model/expected.h"
#include "platform/networkerrors.h"

#include <optional>
#include <QByteArray>
#include <QList>
#include <QNetworkReply>
#include <QString>
#include <QUrl>
#include <utility>
#include <variant>

namespace calmcove {

// The HTTP answer a download ended with, as far as one came.
struct DownloadResponse
{
    QUrl url;           // the final URL, after redirects
    int statusCode = 0; // 0 when no HTTP answer came
    QString mimeType;   // lower-case media type without parameters; empty when none was sent
    qint64 expectedContentLength = -1; // the Content-Length header; -1 when absent
    QList<std::pair<QByteArray, QByteArray>> headers;

    // The first header of that name (compared without regard to case); empty when absent.
    QByteArray header(QByteArrayView name) const;
    bool isSuccess() const { return statusCode >= 200 && statusCode <= 299; }

    bool operator==(const DownloadResponse&) const = default;
};

// A failure the downloader itself recognised.
enum class DownloadFailure
{
    invalidURL,                  // not an http(s) URL
    downloadFailed,              // the transfer ended without a usable file
    probeFailed,                 // the HEAD probe got no usable answer
    parallelDownloadUnsupported, // the server does not serve the ranges as asked
    fileTooLarge,                // declared or written length above the size cap
    notEnoughDiskSpace           // a folder's free space would fall below its reserve
};

// A transfer that failed below HTTP: refused, dropped, timed out, TLS, cancelled because
// the downloader went away, ...
struct TransferError
{
    QNetworkReply::NetworkError code = QNetworkReply::UnknownNetworkError;
    QString message;
    bool operator==(const TransferError&) const = default;
};

// A temporary file or folder that could not be created, written, read or joined.
struct FileSystemError
{
    QString message;
    bool operator==(const FileSystemError&) const = default;
};

using DownloadError = std::variant<DownloadFailure, TransferError, FileSystemError>;

// A developer's description of the error, for diagnostics; not a text for the user.
QString describeDownloadError(const DownloadError& error);

// Either a value or the error that prevented it.
template <typename T> class [[nodiscard]] DownloadResult : public Expected<T, DownloadError>
{
public:
    using Expected<T, DownloadError>::Expected;
    DownloadResult(DownloadFailure error) : Expected<T, DownloadError>(DownloadError(error)) {}
    DownloadResult(TransferError error)
        : Expected<T, DownloadError>(DownloadError(std::move(error)))
    {}
    DownloadResult(FileSystemError error)
        : Expected<T, DownloadError>(DownloadError(std::move(error)))
    {}
};

} // namespace calmcove
