#pragma once

// The system's network-path monitor on Linux, through QNetworkInformation: the
// NetworkManager backend when it loads, else glib (reachability only); with neither, the
// network counts as always usable. Usable means anything but disconnected; expensive means
// a cellular transport or a metered connection; constrained means a metered connection as
// NetworkManager reports it.

#include "library/networkpathmonitor.h"

#include <QObject>

namespace calmcove {

class NetworkInformationMonitor : public QObject, public NetworkPathMonitor
{
    Q_OBJECT
public:
    explicit NetworkInformationMonitor(QObject* parent = nullptr);
    ~NetworkInformationMonitor() override;

    void start(Handler handler) override;
    void stop() override;

    // The current path as the loaded backend reports it.
    static NetworkPath currentPath();

private:
    void report();

    Handler m_handler;
    bool m_reportPending = false;
};

} // namespace calmcove
