#include "fasturldownloader.h"

#include "downloader/downloadengine.h"

#include <coroutine>
#include <optional>

namespace calmcove {

namespace {

// The one result a download() awaits; filled from the event loop of the caller's thread.
class ResultSlot
{
public:
    using Result = DownloadMailbox::Result;

    void fill(Result result)
    {
        m_result = std::move(result);
        if (m_waiter)
            std::exchange(m_waiter, {}).resume();
    }

    struct Awaiter
    {
        ResultSlot* slot;
        bool await_ready() const noexcept { return slot->m_result.has_value(); }
        void await_suspend(std::coroutine_handle<> waiter) noexcept { slot->m_waiter = waiter; }
        Result await_resume() const { return std::move(*slot->m_result); }
    };

    Awaiter wait() { return Awaiter{this}; }

private:
    std::optional<Result> m_result;
    std::coroutine_handle<> m_waiter;
};

} // namespace

FastURLDownloader::FastURLDownloader(QObject* parent)
    : FastURLDownloader(Timeouts{}, nullptr, parent)
{}

FastURLDownloader::FastURLDownloader(Timeouts timeouts, NetworkPathMonitor* networkMonitor,
                                     QObject* parent)
    : QObject(parent), m_offline(std::make_shared<std::atomic<bool>>(false)),
      m_networkMonitor(networkMonitor)
{
    // Waiting for connectivity needs to know when the system has no network at all;
    // without a monitor the network counts as present.
    if (m_networkMonitor) {
        m_networkWatch = m_networkMonitor->watch(
            [offline = m_offline](const NetworkPath& path) { offline->store(!path.satisfied); });
    }
    m_thread.setObjectName(QStringLiteral("Calmcove downloader"));
    m_engine = new DownloadEngine(timeouts, m_offline);
    m_engine->moveToThread(&m_thread);
    m_thread.start();
}

FastURLDownloader::~FastURLDownloader()
{
    if (m_networkMonitor)
        m_networkMonitor->unwatch(m_networkWatch);
    QMetaObject::invokeMethod(
        m_engine, [engine = m_engine] { engine->shutDown(); }, Qt::QueuedConnection);
    m_thread.wait();
    delete m_engine;
}

QCoro::Task<DownloadResult<FastURLDownloader::DownloadedFile>>
FastURLDownloader::download(QUrl url, ProgressHandler progressHandler, DownloadLimits limits)
{
    // The worker posts to this object; it lives on the caller's thread until the result
    // is in, whatever becomes of the downloader meanwhile.
    auto* receiver = new QObject;
    ResultSlot slot;
    auto mailbox = std::make_shared<DownloadMailbox>(
        receiver, std::move(progressHandler),
        [&slot](DownloadMailbox::Result result) { slot.fill(std::move(result)); });
    QMetaObject::invokeMethod(
        m_engine,
        [engine = m_engine, url, limits = std::move(limits), mailbox] {
            engine->start(url, limits, mailbox);
        },
        Qt::QueuedConnection);

    DownloadResult<DownloadedFile> result = co_await slot.wait();
    mailbox->detach();
    // We are inside a call queued on `receiver`.
    receiver->deleteLater();
    co_return result;
}

} // namespace calmcove
