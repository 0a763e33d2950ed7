#include "portalhotkeybackend.h"

#include "portaltrigger.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QPointer>
#include <QTimer>

QDBusArgument& operator<<(QDBusArgument& argument, const calmcove::PortalShortcut& shortcut)
{
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, calmcove::PortalShortcut& shortcut)
{
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

namespace calmcove {
namespace {

const QString requestInterface = QStringLiteral("org.freedesktop.portal.Request");

// Hears the Response of one portal request and then goes.
class PortalRequest : public QObject
{
    Q_OBJECT
public:
    PortalRequest(QDBusConnection bus, std::function<void(uint, const QVariantMap&)> handler,
                  QObject* parent)
        : QObject(parent), m_bus(std::move(bus)), m_handler(std::move(handler))
    {}

    void listen(const QString& requestPath)
    {
        if (requestPath == m_path)
            return;
        if (!m_path.isEmpty())
            m_bus.disconnect({}, m_path, requestInterface, QStringLiteral("Response"), this,
                             SLOT(response(uint, QVariantMap)));
        m_path = requestPath;
        m_bus.connect({}, m_path, requestInterface, QStringLiteral("Response"), this,
                      SLOT(response(uint, QVariantMap)));
    }

public Q_SLOTS:
    void response(uint code, const QVariantMap& results)
    {
        m_bus.disconnect({}, m_path, requestInterface, QStringLiteral("Response"), this,
                         SLOT(response(uint, QVariantMap)));
        auto handler = std::move(m_handler);
        deleteLater();
        if (handler)
            handler(code, results);
    }

private:
    QDBusConnection m_bus;
    std::function<void(uint, const QVariantMap&)> m_handler;
    QString m_path;
};

QList<PortalShortcut> shortcutsFromResults(const QVariantMap& results)
{
    const QVariant value = results.value(QStringLiteral("shortcuts"));
    if (value.canConvert<QDBusArgument>())
        return qdbus_cast<QList<PortalShortcut>>(value.value<QDBusArgument>());
    return value.value<QList<PortalShortcut>>();
}

QString objectPathText(const QVariant& value)
{
    if (value.canConvert<QDBusObjectPath>() && value.metaType() != QMetaType::fromType<QString>())
        return value.value<QDBusObjectPath>().path();
    return value.toString();
}

// The unique bus name in the form request and session paths use: ":1.42" -> "1_42".
QString senderPathPart(const QDBusConnection& bus)
{
    return bus.baseService().mid(1).replace(QLatin1Char('.'), QLatin1Char('_'));
}

constexpr uint responseSuccess = 0;

} // namespace

bool PortalHotkeyBackend::isOffered(const QDBusConnection& bus, int timeoutMs)
{
    if (!bus.isConnected())
        return false;
    QDBusMessage get = QDBusMessage::createMethodCall(
        service, path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << interface << QStringLiteral("version");
    const QDBusMessage reply = bus.call(get, QDBus::Block, timeoutMs);
    return reply.type() == QDBusMessage::ReplyMessage;
}

PortalHotkeyBackend::PortalHotkeyBackend(QDBusConnection bus, QList<HotkeyDescription> descriptions,
                                         QObject* parent)
    : HotkeyBackend(parent), m_bus(std::move(bus)), m_descriptions(std::move(descriptions))
{
    qDBusRegisterMetaType<PortalShortcut>();
    qDBusRegisterMetaType<QList<PortalShortcut>>();
    m_bus.connect(service, path, interface, QStringLiteral("Activated"), this,
                  SLOT(handleActivated(QDBusObjectPath, QString, qulonglong, QVariantMap)));
    m_bus.connect(service, path, interface, QStringLiteral("ShortcutsChanged"), this,
                  SLOT(handleShortcutsChanged(QDBusObjectPath, QList<calmcove::PortalShortcut>)));
    createSession();
}

PortalHotkeyBackend::~PortalHotkeyBackend()
{
    if (m_sessionState == SessionState::open) {
        m_bus.asyncCall(QDBusMessage::createMethodCall(
            service, m_session.path(), QStringLiteral("org.freedesktop.portal.Session"),
            QStringLiteral("Close")));
    }
}

HotkeyRegistration PortalHotkeyBackend::registerHotkey(quint32 id, HotkeyCombination combination)
{
    if (m_sessionState == SessionState::failed || !describe(id) ||
        portalTrigger(combination).isEmpty())
        return HotkeyRegistration::refused;
    m_bound[id] = combination;
    m_pending.insert(id);
    scheduleBind();
    return HotkeyRegistration::pending;
}

void PortalHotkeyBackend::unregisterHotkey(quint32 id)
{
    if (m_bound.erase(id) == 0)
        return;
    m_pending.remove(id);
    scheduleBind();
}

QString PortalHotkeyBackend::newToken()
{
    return QStringLiteral("calmcove%1").arg(++m_tokenCounter);
}

void PortalHotkeyBackend::request(const QString& method, QVariantList arguments,
                                  QVariantMap options, ResponseHandler handler)
{
    const QString token = newToken();
    options.insert(QStringLiteral("handle_token"), token);
    arguments << options;

    // Listen before calling, so that a quick Response is not missed.
    auto* pending = new PortalRequest(m_bus, handler, this);
    pending->listen(QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2")
                        .arg(senderPathPart(m_bus), token));

    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, method);
    call.setArguments(arguments);
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [pending = QPointer(pending), handler](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                const QDBusPendingReply<QDBusObjectPath> reply = *finished;
                if (!pending)
                    return;
                if (reply.isError()) {
                    pending->deleteLater();
                    handler(2, {});
                    return;
                }
                // Older portals choose the request path themselves.
                pending->listen(reply.value().path());
            });
}

void PortalHotkeyBackend::createSession()
{
    QVariantMap options{{QStringLiteral("session_handle_token"), newToken()}};
    request(QStringLiteral("CreateSession"), {}, options,
            [this](uint response, const QVariantMap& results) {
                const QString session =
                    objectPathText(results.value(QStringLiteral("session_handle")));
                if (response != responseSuccess || session.isEmpty()) {
                    m_sessionState = SessionState::failed;
                    QSet<quint32> all;
                    for (const auto& [id, combination] : m_bound)
                        all.insert(id);
                    m_bound.clear();
                    refuseAll(all);
                    return;
                }
                m_session = QDBusObjectPath(session);
                m_sessionState = SessionState::open;
                if (!m_bound.empty())
                    scheduleBind();
            });
}

void PortalHotkeyBackend::scheduleBind()
{
    if (m_bindScheduled)
        return;
    m_bindScheduled = true;
    // Start-up registers several hotkeys in a row: one binding covers them all.
    QTimer::singleShot(0, this, [this] {
        m_bindScheduled = false;
        bind();
    });
}

void PortalHotkeyBackend::bind()
{
    if (m_sessionState != SessionState::open)
        return;
    if (m_bindInFlight) {
        m_bindAgain = true;
        return;
    }
    QList<PortalShortcut> shortcuts;
    for (const auto& [id, combination] : m_bound) {
        const HotkeyDescription* description = describe(id);
        shortcuts << PortalShortcut{
            description->name,
            {{QStringLiteral("description"), description->description},
             {QStringLiteral("preferred_trigger"), portalTrigger(combination)}}};
    }
    const QSet<quint32> decided = std::exchange(m_pending, {});
    m_bindInFlight = true;
    request(QStringLiteral("BindShortcuts"),
            {QVariant::fromValue(m_session), QVariant::fromValue(shortcuts), QString()}, {},
            [this, decided](uint response, const QVariantMap& results) {
                finishBind(response, results, decided);
            });
}

void PortalHotkeyBackend::finishBind(uint response, const QVariantMap& results,
                                     const QSet<quint32>& decided)
{
    m_bindInFlight = false;
    const QList<PortalShortcut> granted =
        response == responseSuccess ? shortcutsFromResults(results) : QList<PortalShortcut>{};
    QSet<QString> grantedNames;
    for (const PortalShortcut& shortcut : granted)
        grantedNames.insert(shortcut.id);
    for (quint32 id : decided) {
        // A registration made again or withdrawn meanwhile waits for its own answer.
        if (m_pending.contains(id) || !m_bound.contains(id))
            continue;
        const bool registered = grantedNames.contains(describe(id)->name);
        if (!registered)
            m_bound.erase(id);
        Q_EMIT registrationFinished(id, registered);
    }
    reflectTriggers(granted);
    if (std::exchange(m_bindAgain, false) || !m_pending.isEmpty())
        scheduleBind();
}

void PortalHotkeyBackend::refuseAll(const QSet<quint32>& ids)
{
    for (quint32 id : ids)
        Q_EMIT registrationFinished(id, false);
}

void PortalHotkeyBackend::reflectTriggers(const QList<PortalShortcut>& shortcuts)
{
    for (const PortalShortcut& shortcut : shortcuts) {
        const HotkeyDescription* description = describe(shortcut.id);
        if (!description || !m_bound.contains(description->id))
            continue;
        const std::optional<HotkeyCombination> combination = parsePortalTrigger(
            shortcut.properties.value(QStringLiteral("trigger_description")).toString());
        if (!combination || *combination == m_bound[description->id])
            continue;
        m_bound[description->id] = *combination;
        Q_EMIT combinationChanged(description->id, *combination);
    }
}

void PortalHotkeyBackend::handleActivated(const QDBusObjectPath& session, const QString& shortcutId,
                                          qulonglong, const QVariantMap&)
{
    if (session != m_session)
        return;
    if (const HotkeyDescription* description = describe(shortcutId);
        description && m_bound.contains(description->id))
        Q_EMIT activated(description->id);
}

void PortalHotkeyBackend::handleShortcutsChanged(const QDBusObjectPath& session,
                                                 const QList<PortalShortcut>& shortcuts)
{
    if (session == m_session)
        reflectTriggers(shortcuts);
}

const HotkeyDescription* PortalHotkeyBackend::describe(quint32 id) const
{
    for (const HotkeyDescription& description : m_descriptions) {
        if (description.id == id)
            return &description;
    }
    return nullptr;
}

const HotkeyDescription* PortalHotkeyBackend::describe(const QString& name) const
{
    for (const HotkeyDescription& description : m_descriptions) {
        if (description.name == name)
            return &description;
    }
    return nullptr;
}

} // namespace calmcove

#include "portalhotkeybackend.moc"
