#pragma once

// The values of a global shortcut: the three playback actions that can have one, a key
// combination in the stored vocabulary (positional virtual key code and Carbon modifier
// mask), how such a combination is captured from a key event and how it is shown.

#include "platform/virtualkeys.h"

#include <array>
#include <optional>
#include <QMap>
#include <QString>

class QKeyEvent;

namespace calmcove {

// Declaration order is the order of the shortcut list and the basis of the hotkey ids.
enum class ShortcutAction
{
    playPause,
    next,
    previous
};

inline constexpr std::array allShortcutActions{ShortcutAction::playPause, ShortcutAction::next,
                                               ShortcutAction::previous};

QString rawValue(ShortcutAction action);
// "Play/Pause", "Next", "Back".
QString title(ShortcutAction action);
std::optional<ShortcutAction> shortcutActionFromRawValue(const QString& rawValue);

struct AppShortcut
{
    quint32 keyCode = 0;
    // Carbon bits only: carbon::cmdKey, shiftKey, optionKey, controlKey.
    quint32 modifiers = 0;

    bool operator==(const AppShortcut&) const = default;

    // The Carbon mask of Qt's modifier flags: Meta (the Super key) is Command, Alt is
    // Option; keypad and group-switch flags are dropped.
    static quint32 carbonModifiers(Qt::KeyboardModifiers flags);
    // The shortcut a key-down event makes, by the key's place on a US keyboard (the native
    // key code where Qt has one, else the Qt key); none without Control, Alt or Super, or
    // for a key with no virtual code.
    static std::optional<AppShortcut> fromKeyEvent(const QKeyEvent& event);
    // The virtual key code of the event's key by its place on a US keyboard; none for keys
    // without one.
    static std::optional<quint32> virtualKeyCode(const QKeyEvent& event);

    // Glyphs of the set modifiers in the fixed order ⌃⌥⇧⌘.
    QString modifierDisplay() const;
    // modifierDisplay followed by the key's name, e.g. "⌃⌥Space".
    QString displayText() const;
};

// The shortcut table: actions without an entry have no shortcut.
using ShortcutTable = QMap<ShortcutAction, AppShortcut>;

namespace KeyCodeDisplay {
// The 94 named keys; built on first use.
const QMap<quint32, QString>& names();
// The key's name, or "Key " and the decimal code for keys without one.
QString name(quint32 keyCode);
} // namespace KeyCodeDisplay

} // namespace calmcove
