#pragma once

// Small building blocks for the library's coroutines: a cancellation switch that wakes
// every waiter at once (the store pulls it when it is destroyed, so no coroutine frame is
// left suspended), a one-shot wake-up a coroutine can await, and a clock whose time and
// timers tests replace (a 30 s server back-off must take no time in a test).
// Main thread only.
//
// GCC 12 destroys the temporaries of a full-expression that contains co_await twice
// (GCC PR 100611), which corrupts reference counts. Coroutines of this library therefore
// call a coroutine in a statement of its own and then await the returned task:
//     auto fetching = fetchIndex(url);
//     const Result<AudioPackIndex> index = co_await std::move(fetching);

#include <QCoro/QCoroTask>
#include <QDateTime>
#include <QObject>

#include <chrono>
#include <coroutine>
#include <functional>
#include <map>
#include <optional>

namespace calmcove {

// A one-way switch. cancel() runs every registered callback synchronously, once.
class Cancellation
{
public:
    class Registration
    {
    public:
        Registration() = default;
        Registration(Cancellation* owner, int id) : m_owner(owner), m_id(id) {}
        Registration(Registration&& other) noexcept
            : m_owner(std::exchange(other.m_owner, nullptr)), m_id(other.m_id)
        {}
        Registration& operator=(Registration&&) = delete;
        ~Registration();

    private:
        Cancellation* m_owner = nullptr;
        int m_id = 0;
    };

    Cancellation() = default;
    Cancellation(const Cancellation&) = delete;
    Cancellation& operator=(const Cancellation&) = delete;

    bool isCancelled() const { return m_cancelled; }
    void cancel();
    // `callback` runs when cancel() is called while the registration lives; at once if
    // the switch is already pulled.
    [[nodiscard]] Registration onCancel(std::function<void()> callback);

private:
    bool m_cancelled = false;
    int m_nextID = 1;
    std::map<int, std::function<void()>> m_callbacks;
};

// A one-shot event a single coroutine awaits: `bool fired = co_await wake.wait();`. The
// first fire() decides the value and resumes the waiting coroutine synchronously, so
// whoever fires must not touch anything of the waiter's afterwards.
class Wake
{
public:
    struct Awaiter
    {
        Wake* wake;
        bool await_ready() const noexcept { return wake->m_value.has_value(); }
        void await_suspend(std::coroutine_handle<> waiter) noexcept { wake->m_waiter = waiter; }
        bool await_resume() const noexcept { return *wake->m_value; }
    };

    Wake() = default;
    Wake(const Wake&) = delete;
    Wake& operator=(const Wake&) = delete;

    Awaiter wait() { return Awaiter{this}; }
    bool hasFired() const { return m_value.has_value(); }
    void fire(bool value);

private:
    std::optional<bool> m_value;
    std::coroutine_handle<> m_waiter;
};

// Wall-clock time and timers. Subclasses in tests move time by hand.
class LibraryClock
{
public:
    virtual ~LibraryClock() = default;

    virtual QDateTime now() const;
    // Calls `callback` on the main thread once `delay` has passed, unless `context` is
    // destroyed first. Never calls it from inside this call.
    virtual void schedule(std::chrono::nanoseconds delay, QObject* context,
                          std::function<void()> callback);
};

// Suspends for `delay` on `clock`. True when the time passed; false when `cancellation`
// was pulled first (or already pulled).
QCoro::Task<bool> sleepFor(LibraryClock& clock, std::chrono::nanoseconds delay,
                           Cancellation& cancellation);

} // namespace calmcove
