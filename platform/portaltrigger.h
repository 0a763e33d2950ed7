#pragma once

// Key combinations in the words of the desktop portal: the preferred-trigger syntax of the
// XDG shortcuts standard ("CTRL+ALT+space") that we hand to the portal, and the
// trigger descriptions desktops hand back ("Ctrl+Alt+Space", "<Control><Alt>space").

#include "hotkeybackend.h"

#include <optional>

namespace calmcove {

// The preferred trigger for `combination`; empty when its key has no keysym.
QString portalTrigger(HotkeyCombination combination);
// The combination a trigger text describes, or none when it names a key or modifier our
// vocabulary lacks.
std::optional<HotkeyCombination> parsePortalTrigger(const QString& text);

} // namespace calmcove
