#include "virtualkeys.h"

#include <array>
#include <Qt>

namespace calmcove {
namespace {

struct KeyRow
{
    quint32 keyCode;
    quint32 evdev;
    const char* keysym;
    int qtKey;
    int shiftedQtKey; // the Qt key of the shifted US character; 0 when none
    bool keypad;
};

// Every key with a virtual code that a Linux keyboard has. Keypad Clear sits where a PC
// keyboard has Num Lock and Help where it has Insert.
constexpr std::array keyRows{
    KeyRow{0, 30, "a", Qt::Key_A, 0, false},
    KeyRow{1, 31, "s", Qt::Key_S, 0, false},
    KeyRow{2, 32, "d", Qt::Key_D, 0, false},
    KeyRow{3, 33, "f", Qt::Key_F, 0, false},
    KeyRow{4, 35, "h", Qt::Key_H, 0, false},
    KeyRow{5, 34, "g", Qt::Key_G, 0, false},
    KeyRow{6, 44, "z", Qt::Key_Z, 0, false},
    KeyRow{7, 45, "x", Qt::Key_X, 0, false},
    KeyRow{8, 46, "c", Qt::Key_C, 0, false},
    KeyRow{9, 47, "v", Qt::Key_V, 0, false},
    KeyRow{10, 86, "less", Qt::Key_Less, Qt::Key_Greater, false},
    KeyRow{11, 48, "b", Qt::Key_B, 0, false},
    KeyRow{12, 16, "q", Qt::Key_Q, 0, false},
    KeyRow{13, 17, "w", Qt::Key_W, 0, false},
    KeyRow{14, 18, "e", Qt::Key_E, 0, false},
    KeyRow{15, 19, "r", Qt::Key_R, 0, false},
    KeyRow{16, 21, "y", Qt::Key_Y, 0, false},
    KeyRow{17, 20, "t", Qt::Key_T, 0, false},
    KeyRow{18, 2, "1", Qt::Key_1, Qt::Key_Exclam, false},
    KeyRow{19, 3, "2", Qt::Key_2, Qt::Key_At, false},
    KeyRow{20, 4, "3", Qt::Key_3, Qt::Key_NumberSign, false},
    KeyRow{21, 5, "4", Qt::Key_4, Qt::Key_Dollar, false},
    KeyRow{22, 7, "6", Qt::Key_6, Qt::Key_AsciiCircum, false},
    KeyRow{23, 6, "5", Qt::Key_5, Qt::Key_Percent, false},
    KeyRow{24, 13, "equal", Qt::Key_Equal, Qt::Key_Plus, false},
    KeyRow{25, 10, "9", Qt::Key_9, Qt::Key_ParenLeft, false},
    KeyRow{26, 8, "7", Qt::Key_7, Qt::Key_Ampersand, false},
    KeyRow{27, 12, "minus", Qt::Key_Minus, Qt::Key_Underscore, false},
    KeyRow{28, 9, "8", Qt::Key_8, Qt::Key_Asterisk, false},
    KeyRow{29, 11, "0", Qt::Key_0, Qt::Key_ParenRight, false},
    KeyRow{30, 27, "bracketright", Qt::Key_BracketRight, Qt::Key_BraceRight, false},
    KeyRow{31, 24, "o", Qt::Key_O, 0, false},
    KeyRow{32, 22, "u", Qt::Key_U, 0, false},
    KeyRow{33, 26, "bracketleft", Qt::Key_BracketLeft, Qt::Key_BraceLeft, false},
    KeyRow{34, 23, "i", Qt::Key_I, 0, false},
    KeyRow{35, 25, "p", Qt::Key_P, 0, false},
    KeyRow{36, 28, "Return", Qt::Key_Return, 0, false},
    KeyRow{37, 38, "l", Qt::Key_L, 0, false},
    KeyRow{38, 36, "j", Qt::Key_J, 0, false},
    KeyRow{39, 40, "apostrophe", Qt::Key_Apostrophe, Qt::Key_QuoteDbl, false},
    KeyRow{40, 37, "k", Qt::Key_K, 0, false},
    KeyRow{41, 39, "semicolon", Qt::Key_Semicolon, Qt::Key_Colon, false},
    KeyRow{42, 43, "backslash", Qt::Key_Backslash, Qt::Key_Bar, false},
    KeyRow{43, 51, "comma", Qt::Key_Comma, 0, false},
    KeyRow{44, 53, "slash", Qt::Key_Slash, Qt::Key_Question, false},
    KeyRow{45, 49, "n", Qt::Key_N, 0, false},
    KeyRow{46, 50, "m", Qt::Key_M, 0, false},
    KeyRow{47, 52, "period", Qt::Key_Period, 0, false},
    KeyRow{48, 15, "Tab", Qt::Key_Tab, Qt::Key_Backtab, false},
    KeyRow{49, 57, "space", Qt::Key_Space, 0, false},
    KeyRow{50, 41, "grave", Qt::Key_QuoteLeft, Qt::Key_AsciiTilde, false},
    KeyRow{51, 14, "BackSpace", Qt::Key_Backspace, 0, false},
    KeyRow{53, 1, "Escape", Qt::Key_Escape, 0, false},
    KeyRow{54, 126, "Super_R", Qt::Key_Super_R, 0, false},
    KeyRow{55, 125, "Super_L", Qt::Key_Super_L, 0, false},
    KeyRow{56, 42, "Shift_L", Qt::Key_Shift, 0, false},
    KeyRow{57, 58, "Caps_Lock", Qt::Key_CapsLock, 0, false},
    KeyRow{58, 56, "Alt_L", Qt::Key_Alt, 0, false},
    KeyRow{59, 29, "Control_L", Qt::Key_Control, 0, false},
    KeyRow{60, 54, "Shift_R", 0, 0, false},
    KeyRow{61, 100, "Alt_R", Qt::Key_AltGr, 0, false},
    KeyRow{62, 97, "Control_R", 0, 0, false},
    KeyRow{64, 187, "F17", Qt::Key_F17, 0, false},
    KeyRow{65, 83, "KP_Decimal", Qt::Key_Period, 0, true},
    KeyRow{67, 55, "KP_Multiply", Qt::Key_Asterisk, 0, true},
    KeyRow{69, 78, "KP_Add", Qt::Key_Plus, 0, true},
    KeyRow{71, 69, "Clear", Qt::Key_Clear, 0, false},
    KeyRow{72, 115, "XF86AudioRaiseVolume", Qt::Key_VolumeUp, 0, false},
    KeyRow{73, 114, "XF86AudioLowerVolume", Qt::Key_VolumeDown, 0, false},
    KeyRow{74, 113, "XF86AudioMute", Qt::Key_VolumeMute, 0, false},
    KeyRow{75, 98, "KP_Divide", Qt::Key_Slash, 0, true},
    KeyRow{76, 96, "KP_Enter", Qt::Key_Enter, 0, true},
    KeyRow{78, 74, "KP_Subtract", Qt::Key_Minus, 0, true},
    KeyRow{79, 188, "F18", Qt::Key_F18, 0, false},
    KeyRow{80, 189, "F19", Qt::Key_F19, 0, false},
    KeyRow{81, 117, "KP_Equal", Qt::Key_Equal, 0, true},
    KeyRow{82, 82, "KP_0", Qt::Key_0, 0, true},
    KeyRow{83, 79, "KP_1", Qt::Key_1, 0, true},
    KeyRow{84, 80, "KP_2", Qt::Key_2, 0, true},
    KeyRow{85, 81, "KP_3", Qt::Key_3, 0, true},
    KeyRow{86, 75, "KP_4", Qt::Key_4, 0, true},
    KeyRow{87, 76, "KP_5", Qt::Key_5, 0, true},
    KeyRow{88, 77, "KP_6", Qt::Key_6, 0, true},
    KeyRow{89, 71, "KP_7", Qt::Key_7, 0, true},
    KeyRow{90, 190, "F20", Qt::Key_F20, 0, false},
    KeyRow{91, 72, "KP_8", Qt::Key_8, 0, true},
    KeyRow{92, 73, "KP_9", Qt::Key_9, 0, true},
    KeyRow{96, 63, "F5", Qt::Key_F5, 0, false},
    KeyRow{97, 64, "F6", Qt::Key_F6, 0, false},
    KeyRow{98, 65, "F7", Qt::Key_F7, 0, false},
    KeyRow{99, 61, "F3", Qt::Key_F3, 0, false},
    KeyRow{100, 66, "F8", Qt::Key_F8, 0, false},
    KeyRow{101, 67, "F9", Qt::Key_F9, 0, false},
    KeyRow{103, 87, "F11", Qt::Key_F11, 0, false},
    KeyRow{105, 183, "F13", Qt::Key_F13, 0, false},
    KeyRow{106, 186, "F16", Qt::Key_F16, 0, false},
    KeyRow{107, 184, "F14", Qt::Key_F14, 0, false},
    KeyRow{109, 68, "F10", Qt::Key_F10, 0, false},
    KeyRow{111, 88, "F12", Qt::Key_F12, 0, false},
    KeyRow{113, 185, "F15", Qt::Key_F15, 0, false},
    KeyRow{114, 110, "Insert", Qt::Key_Insert, Qt::Key_Help, false},
    KeyRow{115, 102, "Home", Qt::Key_Home, 0, false},
    KeyRow{116, 104, "Prior", Qt::Key_PageUp, 0, false},
    KeyRow{117, 111, "Delete", Qt::Key_Delete, 0, false},
    KeyRow{118, 62, "F4", Qt::Key_F4, 0, false},
    KeyRow{119, 107, "End", Qt::Key_End, 0, false},
    KeyRow{120, 60, "F2", Qt::Key_F2, 0, false},
    KeyRow{121, 109, "Next", Qt::Key_PageDown, 0, false},
    KeyRow{122, 59, "F1", Qt::Key_F1, 0, false},
    KeyRow{123, 105, "Left", Qt::Key_Left, 0, false},
    KeyRow{124, 106, "Right", Qt::Key_Right, 0, false},
    KeyRow{125, 108, "Down", Qt::Key_Down, 0, false},
    KeyRow{126, 103, "Up", Qt::Key_Up, 0, false},
};

template <typename Predicate> const KeyRow* findRow(Predicate predicate)
{
    for (const KeyRow& row : keyRows) {
        if (predicate(row))
            return &row;
    }
    return nullptr;
}

// Names desktops use in trigger descriptions for keys whose keysym is spelt otherwise.
struct KeyAlias
{
    const char* name;
    quint32 keyCode;
};
constexpr std::array keyAliases{
    KeyAlias{"Enter", 36},      KeyAlias{"Backspace", 51}, KeyAlias{"Esc", 53},
    KeyAlias{"Del", 117},       KeyAlias{"Ins", 114},      KeyAlias{"Help", 114},
    KeyAlias{"PgUp", 116},      KeyAlias{"Page_Up", 116},  KeyAlias{"PgDown", 121},
    KeyAlias{"Page_Down", 121}, KeyAlias{"Num_Lock", 71},
};

} // namespace

std::optional<quint32> virtualKeyFromEvdev(quint32 evdevCode)
{
    if (const KeyRow* row = findRow([&](const KeyRow& r) { return r.evdev == evdevCode; }))
        return row->keyCode;
    return std::nullopt;
}

std::optional<quint32> evdevFromVirtualKey(quint32 keyCode)
{
    if (const KeyRow* row = findRow([&](const KeyRow& r) { return r.keyCode == keyCode; }))
        return row->evdev;
    return std::nullopt;
}

std::optional<quint32> virtualKeyFromQtKey(int qtKey, bool keypad)
{
    const auto matches = [&](const KeyRow& r) {
        return r.keypad == keypad && qtKey != 0 && (r.qtKey == qtKey || r.shiftedQtKey == qtKey);
    };
    if (const KeyRow* row = findRow(matches))
        return row->keyCode;
    // Keys that only exist outside the keypad (Enter excepted) also come with the flag.
    if (keypad)
        return virtualKeyFromQtKey(qtKey, false);
    return std::nullopt;
}

std::optional<QString> keysymNameFromVirtualKey(quint32 keyCode)
{
    if (const KeyRow* row = findRow([&](const KeyRow& r) { return r.keyCode == keyCode; }))
        return QString::fromLatin1(row->keysym);
    return std::nullopt;
}

std::optional<quint32> virtualKeyFromKeysymName(const QString& name)
{
    if (name.isEmpty())
        return std::nullopt;
    const auto sameName = [&](const char* candidate) {
        return name.compare(QLatin1String(candidate), Qt::CaseInsensitive) == 0;
    };
    if (const KeyRow* row = findRow([&](const KeyRow& r) { return sameName(r.keysym); }))
        return row->keyCode;
    for (const KeyAlias& alias : keyAliases) {
        if (sameName(alias.name))
            return alias.keyCode;
    }
    if (name.size() == 1) {
        // Qt keys of printable ASCII characters are their upper-case code points.
        return virtualKeyFromQtKey(name.at(0).toUpper().unicode(), false);
    }
    return std::nullopt;
}

} // namespace calmcove
