#pragma once

// The contract of a network-path monitor: it reports whether the machine's network is
// usable, constrained (low-data mode) and expensive (cellular, metered). The track library
// pauses its downloads while the path is unusable and resumes them when it returns. The
// system implementation lives in platform/ (QNetworkInformation); tests drive their own.

#include <functional>

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

    virtual ~NetworkPathMonitor() = default;

    // Starts reporting: `handler` receives the current path soon after this call (never
    // from inside it) and every change after that, always on the main thread.
    virtual void start(Handler handler) = 0;
    // Stops reporting; the handler is never called again. Also done by the destructor.
    virtual void stop() = 0;
};

} // namespace calmcove
