#pragma once

// System-wide hotkeys through the XDG desktop portal's GlobalShortcuts interface (Wayland
// desktops): one portal session per process; every change binds the whole current set
// again with our combinations as preferred triggers, and the portal's answer (or the
// dialog the desktop shows instead) decides each pending registration. Presses arrive as
// Activated signals; triggers the user changes in the desktop's settings come back as
// combinationChanged when our vocabulary can express them. All calls are asynchronous.
// Main thread only.

#include "hotkeybackend.h"

#include <map>
#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QList>
#include <QSet>
#include <QVariantMap>

namespace calmcove {

// What the portal shows the user for each hotkey.
struct HotkeyDescription
{
    quint32 id = 0;
    QString name;        // the portal's shortcut id, e.g. "playPause"
    QString description; // e.g. "Play/Pause"
};

// One entry of the portal's a(sa{sv}) shortcut lists.
struct PortalShortcut
{
    QString id;
    QVariantMap properties;
};

class PortalHotkeyBackend : public HotkeyBackend
{
    Q_OBJECT
public:
    static inline const QString service = QStringLiteral("org.freedesktop.portal.Desktop");
    static inline const QString path = QStringLiteral("/org/freedesktop/portal/desktop");
    static inline const QString interface =
        QStringLiteral("org.freedesktop.portal.GlobalShortcuts");

    // Whether the portal on `bus` offers global shortcuts (a blocking call, at most
    // `timeoutMs`).
    static bool isOffered(const QDBusConnection& bus, int timeoutMs = 1500);

    // Opens the portal session at once.
    PortalHotkeyBackend(QDBusConnection bus, QList<HotkeyDescription> descriptions,
                        QObject* parent = nullptr);
    ~PortalHotkeyBackend() override;

    HotkeyRegistration registerHotkey(quint32 id, HotkeyCombination combination) override;
    void unregisterHotkey(quint32 id) override;
    QString name() const override { return QStringLiteral("portal"); }

private Q_SLOTS:
    void handleActivated(const QDBusObjectPath& session, const QString& shortcutId,
                         qulonglong timestamp, const QVariantMap& options);
    void handleShortcutsChanged(const QDBusObjectPath& session,
                                const QList<calmcove::PortalShortcut>& shortcuts);

private:
    using ResponseHandler = std::function<void(uint response, const QVariantMap& results)>;

    void createSession();
    void scheduleBind();
    void bind();
    void finishBind(uint response, const QVariantMap& results, const QSet<quint32>& decided);
    void refuseAll(const QSet<quint32>& ids);
    void reflectTriggers(const QList<PortalShortcut>& shortcuts);
    // Calls `method` with a fresh request token in `options`, and hands the request's
    // Response to `handler`.
    void request(const QString& method, QVariantList arguments, QVariantMap options,
                 ResponseHandler handler);
    QString newToken();
    const HotkeyDescription* describe(quint32 id) const;
    const HotkeyDescription* describe(const QString& name) const;

    QDBusConnection m_bus;
    QList<HotkeyDescription> m_descriptions;
    enum class SessionState
    {
        opening,
        open,
        failed
    } m_sessionState = SessionState::opening;
    QDBusObjectPath m_session;
    std::map<quint32, HotkeyCombination> m_bound;
    QSet<quint32> m_pending;
    bool m_bindScheduled = false;
    bool m_bindInFlight = false;
    bool m_bindAgain = false;
    quint64 m_tokenCounter = 0;
};

} // namespace calmcove

Q_DECLARE_METATYPE(calmcove::PortalShortcut)

// D-Bus marshalling of the (sa{sv}) entries.
class QDBusArgument;
QDBusArgument& operator<<(QDBusArgument& argument, const calmcove::PortalShortcut& shortcut);
const QDBusArgument& operator>>(const QDBusArgument& argument, calmcove::PortalShortcut& shortcut);
