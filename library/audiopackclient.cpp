#include "audiopackclient.h"

#include "library/filedigest.h"
#include "platform/apppaths.h"
#include "platform/userdefaults.h"

#include <QDir>
#include <QFile>
#include <QNetworkReply>
#include <QRandomGenerator>
#include <QSslConfiguration>
#include <QTimer>
#include <QUuid>

#include <algorithm>
#include <cmath>

namespace calmcove {

namespace {

// Documents are a few kilobytes; anything far larger is not one of ours.
constexpr qint64 maximumDocumentSize = 32 * 1024 * 1024;

bool isNetworkLayerError(QNetworkReply::NetworkError code)
{
    // Qt numbers transport and proxy failures below 200; content, protocol and server
    // errors (which carry an HTTP status) from 200 on.
    return code != QNetworkReply::NoError && int(code) < 200;
}

} // namespace

AudioPackClient::AudioPackClient(UserDefaults& defaults, BuildInfo buildInfo, LibraryClock& clock,
                                 Cancellation& cancellation, std::function<bool()> hasNetwork,
                                 Timeouts timeouts)
    : m_defaults(defaults), m_buildInfo(std::move(buildInfo)), m_clock(clock),
      m_cancellation(cancellation), m_hasNetwork(std::move(hasNetwork)), m_timeouts(timeouts),
      m_network(std::make_unique<QNetworkAccessManager>())
{
    // No disk cache is set and cookies are neither sent nor stored (see makeRequest), so
    // nothing of a session outlives the process.
    m_network->setCookieJar(nullptr);
}

AudioPackClient::~AudioPackClient() = default;

std::optional<QUrl> AudioPackClient::configuredURL(const QString& key) const
{
    const QString candidates[] = {m_defaults.string(key).value_or(QString()),
                                  m_buildInfo.value(key)};
    for (const QString& candidate : candidates) {
        const QString trimmed = candidate.trimmed();
        if (trimmed.isEmpty())
            continue;
        const QUrl url(trimmed, QUrl::StrictMode);
        if (url.isValid())
            return url;
    }
    return std::nullopt;
}

std::optional<QUrl> AudioPackClient::audioPackIndexURL() const
{
    return configuredURL(indexURLKey);
}

Result<QUrl> AudioPackClient::manifestURL() const
{
    if (auto url = configuredURL(manifestURLKey))
        return *url;
    return AudioPackError::missingManifestURL();
}

bool AudioPackClient::manifestURLIsConfigured() const
{
    return configuredURL(manifestURLKey).has_value();
}

std::optional<AudioPackError> AudioPackClient::validateHTTPResponse(int statusCode,
                                                                    const QByteArray& retryAfter)
{
    if (statusCode == 0 || (statusCode >= 200 && statusCode <= 299))
        return std::nullopt;
    std::optional<double> seconds;
    bool isNumber = false;
    const double parsed = retryAfter.trimmed().toDouble(&isNumber);
    if (isNumber && !retryAfter.trimmed().isEmpty())
        seconds = parsed;
    return AudioPackError::httpStatus(statusCode, seconds);
}

std::optional<std::chrono::nanoseconds> AudioPackClient::retryDelay(const LibraryError& error,
                                                                    int attempt, int attempts) const
{
    const bool connectivity = isConnectivityError(error);
    if (connectivity && !m_hasNetwork())
        return std::nullopt;
    if (attempt >= attempts)
        return std::nullopt;
    const auto* packError = std::get_if<AudioPackError>(&error);
    const bool isStatus = packError && packError->kind == AudioPackError::Case::httpStatus;
    if (isStatus) {
        static constexpr int retryable[] = {408, 429, 500, 502, 503, 504};
        if (std::find(std::begin(retryable), std::end(retryable), packError->statusCode) ==
            std::end(retryable))
            return std::nullopt;
    } else if (!connectivity) {
        return std::nullopt;
    }

    double seconds = 0;
    if (isStatus && packError->retryAfter && *packError->retryAfter > 0) {
        seconds = std::min(*packError->retryAfter, 30.0);
    } else {
        seconds =
            std::min(std::pow(2.0, attempt - 1), 8.0) + QRandomGenerator::global()->bounded(0.35);
    }
    return std::chrono::nanoseconds(qint64(seconds * 1e9));
}

QNetworkRequest AudioPackClient::makeRequest(const QUrl& url, const QByteArray& accept,
                                             std::chrono::milliseconds timeout) const
{
    QNetworkRequest request(url);
    request.setRawHeader("User-Agent", userAgent);
    request.setRawHeader("Accept", accept);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    request.setTransferTimeout(int(timeout.count()));

    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    const QString extraAuthorities =
        m_defaults.string(caCertificatesFileKey).value_or(QString()).trimmed();
    if (!extraAuthorities.isEmpty())
        tls.addCaCertificates(extraAuthorities, QSsl::Pem);
    request.setSslConfiguration(tls);
    return request;
}

QCoro::Task<Result<void>> AudioPackClient::transfer(QNetworkRequest request, Sink sink)
{
    if (m_cancellation.isCancelled())
        co_return LibraryError(CancelledError{});

    QNetworkReply* reply = m_network->get(request);
    Wake finished;
    std::optional<LibraryError> stopError;
    bool timedOut = false;

    const auto statusIsSuccess = [reply] {
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        return !status.isValid() || (status.toInt() >= 200 && status.toInt() <= 299);
    };
    const QMetaObject::Connection reading =
        QObject::connect(reply, &QNetworkReply::readyRead, reply, [&, reply] {
            char buffer[64 * 1024];
            while (!stopError && reply->bytesAvailable() > 0) {
                const qint64 count = reply->read(buffer, sizeof buffer);
                if (count <= 0)
                    break;
                if (!statusIsSuccess())
                    continue; // an error page is not part of any file
                if (auto error = sink(buffer, count)) {
                    stopError = std::move(error);
                    // Aborting finishes the reply, which may resume the coroutine at once:
                    // nothing of this handler may run after it.
                    reply->abort();
                    return;
                }
            }
        });
    const QMetaObject::Connection finishing = QObject::connect(
        reply, &QNetworkReply::finished, reply, [&finished] { finished.fire(true); });

    // A real timer even in tests: it bounds a transfer, it is no part of any schedule.
    QTimer resourceTimer;
    resourceTimer.setSingleShot(true);
    QObject::connect(&resourceTimer, &QTimer::timeout, reply, [&timedOut, reply] {
        timedOut = true;
        // Aborting finishes the reply and resumes this coroutine, which owns the timer:
        // leave the timer's signal first.
        QMetaObject::invokeMethod(reply, &QNetworkReply::abort, Qt::QueuedConnection);
    });
    resourceTimer.start(m_timeouts.resource);
    const Cancellation::Registration registration =
        m_cancellation.onCancel([&finished] { finished.fire(false); });

    const bool completed = co_await finished.wait();
    // Only our own connections: Qt's network thread talks to the reply through others.
    QObject::disconnect(reading);
    QObject::disconnect(finishing);
    if (!completed) {
        reply->abort();
        reply->deleteLater();
        co_return LibraryError(CancelledError{});
    }
    reply->deleteLater();

    if (stopError)
        co_return *stopError;
    if (timedOut)
        co_return LibraryError(
            NetworkError{QNetworkReply::TimeoutError, QStringLiteral("The request timed out.")});
    const QNetworkReply::NetworkError code = reply->error();
    if (code == QNetworkReply::OperationCanceledError)
        // Only Qt's own transfer time-out aborts a reply that we did not abort.
        co_return LibraryError(
            NetworkError{QNetworkReply::TimeoutError, QStringLiteral("The request timed out.")});
    if (isNetworkLayerError(code))
        co_return LibraryError(NetworkError{code, reply->errorString()});
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (auto error = validateHTTPResponse(status.isValid() ? status.toInt() : 0,
                                          reply->rawHeader("Retry-After")))
        co_return *error;
    if (code != QNetworkReply::NoError)
        co_return LibraryError(NetworkError{code, reply->errorString()});
    co_return Result<void>();
}

QCoro::Task<Result<QByteArray>> AudioPackClient::fetchDocument(QUrl url)
{
    QByteArray body;
    const Sink collect = [&body](const char* data, qint64 size) -> std::optional<LibraryError> {
        if (body.size() + size > maximumDocumentSize)
            return DecodingError{QStringLiteral("The track library document is too large.")};
        body.append(data, size);
        return std::nullopt;
    };
    const QNetworkRequest request =
        makeRequest(url, "application/json", m_timeouts.documentRequest);
    auto sending = transfer(request, collect);
    const Result<void> sent = co_await std::move(sending);
    if (!sent)
        co_return sent.error();
    co_return body;
}

QCoro::Task<Result<AudioPackIndex>> AudioPackClient::fetchIndex(QUrl url)
{
    const std::function<QCoro::Task<Result<AudioPackIndex>>()> attempt = [this, url] {
        return fetchIndexOnce(url);
    };
    auto fetching = retryingNetworkOperation(networkAttempts, attempt);
    co_return co_await std::move(fetching);
}

QCoro::Task<Result<AudioPackIndex>> AudioPackClient::fetchIndexOnce(QUrl url)
{
    auto fetching = fetchDocument(url);
    const Result<QByteArray> body = co_await std::move(fetching);
    if (!body)
        co_return body.error();
    Result<AudioPackIndex> index = decodeAudioPackIndex(*body);
    if (!index)
        co_return index;
    if (auto invalid = validateIndex(*index))
        co_return *invalid;
    co_return index;
}

QCoro::Task<Result<AudioPackManifest>> AudioPackClient::fetchManifest(QUrl url)
{
    const std::function<QCoro::Task<Result<AudioPackManifest>>()> attempt = [this, url] {
        return fetchManifestOnce(url);
    };
    auto fetching = retryingNetworkOperation(networkAttempts, attempt);
    co_return co_await std::move(fetching);
}

QCoro::Task<Result<AudioPackManifest>> AudioPackClient::fetchManifestOnce(QUrl url)
{
    auto fetching = fetchDocument(url);
    const Result<QByteArray> body = co_await std::move(fetching);
    if (!body)
        co_return body.error();
    Result<AudioPackManifest> manifest = decodeAudioPackManifest(*body);
    if (!manifest)
        co_return manifest;
    if (auto invalid = validateManifest(*manifest, compatibilityVersion()))
        co_return *invalid;
    co_return manifest;
}

QCoro::Task<Result<AudioPackManifest>> AudioPackClient::fetchConfiguredManifest()
{
    const Result<QUrl> url = manifestURL();
    if (!url)
        co_return url.error();
    auto fetching = fetchManifest(*url);
    co_return co_await std::move(fetching);
}

QCoro::Task<Result<AudioPackManifest>> AudioPackClient::fetchLatestCompatibleManifest()
{
    const std::optional<QUrl> indexURL = audioPackIndexURL();
    if (!indexURL) {
        auto fallback = fetchConfiguredManifest();
        co_return co_await std::move(fallback);
    }

    auto fetchingIndex = fetchIndex(*indexURL);
    const Result<AudioPackIndex> index = co_await std::move(fetchingIndex);
    if (m_cancellation.isCancelled())
        co_return LibraryError(CancelledError{});
    if (!index) {
        if (!manifestURLIsConfigured())
            co_return index.error();
        auto fallback = fetchConfiguredManifest();
        co_return co_await std::move(fallback);
    }

    QList<AudioPackIndexEntry> entries;
    const QString compatibility = compatibilityVersion();
    for (const AudioPackIndexEntry& entry : index->packs) {
        if (!versionIsGreater(entry.minimumAppVersion, compatibility))
            entries.append(entry);
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const AudioPackIndexEntry& a, const AudioPackIndexEntry& b) {
                         if (const int order = standardCompare(a.version, b.version))
                             return order > 0;
                         return a.publishedAt.value_or(QString()) >
                                b.publishedAt.value_or(QString());
                     });
    if (entries.isEmpty()) {
        auto fallback = fetchConfiguredManifest();
        co_return co_await std::move(fallback);
    }

