#include "httptransfer.h"

#include <QCoro/QCoroNetworkReply>
#include <QCoro/QCoroTimer>
#include <QNetworkReply>
#include <QPointer>
#include <QTimer>
#include <vector>

namespace calmcove {

namespace {

// The most one read takes from a reply at a time.
constexpr qint64 readLimit = 1024 * 1024;
// What Qt may hold of one reply's body before it stops reading the socket.
constexpr qint64 replyBufferSize = 2 * readLimit;

bool isNetworkLayerError(QNetworkReply::NetworkError code)
{
    // Qt numbers transport and proxy failures below 200; content, protocol and server
    // errors (which carry an HTTP status) from 200 on.
    return code != QNetworkReply::NoError && int(code) < 200;
}

// Qt's own redirect following merges the headers of the redirect into those of the
// final answer when they share a connection ("Content-Length: 0, 4194307"), so each hop
// is a request of its own here. As many hops as Qt allows.
constexpr int maxRedirects = 50;

bool isRedirect(int statusCode)
{
    return statusCode == 301 || statusCode == 302 || statusCode == 303 || statusCode == 307 ||
           statusCode == 308;
}

// Where a redirect answer points, or nothing for any other answer.
std::optional<QUrl> redirectTarget(const QNetworkReply& reply)
{
    const QVariant status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid() || !isRedirect(status.toInt()))
        return std::nullopt;
    const QByteArray location = reply.rawHeader("Location");
    if (location.isEmpty())
        return std::nullopt;
    return reply.url().resolved(QUrl::fromEncoded(location.trimmed()));
}

// Like Qt's default policy: http and https only, and never from https down to http.
std::optional<TransferError> refusedRedirect(const QUrl& from, const QUrl& to, int hops)
{
    if (hops > maxRedirects)
        return TransferError{QNetworkReply::TooManyRedirectsError,
                             QStringLiteral("The link redirects too many times.")};
    const QString scheme = to.scheme().toLower();
    const bool secure = scheme == QLatin1String("https");
    if (!to.isValid() || (!secure && scheme != QLatin1String("http")) ||
        (from.scheme().toLower() == QLatin1String("https") && !secure))
        return TransferError{QNetworkReply::InsecureRedirectError,
                             QStringLiteral("The link redirects to an unsafe address.")};
    return std::nullopt;
}

TransferError timedOut()
{
    return {QNetworkReply::TimeoutError, QStringLiteral("The request timed out.")};
}

DownloadResponse responseOf(const QNetworkReply& reply)
{
    DownloadResponse response;
    const QVariant status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        return response;
    response.url = reply.url();
    response.statusCode = status.toInt();
    const QByteArray contentType = reply.rawHeader("Content-Type");
    const qsizetype parameters = contentType.indexOf(';');
    response.mimeType =
        QString::fromLatin1((parameters < 0 ? contentType : contentType.left(parameters)).trimmed())
            .toLower();
    bool isNumber = false;
    const qint64 length = reply.rawHeader("Content-Length").trimmed().toLongLong(&isNumber);
    response.expectedContentLength = isNumber && length >= 0 ? length : -1;
    response.headers = reply.rawHeaderPairs();
    return response;
}

void abortEach(const std::set<QNetworkReply*>& replies)
{
    // Aborting resumes the waiting coroutines at once, and they change the set.
    std::vector<QPointer<QNetworkReply>> inFlight(replies.begin(), replies.end());
    for (const QPointer<QNetworkReply>& reply : inFlight) {
        if (reply)
            reply->abort();
    }
}

} // namespace

TransferError cancelledTransfer()
{
    return {QNetworkReply::OperationCanceledError, QStringLiteral("The download was cancelled.")};
}

void TransferGroup::abort()
{
    m_aborted = true;
    abortEach(m_inFlight);
}

HttpTransfers::HttpTransfers(std::chrono::milliseconds resourceTimeout,
                             std::shared_ptr<const std::atomic<bool>> offline)
    : m_resourceTimeout(resourceTimeout), m_offline(std::move(offline))
{}

HttpTransfers::~HttpTransfers() = default;

QNetworkAccessManager& HttpTransfers::network()
{
    // Made on first use so that it belongs to the worker thread that uses it.
    if (!m_network) {
        m_network = std::make_unique<QNetworkAccessManager>();
        m_network->setAutoDeleteReplies(false);
    }
    return *m_network;
}

void HttpTransfers::shutDown()
{
    m_shutDown = true;
    abortEach(m_inFlight);
}

