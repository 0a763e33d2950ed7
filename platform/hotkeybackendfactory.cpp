#include "hotkeybackendfactory.h"

#include "nonehotkeybackend.h"
#include "x11hotkeybackend.h"

namespace calmcove {
namespace {

bool isWaylandSession()
{
    return qEnvironmentVariableIsSet("WAYLAND_DISPLAY") ||
           qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland");
}

} // namespace

std::unique_ptr<HotkeyBackend> createHotkeyBackend(const QList<HotkeyDescription>& descriptions,
                                                   QObject* parent)
{
    if (isWaylandSession() && PortalHotkeyBackend::isOffered(QDBusConnection::sessionBus()))
        return std::make_unique<PortalHotkeyBackend>(QDBusConnection::sessionBus(), descriptions,
                                                     parent);
    if (std::unique_ptr<X11HotkeyBackend> x11 = X11HotkeyBackend::create(parent))
        return x11;
    return std::make_unique<NoneHotkeyBackend>(parent);
}

} // namespace calmcove
