#include "appshortcut.h"

#include <QKeyEvent>

namespace calmcove {
namespace {

// X11 and Wayland native key codes are Linux input codes plus 8.
constexpr quint32 nativeKeycodeOffset = 8;

} // namespace

QString rawValue(ShortcutAction action)
{
    switch (action) {
    case ShortcutAction::playPause:
        return QStringLiteral("playPause");
    case ShortcutAction::next:
        return QStringLiteral("next");
    case ShortcutAction::previous:
        return QStringLiteral("previous");
    }
    return {};
}

QString title(ShortcutAction action)
{
    switch (action) {
    case ShortcutAction::playPause:
        return QStringLiteral("Play/Pause");
    case ShortcutAction::next:
        return QStringLiteral("Next");
    case ShortcutAction::previous:
        return QStringLiteral("Back");
    }
    return {};
}

std::optional<ShortcutAction> shortcutActionFromRawValue(const QString& value)
{
    for (ShortcutAction action : allShortcutActions) {
        if (rawValue(action) == value)
            return action;
    }
    return std::nullopt;
}

quint32 AppShortcut::carbonModifiers(Qt::KeyboardModifiers flags)
{
    quint32 mask = 0;
    if (flags & Qt::MetaModifier)
        mask |= carbon::cmdKey;
    if (flags & Qt::AltModifier)
        mask |= carbon::optionKey;
    if (flags & Qt::ControlModifier)
        mask |= carbon::controlKey;
    if (flags & Qt::ShiftModifier)
        mask |= carbon::shiftKey;
    return mask;
}

std::optional<AppShortcut> AppShortcut::fromKeyEvent(const QKeyEvent& event)
{
    const Qt::KeyboardModifiers flags = event.modifiers();
    if (!(flags & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)))
        return std::nullopt;
    const std::optional<quint32> keyCode = virtualKeyCode(event);
    if (!keyCode)
        return std::nullopt;
    return AppShortcut{*keyCode, carbonModifiers(flags)};
}

std::optional<quint32> AppShortcut::virtualKeyCode(const QKeyEvent& event)
{
    if (event.nativeScanCode() > nativeKeycodeOffset) {
        if (auto keyCode = virtualKeyFromEvdev(event.nativeScanCode() - nativeKeycodeOffset))
            return keyCode;
    }
    return virtualKeyFromQtKey(event.key(), event.modifiers() & Qt::KeypadModifier);
}

QString AppShortcut::modifierDisplay() const
{
    QString glyphs;
    if (modifiers & carbon::controlKey)
        glyphs += QChar(0x2303);
    if (modifiers & carbon::optionKey)
        glyphs += QChar(0x2325);
    if (modifiers & carbon::shiftKey)
        glyphs += QChar(0x21E7);
    if (modifiers & carbon::cmdKey)
        glyphs += QChar(0x2318);
    return glyphs;
}

QString AppShortcut::displayText() const
{
    return modifierDisplay() + KeyCodeDisplay::name(keyCode);
}

const QMap<quint32, QString>& KeyCodeDisplay::names()
{
    static const QMap<quint32, QString> table{
        // letters
        {0, "A"},
        {1, "S"},
        {2, "D"},
        {3, "F"},
        {4, "H"},
        {5, "G"},
        {6, "Z"},
        {7, "X"},
        {8, "C"},
        {9, "V"},
        {11, "B"},
        {12, "Q"},
        {13, "W"},
        {14, "E"},
        {15, "R"},
        {16, "Y"},
        {17, "T"},
        {31, "O"},
        {32, "U"},
        {34, "I"},
        {35, "P"},
        {37, "L"},
        {38, "J"},
        {40, "K"},
        {45, "N"},
        {46, "M"},
        // digits of the main block
        {18, "1"},
        {19, "2"},
        {20, "3"},
        {21, "4"},
        {22, "6"},
        {23, "5"},
        {25, "9"},
        {26, "7"},
        {28, "8"},
        {29, "0"},
        // punctuation of the main block
        {24, "="},
        {27, "-"},
        {30, "]"},
        {33, "["},
        {39, "'"},
        {41, ";"},
        {42, "\\"},
        {43, ","},
        {44, "/"},
        {47, "."},
        {50, "`"},
        // named keys
        {49, "Space"},
        {51, "Delete"},
        {53, "Esc"},
        {114, "Help"},
        {115, "Home"},
        {116, "Page Up"},
        {117, "Forward Delete"},
        {119, "End"},
        {121, "Page Down"},
        // keypad
        {65, "."},
        {67, "*"},
        {69, "+"},
        {71, "Clear"},
        {75, "/"},
        {76, "Enter"},
        {78, "-"},
        {81, "="},
        {82, "0"},
        {83, "1"},
        {84, "2"},
        {85, "3"},
        {86, "4"},
        {87, "5"},
        {88, "6"},
        {89, "7"},
        {91, "8"},
        {92, "9"},
        // function keys
        {122, "F1"},
        {120, "F2"},
        {99, "F3"},
        {118, "F4"},
        {96, "F5"},
        {97, "F6"},
        {98, "F7"},
        {100, "F8"},
        {101, "F9"},
        {109, "F10"},
        {103, "F11"},
        {111, "F12"},
        {105, "F13"},
        {107, "F14"},
        {113, "F15"},
        {106, "F16"},
        // arrows
        {123, "\u2190"},
        {124, "\u2192"},
        {125, "\u2193"},
        {126, "\u2191"},
    };
    return table;
}

QString KeyCodeDisplay::name(quint32 keyCode)
{
    const auto found = names().find(keyCode);
    if (found != names().end())
        return *found;
    return QStringLiteral("Key %1").arg(keyCode);
}

} // namespace calmcove