QCoro::Task<TransferOutcome> HttpTransfers::send(QNetworkRequest request, QByteArray method,
                                                 BodySink* sink,
                                                 std::shared_ptr<TransferGroup> group)
{
    using namespace std::chrono;
    const auto deadline = steady_clock::now() + m_resourceTimeout;
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    int hops = 0;
    for (;;) {
        const auto left = duration_cast<milliseconds>(deadline - steady_clock::now());
        auto attempt = sendOnce(request, method, sink, group, std::max(left, milliseconds(1)));
        TransferOutcome outcome = co_await std::move(attempt);

        if (outcome.redirect) {
            if (auto refused = refusedRedirect(request.url(), *outcome.redirect, ++hops)) {
                outcome.error = std::move(*refused);
                co_return outcome;
            }
            request.setUrl(*outcome.redirect);
            continue;
        }

        // Waiting for connectivity: only while nothing answered (so the sink has seen
        // nothing) and the system says the network is down.
        const auto* failure = outcome.error ? std::get_if<TransferError>(&*outcome.error) : nullptr;
        if (!failure || outcome.response.statusCode != 0 || !isConnectivityError(failure->code) ||
            !m_offline->load() || m_shutDown || (group && group->isAborted()) ||
            steady_clock::now() + seconds(1) >= deadline)
            co_return outcome;
        co_await QCoro::sleepFor(seconds(1));
        if (m_shutDown || (group && group->isAborted()))
            co_return TransferOutcome{{}, DownloadError(cancelledTransfer()), {}};
    }
}

QCoro::Task<TransferOutcome> HttpTransfers::sendOnce(QNetworkRequest request, QByteArray method,
                                                     BodySink* sink,
                                                     std::shared_ptr<TransferGroup> group,
                                                     std::chrono::milliseconds resourceTimeout)
{
    if (m_shutDown || (group && group->isAborted()))
        co_return TransferOutcome{{}, DownloadError(cancelledTransfer()), {}};

    QNetworkReply* reply =
        method == "HEAD" ? network().head(request) : network().sendCustomRequest(request, method);
    // Qt buffers without bound whatever this thread has not read yet; bounded, the socket
    // waits for us instead, and memory stays flat however fast the server sends.
    reply->setReadBufferSize(replyBufferSize);
    m_inFlight.insert(reply);
    if (group)
        group->m_inFlight.insert(reply);

    bool began = false;
    std::optional<QUrl> redirect;
    std::optional<DownloadError> stopError;
    bool resourceTimedOut = false;

    const auto stop = [&stopError, reply](DownloadError error) {
        stopError = std::move(error);
        // Aborting finishes the reply, which resumes this coroutine at once: leave the
        // signal handler first.
        QMetaObject::invokeMethod(reply, &QNetworkReply::abort, Qt::QueuedConnection);
    };
    const auto receive = [&, reply] {
        if (stopError) {
            reply->skip(reply->bytesAvailable());
            return;
        }
        if (!began) {
            began = true;
            redirect = redirectTarget(*reply);
            if (sink && !redirect) {
                if (auto error = sink->begin(responseOf(*reply))) {
                    stop(std::move(*error));
                    return;
                }
            }
        }
        while (reply->bytesAvailable() > 0) {
            // Whole chunks as Qt received them: usually shared, not copied.
            const QByteArray data = reply->read(readLimit);
            if (data.isEmpty())
                break;
            if (!sink || redirect)
                continue;
            if (auto error = sink->write(data.constData(), data.size())) {
                stop(std::move(*error));
                return;
            }
        }
    };
    const QMetaObject::Connection reading =
        QObject::connect(reply, &QNetworkReply::readyRead, reply, receive);

    // A real timer: it bounds a request, it is no part of any schedule.
    QTimer resourceTimer;
    resourceTimer.setSingleShot(true);
    QObject::connect(&resourceTimer, &QTimer::timeout, reply, [&resourceTimedOut, reply] {
        resourceTimedOut = true;
        QMetaObject::invokeMethod(reply, &QNetworkReply::abort, Qt::QueuedConnection);
    });
    resourceTimer.start(resourceTimeout);

    co_await reply;

    QObject::disconnect(reading);
    resourceTimer.stop();
    m_inFlight.erase(reply);
    if (group)
        group->m_inFlight.erase(reply);
    reply->deleteLater();

    const QNetworkReply::NetworkError code = reply->error();
    const bool answered = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
    if (!stopError && answered && !isNetworkLayerError(code)) {
        receive(); // the bytes that arrived together with the end
        if (!began && !stopError) {
            began = true;
            redirect = redirectTarget(*reply);
            if (sink && !redirect)
                stopError = sink->begin(responseOf(*reply));
        }
    }

    TransferOutcome outcome{responseOf(*reply), std::nullopt, std::nullopt};
    if (stopError)
        outcome.error = std::move(stopError);
    else if (resourceTimedOut)
        outcome.error = DownloadError(timedOut());
    else if (code == QNetworkReply::OperationCanceledError)
        // We abort replies only at shutdown or with their group; any other abort is Qt's
        // transfer time-out.
        outcome.error = DownloadError(
            m_shutDown || (group && group->isAborted()) ? cancelledTransfer() : timedOut());
    else if (isNetworkLayerError(code) || (code != QNetworkReply::NoError && !answered))
        outcome.error = DownloadError(TransferError{code, reply->errorString()});
    else
        outcome.redirect = redirect;
    co_return outcome;
}

} // namespace calmcove
