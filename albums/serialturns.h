#pragma once

// One operation at a time, in the order they started: the album store's imports await their
// turn here before they read the albums, and hand it on when they end, so that two imports
// started back to back never interleave their changes or index writes. Main thread only.

#include <coroutine>
#include <deque>
#include <memory>
#include <QObject>
#include <utility>

namespace calmcove {

class SerialTurns
{
    struct State
    {
        bool busy = false;
        std::deque<std::coroutine_handle<>> waiting;
        // Waiters are resumed through the event loop in this object's name; once the turns
        // are gone, those still queued are never resumed.
        QObject context;
    };

public:
    // Held while an operation runs; destroying it lets the next one start. May outlive the
    // SerialTurns.
    class Turn
    {
    public:
        explicit Turn(std::weak_ptr<State> state) : m_state(std::move(state)) {}
        Turn(Turn&& other) noexcept = default;
        Turn(const Turn&) = delete;
        Turn& operator=(const Turn&) = delete;
        Turn& operator=(Turn&&) = delete;
        ~Turn() { passOn(m_state.lock()); }

    private:
        std::weak_ptr<State> m_state;
    };

    class Awaiter
    {
    public:
        explicit Awaiter(std::shared_ptr<State> state) : m_state(std::move(state)) {}
        bool await_ready() const noexcept { return !m_state->busy; }
        void await_suspend(std::coroutine_handle<> waiting) { m_state->waiting.push_back(waiting); }
        Turn await_resume() noexcept
        {
            // Taken at once when free; a resumed waiter was handed the busy turn by passOn().
            m_state->busy = true;
            return Turn(m_state);
        }

    private:
        std::shared_ptr<State> m_state;
    };

    // co_await next() resumes once every operation that asked before has ended, and gives
    // the Turn that this one holds until it ends.
    Awaiter next() { return Awaiter(m_state); }
    bool isBusy() const { return m_state->busy; }

private:
    static void passOn(const std::shared_ptr<State>& state);

    std::shared_ptr<State> m_state = std::make_shared<State>();
};

} // namespace calmcove
