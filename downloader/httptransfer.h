#pragma once

// The requests of the downloader, one at a time each: redirects followed, a streamed body
// handed to a sink as it arrives, a resource time-out, waiting for connectivity while the system
// reports no network, and one switch that aborts every request in flight when the downloader shuts
// down. Lives on the downloader's worker thread and is used only there.

#include "downloader/downloadresult.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <QCoro/QCoroTask>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <set>

namespace calmcove {

// Receives the body of one answer. Either call may stop the transfer by returning an
// error, which becomes the transfer's error.
class BodySink
{
public:
    virtual ~BodySink() = default;
    // Once, when the final answer's headers are known, before any body byte. Not called
    // when no HTTP answer came.
    virtual std::optional<DownloadError> begin(const DownloadResponse& response) = 0;
    virtual std::optional<DownloadError> write(const char* data, qint64 size) = 0;
};

struct TransferOutcome
{
    DownloadResponse response; // statusCode 0 when no HTTP answer came
    // A failure below HTTP (an HTTP error status is no failure here) or the sink's error.
    std::optional<DownloadError> error;
    // Where a redirect answer points; only sendOnce() leaves this set, send() follows it.
    std::optional<QUrl> redirect;
};

// Requests that end together: aborting the group aborts its requests in flight and
// refuses new ones, which fail as cancelled.
class TransferGroup
{
public:
    void abort();
    bool isAborted() const { return m_aborted; }

private:
    friend class HttpTransfers;
    std::set<QNetworkReply*> m_inFlight;
    bool m_aborted = false;
};

class HttpTransfers
{
public:
    // `offline` tells whether the system knows the network to be down; connectivity
    // failures are retried while it is, until the resource time-out.
    HttpTransfers(std::chrono::milliseconds resourceTimeout,
                  std::shared_ptr<const std::atomic<bool>> offline);
    ~HttpTransfers();

    // Sends `request` with `method` ("HEAD" or "GET"); body bytes go to `sink` (none for
    // HEAD), which must outlive the transfer. Never throws; after shutDown() or the
    // group's abort() it fails at once as cancelled.
    QCoro::Task<TransferOutcome> send(QNetworkRequest request, QByteArray method, BodySink* sink,
                                      std::shared_ptr<TransferGroup> group = {});

    // Aborts every request in flight and refuses new ones.
    void shutDown();
    bool isShutDown() const { return m_shutDown; }

private:
    QCoro::Task<TransferOutcome> sendOnce(QNetworkRequest request, QByteArray method,
                                          BodySink* sink, std::shared_ptr<TransferGroup> group,
                                          std::chrono::milliseconds resourceTimeout);
    QNetworkAccessManager& network();

    std::chrono::milliseconds m_resourceTimeout;
    std::shared_ptr<const std::atomic<bool>> m_offline;
    std::unique_ptr<QNetworkAccessManager> m_network;
    std::set<QNetworkReply*> m_inFlight;
    bool m_shutDown = false;
};

// The text of a transfer cancelled by the downloader's shutdown.
TransferError cancelledTransfer();

} // namespace calmcove
