#pragma once

// What the Advanced and Shortcuts rows of the panel need of the settings, the update
// checker and the shortcut manager, as two small interfaces. The adapters over the real
// classes live beside them; the presenters depend only on these.

#include <optional>
#include <QObject>
#include <QString>

class QKeyEvent;

namespace calmcove {

// The launch-at-login setting and the automatic app updates.
class AdvancedSettingsSource : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    virtual bool launchAtLoginEnabled() const = 0;
    virtual void setLaunchAtLogin(bool enabled) = 0;
    // Re-reads the system's login-item state (the panel does so each time it is shown).
    virtual void refreshLaunchAtLogin() = 0;
    // Empty: none.
    virtual QString launchAtLoginError() const = 0;

    // Checks and downloads automatically.
    virtual bool automaticUpdatesEnabled() const = 0;
    virtual void setAutomaticUpdates(bool enabled) = 0;
    virtual void checkForAppUpdate() = 0;
    // Empty: none.
    virtual QString updateErrorMessage() const = 0;

Q_SIGNALS:
    void changed();
};

// The shortcut table: the actions in their fixed order, their bindings, and changing them.
class ShortcutTableSource : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    virtual int actionCount() const = 0;
    // "Play/Pause", "Next", "Back".
    virtual QString actionTitle(int action) const = 0;
    // The binding's display text, none when the action has no shortcut.
    virtual std::optional<QString> shortcutText(int action) const = 0;
    virtual void clearShortcut(int action) = 0;
    // Binds the combination of `event` to `action`. False when the event makes no valid
    // shortcut (no Control, Alt or Super held); nothing changes then.
    virtual bool setShortcutFromKeyEvent(int action, const QKeyEvent& event) = 0;

Q_SIGNALS:
    void changed();
};

} // namespace calmcove
