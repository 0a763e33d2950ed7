#pragma once

// The errors of the track library and the result type its operations return. Every
// failure ends in the store's status or update state as its description; none is thrown.

#include "model/expected.h"
#include "platform/networkerrors.h"

#include <QNetworkReply>
#include <QString>

#include <optional>
#include <utility>
#include <variant>

namespace calmcove {

// A failure the track library itself names: a server status, a file that failed
// verification, an invalid document, a pack too new for this build, no server address.
struct AudioPackError
{
    enum class Case
    {
        httpStatus,
        invalidFile,
        invalidManifest,
        unsupportedAppVersion,
        missingManifestURL
    };

    Case kind = Case::missingManifestURL;
    int statusCode = 0;               // httpStatus
    std::optional<double> retryAfter; // httpStatus: seconds from the Retry-After header
    QString text;                     // file name, message or required version

    static AudioPackError httpStatus(int statusCode, std::optional<double> retryAfter = {});
    static AudioPackError invalidFile(const QString& fileName);
    static AudioPackError invalidManifest(const QString& message);
    static AudioPackError unsupportedAppVersion(const QString& version);
    static AudioPackError missingManifestURL();

    // The exact text shown to the user.
    QString errorDescription() const;

    bool operator==(const AudioPackError&) const = default;
};

// A document that is not JSON of the expected shape (a missing key, a wrong type, a URL
// that does not parse).
struct DecodingError
{
    QString message;
    bool operator==(const DecodingError&) const = default;
};

// A transfer that failed below HTTP: refused, dropped, timed out, TLS, ...
struct NetworkError
{
    QNetworkReply::NetworkError code = QNetworkReply::UnknownNetworkError;
    QString message;
    bool operator==(const NetworkError&) const = default;
};

// A file-system operation that failed (create, delete, move, read, write).
struct FileError
{
    QString message;
    bool operator==(const FileError&) const = default;
};

// The owner went away or cancelled the work; nothing is reported for it.
struct CancelledError
{
    bool operator==(const CancelledError&) const = default;
};

using LibraryError =
    std::variant<AudioPackError, DecodingError, NetworkError, FileError, CancelledError>;

QString errorDescription(const LibraryError& error);

// True for the transfer errors that mean "the network is not usable right now": host not
// found, connection refused, remote host closed, timeout, temporary network failure and
// network session failure.
bool isConnectivityError(const LibraryError& error);

// Either a value or the error that prevented it.
template <typename T> class [[nodiscard]] Result : public Expected<T, LibraryError>
{
public:
    using Expected<T, LibraryError>::Expected;
    Result(AudioPackError error) : Expected<T, LibraryError>(LibraryError(std::move(error))) {}
};

template <> class [[nodiscard]] Result<void>
{
public:
    Result() = default;
    Result(LibraryError error) : m_error(std::move(error)) {}
    Result(AudioPackError error) : m_error(LibraryError(std::move(error))) {}

    bool ok() const { return !m_error; }
    explicit operator bool() const { return ok(); }
    const LibraryError& error() const { return *m_error; }

private:
    std::optional<LibraryError> m_error;
};

} // namespace calmcove
