#pragma once

// The network side of the track library: where the library server's documents live,
// how each request is sent (one QNetworkAccessManager, no caches or cookies, fixed
// headers and time-outs, the system CAs plus an optional PEM file for self-hosted
// servers), which failures are retried and after how long, how the newest pack that
// suits this build is chosen, and how one track is streamed to a temporary file while it
// is hashed. Owned by AudioPackStore; main thread only.

#include "library/asyncwait.h"
#include "library/audiopackformat.h"
#include "library/buildinfo.h"

#include <QCoro/QCoroTask>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace calmcove {

class UserDefaults;

// A track file fetched into the temporary directory; the caller owns and deletes it.
struct DownloadedFile
{
    QString path;
    qint64 size = 0;
    QString sha256; // lower-case hexadecimal, computed while the bytes arrived
};

struct AudioPackClientTimeouts
{
    // Longest silence of a document or track transfer before it fails as timed out.
    std::chrono::milliseconds documentRequest{60000};
    std::chrono::milliseconds trackRequest{120000};
    // Longest time a single transfer may take in all.
    std::chrono::milliseconds resource{600000};
};

class AudioPackClient
{
public:
    static inline const QString indexURLKey = QStringLiteral("CalmcoveAudioPackIndexURL");
    static inline const QString manifestURLKey = QStringLiteral("CalmcoveAudioPackManifestURL");
    // A PEM file of extra certificate authorities to trust.
    static inline const QString caCertificatesFileKey =
        QStringLiteral("CalmcoveAudioPackCACertificatesFile");
    static inline const QByteArray userAgent = QByteArrayLiteral("Calmcove/1.0");
    // Every operation gets this many attempts.
    static constexpr int networkAttempts = 4;

    using Timeouts = AudioPackClientTimeouts;

    // `hasNetwork` tells the retry policy whether the network path is usable;
    // `cancellation` ends every transfer and back-off at once when pulled.
    AudioPackClient(UserDefaults& defaults, BuildInfo buildInfo, LibraryClock& clock,
                    Cancellation& cancellation, std::function<bool()> hasNetwork,
                    Timeouts timeouts = {});
    ~AudioPackClient();

    // Settings value, then build configuration, of "CalmcoveAudioPackIndexURL": the first
    // that is not blank once trimmed and parses as a URL.
    std::optional<QUrl> audioPackIndexURL() const;
    // The same for "CalmcoveAudioPackManifestURL"; missingManifestURL when neither gives one.
    Result<QUrl> manifestURL() const;
    bool manifestURLIsConfigured() const;

    // httpStatus for a status outside 200–299 (Retry-After read as decimal seconds when
    // it is a number); nothing otherwise. `statusCode` is 0 when the reply had none.
    static std::optional<AudioPackError> validateHTTPResponse(int statusCode,
                                                              const QByteArray& retryAfter);

    // The wait before attempt `attempt` + 1 after `error`, or none when the error ends the
    // operation: offline connectivity errors, the last attempt, and errors that are not
    // 408/429/500/502/503/504 or connectivity errors. Retry-After (> 0) wins, capped at
    // 30 s; else min(2^(attempt-1), 8) s plus up to 0.35 s of jitter.
    std::optional<std::chrono::nanoseconds> retryDelay(const LibraryError& error, int attempt,
                                                       int attempts) const;

    // Runs `operation` up to max(maxAttempts, 1) times under the retry policy.
    template <typename T>
    QCoro::Task<Result<T>>
    retryingNetworkOperation(int attempts, std::function<QCoro::Task<Result<T>>()> operation);

    // GET, status check, decode and validate, all retried as one attempt.
    QCoro::Task<Result<AudioPackIndex>> fetchIndex(QUrl url);
    QCoro::Task<Result<AudioPackManifest>> fetchManifest(QUrl url);
    // The newest compatible pack of the index, falling back to the manifest URL.
    QCoro::Task<Result<AudioPackManifest>> fetchLatestCompatibleManifest();
    // Streams the track into "<temp>/Calmcove-AudioPack-<UUID>.download". Fails as
    // invalidFile as soon as the body grows past byteCount, so no server can fill the disk.
    QCoro::Task<Result<DownloadedFile>> download(AudioPackTrack track);

    QString compatibilityVersion() const { return m_buildInfo.compatibilityVersion(); }

private:
    std::optional<QUrl> configuredURL(const QString& key) const;
    QNetworkRequest makeRequest(const QUrl& url, const QByteArray& accept,
                                std::chrono::milliseconds timeout) const;
    // One GET. Body bytes of a 2xx answer go to `sink`, which may stop the transfer by
    // returning an error. Ends with the status check.
    using Sink = std::function<std::optional<LibraryError>(const char* data, qint64 size)>;
    QCoro::Task<Result<void>> transfer(QNetworkRequest request, Sink sink);
    QCoro::Task<Result<QByteArray>> fetchDocument(QUrl url);
    QCoro::Task<Result<AudioPackIndex>> fetchIndexOnce(QUrl url);
    QCoro::Task<Result<AudioPackManifest>> fetchManifestOnce(QUrl url);
    QCoro::Task<Result<AudioPackManifest>> fetchConfiguredManifest();
    QCoro::Task<Result<DownloadedFile>> downloadOnce(AudioPackTrack track, QString destination);

    UserDefaults& m_defaults;
    BuildInfo m_buildInfo;
    LibraryClock& m_clock;
    Cancellation& m_cancellation;
    std::function<bool()> m_hasNetwork;
    Timeouts m_timeouts;
    std::unique_ptr<QNetworkAccessManager> m_network;
};

template <typename T>
QCoro::Task<Result<T>>
AudioPackClient::retryingNetworkOperation(int attempts,
                                          std::function<QCoro::Task<Result<T>>()> operation)
{
    attempts = std::max(attempts, 1);
    for (int attempt = 1;; ++attempt) {
        auto attempting = operation();
        Result<T> result = co_await std::move(attempting);
        if (result.ok() || m_cancellation.isCancelled())
            co_return result;
        const auto delay = retryDelay(result.error(), attempt, attempts);
        if (!delay)
            co_return result;
        auto sleeping = sleepFor(m_clock, *delay, m_cancellation);
        if (!co_await std::move(sleeping))
            co_return LibraryError(CancelledError{});
    }
}

} // namespace calmcove
