#pragma once

// Picks the hotkey facility of the running session, first that works: the desktop
// portal's global shortcuts in a Wayland session that offers them, X11 key grabs when the
// application runs on an X server, else the fallback that refuses every registration.

#include "hotkeybackend.h"
#include "portalhotkeybackend.h"

#include <memory>

namespace calmcove {

std::unique_ptr<HotkeyBackend> createHotkeyBackend(const QList<HotkeyDescription>& descriptions,
                                                   QObject* parent = nullptr);

} // namespace calmcove
