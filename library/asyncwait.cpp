#include "asyncwait.h"

#include <QTimer>

#include <vector>

namespace calmcove {

Cancellation::Registration::~Registration()
{
    if (m_owner)
        m_owner->m_callbacks.erase(m_id);
}

void Cancellation::cancel()
{
    if (m_cancelled)
        return;
    m_cancelled = true;
    // A callback may resume a coroutine that drops other registrations; walk a snapshot
    // of the ids and skip those already gone.
    std::vector<int> ids;
    for (const auto& entry : m_callbacks)
        ids.push_back(entry.first);
    for (int id : ids) {
        const auto found = m_callbacks.find(id);
        if (found == m_callbacks.end())
            continue;
        const std::function<void()> callback = std::move(found->second);
        m_callbacks.erase(found);
        callback();
    }
}

Cancellation::Registration Cancellation::onCancel(std::function<void()> callback)
{
    if (m_cancelled) {
        callback();
        return {};
    }
    const int id = m_nextID++;
    m_callbacks.emplace(id, std::move(callback));
    return Registration(this, id);
}

void Wake::fire(bool value)
{
    if (m_value)
        return;
    m_value = value;
    if (const std::coroutine_handle<> waiter = std::exchange(m_waiter, {}))
        waiter.resume();
}

QDateTime LibraryClock::now() const
{
    return QDateTime::currentDateTimeUtc();
}

void LibraryClock::schedule(std::chrono::nanoseconds delay, QObject* context,
                            std::function<void()> callback)
{
    // Round up so that a timer never fires before its time. The timer belongs to the
    // context, so deleting the context cancels it.
    const auto milliseconds = std::chrono::ceil<std::chrono::milliseconds>(delay);
    auto* timer = new QTimer(context);
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer, &QTimer::timeout, context, std::move(callback));
    timer->start(std::max(milliseconds, std::chrono::milliseconds(0)));
}

QCoro::Task<bool> sleepFor(LibraryClock& clock, std::chrono::nanoseconds delay,
                           Cancellation& cancellation)
{
    if (cancellation.isCancelled())
        co_return false;
    Wake wake;
    auto* timerContext = new QObject;
    const Cancellation::Registration registration =
        cancellation.onCancel([&wake] { wake.fire(false); });
    clock.schedule(delay, timerContext, [&wake] { wake.fire(true); });
    const bool elapsed = co_await wake.wait();
    // A timer resumes this coroutine from inside its own event, where its context must not
    // be deleted yet; a cancellation comes from outside, and no event loop may follow it.
    if (elapsed)
        timerContext->deleteLater();
    else
        delete timerContext;
    co_return elapsed;
}

} // namespace calmcove
