#pragma once

// The platform services the application root creates and hands to the runtime, which
// passes them on to the stores that use them; none is chosen inside a store. Not owned:
// each must outlive the runtime. A null service is absent (e.g. without a monitor the
// network counts as always usable).

#include <optional>
#include <QDBusConnection>

namespace calmcove {

class HotkeyBackend;
class NetworkPathMonitor;

struct PlatformServices
{
    NetworkPathMonitor* networkMonitor = nullptr;
    // The session bus, for the desktop's media controls (MPRIS); absent or disconnected,
    // they are off.
    std::optional<QDBusConnection> sessionBus;
    // The session's global hotkeys; without one every shortcut registration is refused.
    HotkeyBackend* hotkeys = nullptr;
};

} // namespace calmcove
