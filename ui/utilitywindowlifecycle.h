#pragma once

// The taskbar presence of the program's utility windows (the album manager, windows
// titled "Calmcove"). On Linux every window has its own taskbar entry, so switching the
// application's presence does nothing; the walk that decides it is kept so the rule
// stays in one place.

namespace calmcove::UtilityWindowLifecycle {

// Shows the program as a regular application while a utility window opens.
void showApplicationIcon();
// 0.1 s later (after a closing window has gone), hides the program's application icon
// again unless a visible window is the album manager or is titled "Calmcove".
void hideDockIconWhenNoUtilityWindowIsVisible();
// Whether a visible utility window is open now.
bool isUtilityWindowVisible();

} // namespace calmcove::UtilityWindowLifecycle
