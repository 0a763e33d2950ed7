#pragma once

// The keyboard vocabulary that stored shortcuts use on every platform: positional virtual
// key codes (the key's place on a US keyboard, as Apple numbers them) and Carbon modifier
// masks, with their translations to Linux key codes, X keysym names and Qt keys.

#include <optional>
#include <QString>
#include <QtGlobal>

namespace calmcove {

// Carbon modifier bits. On Linux "Command" is the Super (logo) key and "Option" is Alt.
namespace carbon {
inline constexpr quint32 cmdKey = 0x0100;
inline constexpr quint32 shiftKey = 0x0200;
inline constexpr quint32 optionKey = 0x0800;
inline constexpr quint32 controlKey = 0x1000;
inline constexpr quint32 allModifiers = cmdKey | shiftKey | optionKey | controlKey;
} // namespace carbon

namespace virtualkey {
inline constexpr quint32 space = 49;
inline constexpr quint32 escape = 53;
} // namespace virtualkey

// The virtual key at Linux input (evdev) key code `evdevCode`; X11 and Wayland key codes
// are the evdev code plus 8.
std::optional<quint32> virtualKeyFromEvdev(quint32 evdevCode);
// The evdev key code of virtual key `keyCode`.
std::optional<quint32> evdevFromVirtualKey(quint32 keyCode);
// The virtual key for a Qt key where no hardware code is known; `keypad` tells a keypad
// digit or operator from the main block's.
std::optional<quint32> virtualKeyFromQtKey(int qtKey, bool keypad);
// The X keysym name of the key on a US layout ("a", "space", "KP_Add", "F5").
std::optional<QString> keysymNameFromVirtualKey(quint32 keyCode);
// The virtual key whose US keysym is `name` (compared without case) or whose US character,
// shifted or not, is the single character `name`.
std::optional<quint32> virtualKeyFromKeysymName(const QString& name);

} // namespace calmcove
