#pragma once

// Owns the table of global shortcuts: loads and saves it, registers each entry as a
// system-wide hotkey through the session's hotkey backend, keeps every combination with
// one action at most, reports refused registrations, and turns hotkey presses into the
// playback controller's commands. Main thread only.

#include "appshortcut.h"

#include "platform/hotkeybackend.h"
#include "platform/portalhotkeybackend.h"
#include "playback/audiocontroller.h"

#include <QObject>
#include <QPointer>
#include <QSet>

namespace calmcove {

class UserDefaults;

class ShortcutManager : public QObject
{
    Q_OBJECT
    Q_PROPERTY(calmcove::ShortcutTable shortcuts READ shortcuts NOTIFY shortcutsChanged)
    // The last registration failure; empty when none, cleared by a later success.
    Q_PROPERTY(QString errorMessage READ errorMessage NOTIFY errorMessageChanged)

public:
    static inline const QString defaultsKey = QStringLiteral("Calmcove.Shortcuts");

    // Loads the stored table and registers each entry (nothing is saved). `defaults` and
    // `backend` must outlive the manager.
    ShortcutManager(UserDefaults& defaults, HotkeyBackend& backend, QObject* parent = nullptr);

    const ShortcutTable& shortcuts() const { return m_shortcuts; }
    QString errorMessage() const { return m_errorMessage; }

    // Held weakly; while there is none, hotkey presses do nothing.
    AudioController* controller() const { return m_controller; }
    void setController(AudioController* controller) { m_controller = controller; }

    // Binds `shortcut` to `action`, taking it from any other action, and saves.
    void setShortcut(AppShortcut shortcut, ShortcutAction action);
    void clearShortcut(ShortcutAction action);
    // clearShortcut for every action in declaration order.
    void clearAllShortcuts();

    // A hotkey press: 1 play/pause, 2 next, 3 previous; other ids are ignored.
    void handleHotKey(quint32 id);

    // The hotkey id of `action`: its place in declaration order plus one.
    static quint32 hotKeyId(ShortcutAction action);
    // What a desktop that names its shortcuts shows for each action.
    static QList<HotkeyDescription> hotkeyDescriptions();
    // "Could not register <title> shortcut. It may already be used by the desktop or
    // another app."
    static QString registrationFailureMessage(ShortcutAction action);

Q_SIGNALS:
    void shortcutsChanged();
    void errorMessageChanged();

private:
    void load();
    void save();
    void registerAllShortcuts();
    HotkeyRegistration registerShortcut(AppShortcut shortcut, ShortcutAction action);
    void unregisterShortcut(ShortcutAction action);
    void refuse(ShortcutAction action);
    void perform(ShortcutAction action);
    void handleRegistrationFinished(quint32 id, bool registered);
    void handleCombinationChanged(quint32 id, HotkeyCombination combination);
    // Takes `shortcut` from every action but `action`, saving after each.
    void takeFromOtherOwners(AppShortcut shortcut, ShortcutAction action);
    void notifyIfChanged(const ShortcutTable& before);
    void setErrorMessage(const QString& message);

    UserDefaults& m_defaults;
    HotkeyBackend& m_backend;
    QPointer<AudioController> m_controller;
    ShortcutTable m_shortcuts;
    QString m_errorMessage;
    // Actions with a registration made or under way.
    QSet<ShortcutAction> m_registered;
    // Registrations under way whose refusal must reach storage (made by setShortcut).
    QSet<ShortcutAction> m_saveOnRefusal;
};

} // namespace calmcove
