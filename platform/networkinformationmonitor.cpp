#include "networkinformationmonitor.h"

#include <QNetworkInformation>
#include <QTimer>

namespace calmcove {

namespace {

QNetworkInformation* loadBackend()
{
    if (QNetworkInformation* loaded = QNetworkInformation::instance())
        return loaded;
    for (const char* name : {"networkmanager", "glib"}) {
        if (QNetworkInformation::loadBackendByName(QString::fromLatin1(name)))
            return QNetworkInformation::instance();
    }
    return nullptr;
}

bool isMeteredOnNetworkManager(QNetworkInformation* info)
{
    return info->supports(QNetworkInformation::Feature::Metered) && info->isMetered();
}

} // namespace

NetworkInformationMonitor::NetworkInformationMonitor(QObject* parent) : QObject(parent) {}

NetworkInformationMonitor::~NetworkInformationMonitor()
{
    stop();
}

NetworkPath NetworkInformationMonitor::currentPath()
{
    QNetworkInformation* info = loadBackend();
    if (!info)
        return {};
    NetworkPath path;
    path.satisfied = info->reachability() != QNetworkInformation::Reachability::Disconnected;
    const bool metered = isMeteredOnNetworkManager(info);
    path.expensive =
        metered || info->transportMedium() == QNetworkInformation::TransportMedium::Cellular;
    path.constrained = metered && info->backendName() == QLatin1String("networkmanager");
    return path;
}

void NetworkInformationMonitor::start(Handler handler)
{
    stop();
    m_handler = std::move(handler);
    if (QNetworkInformation* info = loadBackend()) {
        // The backend lives on the main thread, so its signals arrive there; a change may
        // come as several signals, which one queued report gathers.
        const auto schedule = [this] { report(); };
        connect(info, &QNetworkInformation::reachabilityChanged, this, schedule);
        connect(info, &QNetworkInformation::transportMediumChanged, this, schedule);
        connect(info, &QNetworkInformation::isMeteredChanged, this, schedule);
    }
    report();
}

void NetworkInformationMonitor::stop()
{
    m_handler = nullptr;
    if (QNetworkInformation* info = QNetworkInformation::instance())
        info->disconnect(this);
}

void NetworkInformationMonitor::report()
{
    if (m_reportPending)
        return;
    m_reportPending = true;
    QTimer::singleShot(0, this, [this] {
        m_reportPending = false;
        if (m_handler)
            m_handler(currentPath());
    });
}

} // namespace calmcove
