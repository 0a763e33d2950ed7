#include "networkinformationmonitor.h"

#include <QNetworkInformation>
#include <QTimer>

#include <utility>
#include <vector>

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
    if (QNetworkInformation* info = QNetworkInformation::instance())
        info->disconnect(this);
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

NetworkPathMonitor::WatchID NetworkInformationMonitor::watch(Handler handler)
{
    const WatchID id = m_nextID++;
    m_watchers.emplace(id, std::move(handler));
    m_unreported.insert(id);
    followBackend();
    scheduleReport(false);
    return id;
}

void NetworkInformationMonitor::unwatch(WatchID id)
{
    m_watchers.erase(id);
    m_unreported.erase(id);
}

void NetworkInformationMonitor::followBackend()
{
    if (m_followsBackend)
        return;
    m_followsBackend = true;
    if (QNetworkInformation* info = loadBackend()) {
        // The backend lives on the main thread, so its signals arrive there; a change may
        // come as several signals, which one queued report gathers.
        const auto changed = [this] { scheduleReport(true); };
        connect(info, &QNetworkInformation::reachabilityChanged, this, changed);
        connect(info, &QNetworkInformation::transportMediumChanged, this, changed);
        connect(info, &QNetworkInformation::isMeteredChanged, this, changed);
    }
}

void NetworkInformationMonitor::scheduleReport(bool changed)
{
    m_changePending = m_changePending || changed;
    if (m_reportPending)
        return;
    m_reportPending = true;
    QTimer::singleShot(0, this, [this] {
        m_reportPending = false;
        const bool toEveryone = std::exchange(m_changePending, false);
        const std::set<WatchID> unreported = std::exchange(m_unreported, {});
        const NetworkPath path = currentPath();
        std::vector<WatchID> ids;
        for (const auto& [id, handler] : m_watchers) {
            if (toEveryone || unreported.contains(id))
                ids.push_back(id);
        }
        // A handler may unwatch itself or others: look each one up again.
        for (const WatchID id : ids) {
            if (const auto found = m_watchers.find(id); found != m_watchers.end())
                found->second(path);
        }
    });
}

} // namespace calmcove
