#pragma once

// Work handed to a thread pool whose result comes back as a QFuture, which a coroutine on the
// main thread co_awaits: it resumes on the main thread, so the result reaches a store there.

#include <QCoro/QCoroFuture>

#include <memory>
#include <QFuture>
#include <QPromise>
#include <QThreadPool>
#include <type_traits>

namespace calmcove {

// Runs `work` (copyable, no arguments, returns a value) on `pool`. A pool that is destroyed
// first still runs it (QThreadPool waits for its tasks), so the future always finishes.
template <typename Work>
QFuture<std::invoke_result_t<Work>> runOnWorker(QThreadPool& pool, Work work)
{
    using Result = std::invoke_result_t<Work>;
    auto promise = std::make_shared<QPromise<Result>>();
    QFuture<Result> future = promise->future();
    promise->start();
    pool.start([promise, work = std::move(work)]() mutable {
        promise->addResult(work());
        promise->finish();
    });
    return future;
}

} // namespace calmcove
