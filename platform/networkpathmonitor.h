#pragma once

// The contract of a network-path monitor: it reports whether the machine's network is
// usable, constrained (low-data mode) and expensive (cellular, metered). The track library
// pauses its downloads while the path is unusable and resumes them when it returns; the
// URL downloader waits for connectivity while it is down. The application root creates one
// monitor and hands it to both. The system implementation is NetworkInformationMonitor;
// tests drive their own.

#include <functional>
#include <QtGlobal>

namespace calmcove {

struct NetworkPath
{
    bool satisfied = true; // a route to the network exists
    bool constrained = false;
    bool expensive = false;

    bool operator==(const NetworkPath&) const = default;
};

class NetworkPathMonitor
{
public:
    using Handler = std::function<void(const NetworkPath&)>;
    using WatchID = quint64;

    virtual ~NetworkPathMonitor() = default;

    // Starts reporting to `handler`: the current path soon after this call (never from
    // inside it) and every change after that, always on the main thread. Any number of
    // watchers may watch at once.
    virtual WatchID watch(Handler handler) = 0;
    // Ends the reports of `id`: its handler is never called again. Unknown ids are ignored.
    virtual void unwatch(WatchID id) = 0;
};

} // namespace calmcove
