#include "testportal.h"

#include <QDBusMetaType>
#include <QTimer>

namespace calmcove::test {

TestPortal::TestPortal(const QString& busAddress)
    : m_bus(QDBusConnection::connectToBus(busAddress, QStringLiteral("test-portal")))
{
    qDBusRegisterMetaType<PortalShortcut>();
    qDBusRegisterMetaType<QList<PortalShortcut>>();
    m_thread.start();
    moveToThread(&m_thread);
    m_bus.registerService(PortalHotkeyBackend::service);
    m_bus.registerObject(PortalHotkeyBackend::path, this,
                         QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties);
}

TestPortal::~TestPortal()
{
    m_bus.unregisterObject(PortalHotkeyBackend::path);
    m_thread.quit();
    m_thread.wait();
    QDBusConnection::disconnectFromBus(QStringLiteral("test-portal"));
}

void TestPortal::setRefusing(bool refusing)
{
    QMutexLocker lock(&m_mutex);
    m_refusing = refusing;
}

void TestPortal::setDesktopTrigger(const QString& shortcutId, const QString& triggerDescription)
{
    QMutexLocker lock(&m_mutex);
    m_desktopTriggers.insert(shortcutId, triggerDescription);
}

QList<TestPortal::Binding> TestPortal::bindings() const
{
    QMutexLocker lock(&m_mutex);
    return m_bindings;
}

QString TestPortal::session() const
{
    QMutexLocker lock(&m_mutex);
    return m_session;
}

QString TestPortal::handlePath(const char* kind, const QDBusMessage& message,
                               const QVariantMap& options, const char* tokenKey) const
{
    return QStringLiteral("/org/freedesktop/portal/desktop/%1/%2/%3")
        .arg(QLatin1String(kind), message.service().mid(1).replace('.', '_'),
             options.value(QLatin1String(tokenKey)).toString());
}

void TestPortal::respond(const QString& requestPath, uint response, const QVariantMap& results)
{
    // After the method's reply, as a real portal answers once the user decided.
    QTimer::singleShot(10, this, [this, requestPath, response, results] {
        QDBusMessage signal = QDBusMessage::createSignal(
            requestPath, QStringLiteral("org.freedesktop.portal.Request"),
            QStringLiteral("Response"));
        signal << response << results;
        m_bus.send(signal);
    });
}

QDBusObjectPath TestPortal::CreateSession(const QVariantMap& options, const QDBusMessage& message)
{
    const QString session = handlePath("session", message, options, "session_handle_token");
    {
        QMutexLocker lock(&m_mutex);
        m_session = session;
    }
    const QString request = handlePath("request", message, options, "handle_token");
    respond(request, 0, {{QStringLiteral("session_handle"), session}});
    return QDBusObjectPath(request);
}

QDBusObjectPath TestPortal::BindShortcuts(const QDBusObjectPath& session,
                                          const QList<PortalShortcut>& shortcuts, const QString&,
                                          const QVariantMap& options, const QDBusMessage& message)
{
    const QString request = handlePath("request", message, options, "handle_token");
    QMutexLocker lock(&m_mutex);
    m_bindings.append({session.path(), shortcuts});
    if (m_refusing || session.path() != m_session) {
        respond(request, 2, {});
        return QDBusObjectPath(request);
    }
    QList<PortalShortcut> bound;
    for (const PortalShortcut& shortcut : shortcuts) {
        const QString trigger = m_desktopTriggers.value(
            shortcut.id, shortcut.properties.value(QStringLiteral("preferred_trigger")).toString());
        bound << PortalShortcut{shortcut.id,
                                {{QStringLiteral("description"),
                                  shortcut.properties.value(QStringLiteral("description"))},
                                 {QStringLiteral("trigger_description"), trigger}}};
    }
    respond(request, 0, {{QStringLiteral("shortcuts"), QVariant::fromValue(bound)}});
    return QDBusObjectPath(request);
}

void TestPortal::activate(const QString& shortcutId)
{
    QDBusMessage signal = QDBusMessage::createSignal(
        PortalHotkeyBackend::path, PortalHotkeyBackend::interface, QStringLiteral("Activated"));
    signal << QVariant::fromValue(QDBusObjectPath(session())) << shortcutId << qulonglong(0)
           << QVariantMap();
    m_bus.send(signal);
}

void TestPortal::changeTrigger(const QString& shortcutId, const QString& triggerDescription)
{
    QDBusMessage signal =
        QDBusMessage::createSignal(PortalHotkeyBackend::path, PortalHotkeyBackend::interface,
                                   QStringLiteral("ShortcutsChanged"));
    const QList<PortalShortcut> shortcuts{
        {shortcutId, {{QStringLiteral("trigger_description"), triggerDescription}}}};
    signal << QVariant::fromValue(QDBusObjectPath(session())) << QVariant::fromValue(shortcuts);
    m_bus.send(signal);
}

} // namespace calmcove::test
