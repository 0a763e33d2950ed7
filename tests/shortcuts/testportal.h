#pragma once

// A GlobalShortcuts desktop portal for tests, on its own connection to a private bus and
// its own thread (as a separate process would be): sessions, bindings answered through
// Request objects' Response signals, and the Activated and ShortcutsChanged signals on
// demand. It answers each binding with the preferred triggers unless told to refuse or to
// substitute the desktop's own choice.

#include "platform/portalhotkeybackend.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QMutex>
#include <QThread>

namespace calmcove::test {

class TestPortal : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.GlobalShortcuts")
    Q_PROPERTY(uint version READ version)

public:
    struct Binding
    {
        QString session;
        QList<PortalShortcut> shortcuts;
    };

    explicit TestPortal(const QString& busAddress);
    ~TestPortal() override;

    uint version() const { return 1; }

    // What the portal answers from now on.
    void setRefusing(bool refusing);
    void setDesktopTrigger(const QString& shortcutId, const QString& triggerDescription);

    QList<Binding> bindings() const;
    QString session() const;
    void activate(const QString& shortcutId);
    void changeTrigger(const QString& shortcutId, const QString& triggerDescription);

public Q_SLOTS:
    QDBusObjectPath CreateSession(const QVariantMap& options, const QDBusMessage& message);
    QDBusObjectPath BindShortcuts(const QDBusObjectPath& session,
                                  const QList<calmcove::PortalShortcut>& shortcuts,
                                  const QString& parentWindow, const QVariantMap& options,
                                  const QDBusMessage& message);

private:
    // The object path of a request or session the caller named with its token.
    QString handlePath(const char* kind, const QDBusMessage& message, const QVariantMap& options,
                       const char* tokenKey) const;
    void respond(const QString& requestPath, uint response, const QVariantMap& results);

    QDBusConnection m_bus;
    QThread m_thread;
    mutable QMutex m_mutex;
    bool m_refusing = false;
    QHash<QString, QString> m_desktopTriggers;
    QList<Binding> m_bindings;
    QString m_session;
};

} // namespace calmcove::test