    auto fetchingManifest = fetchManifest(entries.first().manifestURL);
    Result<AudioPackManifest> manifest = co_await std::move(fetchingManifest);
    if (m_cancellation.isCancelled())
        co_return LibraryError(CancelledError{});
    if (!manifest && manifestURLIsConfigured()) {
        auto fallback = fetchConfiguredManifest();
        co_return co_await std::move(fallback);
    }
    co_return manifest;
}

QCoro::Task<Result<DownloadedFile>> AudioPackClient::download(AudioPackTrack track)
{
    // In Calmcove's own temporary folder, which the running instance clears at launch.
    const QString destination =
        AppPaths::temporaryDirectory() + QStringLiteral("/Calmcove-AudioPack-") +
        QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + QStringLiteral(".download");
    if (QFile::exists(destination) && !QFile::remove(destination))
        co_return LibraryError(FileError{QStringLiteral("Could not replace %1.").arg(destination)});

    const std::function<QCoro::Task<Result<DownloadedFile>>()> attempt =
        [this, track, destination] { return downloadOnce(track, destination); };
    auto downloading = retryingNetworkOperation(networkAttempts, attempt);
    Result<DownloadedFile> result = co_await std::move(downloading);
    if (!result)
        QFile::remove(destination);
    co_return result;
}

QCoro::Task<Result<DownloadedFile>> AudioPackClient::downloadOnce(AudioPackTrack track,
                                                                  QString destination)
{
    QFile file(destination);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        co_return LibraryError(FileError{
            QStringLiteral("Could not create %1: %2").arg(destination, file.errorString())});
    Sha256 hash;
    qint64 received = 0;
    const Sink store = [&](const char* data, qint64 size) -> std::optional<LibraryError> {
        received += size;
        if (received > track.byteCount)
            return AudioPackError::invalidFile(track.fileName);
        if (file.write(data, size) != size)
            return FileError{
                QStringLiteral("Could not write %1: %2").arg(destination, file.errorString())};
        hash.update(data, size);
        return std::nullopt;
    };
    const QNetworkRequest request = makeRequest(track.downloadURL, "*/*", m_timeouts.trackRequest);
    auto sending = transfer(request, store);
    const Result<void> sent = co_await std::move(sending);
    if (!sent)
        co_return sent.error();
    if (!file.flush()) // close() cannot report a failed final write
        co_return LibraryError(FileError{
            QStringLiteral("Could not write %1: %2").arg(destination, file.errorString())});
    file.close();
    co_return DownloadedFile{destination, received, hash.hexDigest()};
}

} // namespace calmcove
