#include "serialturns.h"

#include <QTimer>

namespace calmcove {

void SerialTurns::passOn(const std::shared_ptr<State>& state)
{
    if (!state)
        return;
    if (state->waiting.empty()) {
        state->busy = false;
        return;
    }
    const std::coroutine_handle<> next = state->waiting.front();
    state->waiting.pop_front();
    // Resumed from the event loop, not from inside the ending operation's clean-up; the turn
    // stays busy meanwhile so that nobody overtakes the waiter.
    QTimer::singleShot(0, &state->context, [next] { next.resume(); });
}

} // namespace calmcove
