#pragma once

// The system's network-path monitor on Linux, through QNetworkInformation: the
// NetworkManager backend when it loads, else glib (reachability only); with neither, the
// network counts as always usable. Usable means anything but disconnected; expensive means
// a cellular transport or a metered connection; constrained means a metered connection as
// NetworkManager reports it. Main thread only.

#include "platform/networkpathmonitor.h"

#include <map>
#include <QObject>
#include <set>

namespace calmcove {

class NetworkInformationMonitor : public QObject, public NetworkPathMonitor
{
    Q_OBJECT
public:
    explicit NetworkInformationMonitor(QObject* parent = nullptr);
    ~NetworkInformationMonitor() override;

    WatchID watch(Handler handler) override;
    void unwatch(WatchID id) override;

    // The current path as the loaded backend reports it.
    static NetworkPath currentPath();

private:
    void followBackend();
    // Queues one report: to every watcher after a change, else to the new ones only.
    void scheduleReport(bool changed);

    std::map<WatchID, Handler> m_watchers;
    std::set<WatchID> m_unreported;
    WatchID m_nextID = 1;
    bool m_followsBackend = false;
    bool m_reportPending = false;
    bool m_changePending = false;
};

} // namespace calmcove
