// The shortcut values: capture from key events, the key names and glyphs, and the stored
// document's rules.

#include "shortcuts/appshortcut.h"
#include "shortcuts/shortcutstorage.h"
#include "support/qtprinters.h"

#include <gtest/gtest.h>
#include <QJsonDocument>
#include <QKeyEvent>

namespace calmcove {
namespace {

QKeyEvent keyDown(int key, Qt::KeyboardModifiers modifiers, quint32 nativeScanCode = 0)
{
    return QKeyEvent(QEvent::KeyPress, key, modifiers, nativeScanCode, 0, 0);
}

TEST(AppShortcutTest, CapturesKeyEventsByPositionAndModifiers)
{
    struct Row
    {
        const char* name;
        int key;
        Qt::KeyboardModifiers modifiers;
        quint32 nativeScanCode;
        std::optional<AppShortcut> expected;
    };
    const Row rows[] = {
        {"shift only", Qt::Key_A, Qt::ShiftModifier, 38, std::nullopt},
        {"no modifier", Qt::Key_A, Qt::NoModifier, 38, std::nullopt},
        {"super shift right arrow", Qt::Key_Right, Qt::MetaModifier | Qt::ShiftModifier, 114,
         AppShortcut{124, 0x0300}},
        {"control alt space by scan code", Qt::Key_Space, Qt::ControlModifier | Qt::AltModifier, 65,
         AppShortcut{49, 0x1800}},
        // An AZERTY "A" sits where a US keyboard has Q.
        {"position wins over the layout's letter", Qt::Key_A, Qt::ControlModifier, 24,
         AppShortcut{12, 0x1000}},
        {"Qt key without a scan code", Qt::Key_K, Qt::MetaModifier | Qt::ShiftModifier, 0,
         AppShortcut{40, 0x0300}},
        {"shifted character without a scan code", Qt::Key_Plus,
         Qt::ControlModifier | Qt::ShiftModifier, 0, AppShortcut{24, 0x1200}},
        {"keypad digit without a scan code", Qt::Key_5, Qt::AltModifier | Qt::KeypadModifier, 0,
         AppShortcut{87, 0x0800}},
        {"keypad flag dropped from the mask", Qt::Key_Left,
         Qt::ControlModifier | Qt::KeypadModifier, 0, AppShortcut{123, 0x1000}},
        {"escape", Qt::Key_Escape, Qt::ControlModifier, 0, AppShortcut{53, 0x1000}},
        {"key without a virtual code", Qt::Key_LaunchMail, Qt::ControlModifier, 0, std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(AppShortcut::fromKeyEvent(keyDown(row.key, row.modifiers, row.nativeScanCode)),
                  row.expected);
    }
}

TEST(AppShortcutTest, DisplayTextShowsGlyphsInFixedOrderThenTheKeyName)
{
    struct Row
    {
        AppShortcut shortcut;
        const char* text;
    };
    const Row rows[] = {
        {{49, 0x1800}, "⌃⌥Space"}, {{124, 0x0300}, "⇧⌘→"},  {{36, 0x1B00}, "⌃⌥⇧⌘Key 36"},
        {{42, 0x1000}, "⌃\\"},     {{39, 0x0800}, "⌥'"},    {{50, 0x0100}, "⌘`"},
        {{48, 0}, "Key 48"},       {{106, 0x1000}, "⌃F16"}, {{90, 0x1000}, "⌃Key 90"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(row.shortcut.displayText(), QString::fromUtf8(row.text));
}

TEST(AppShortcutTest, NameTableHasItsNinetyFourKeysAndEachPositionKnowsItsKey)
{
    EXPECT_EQ(KeyCodeDisplay::names().size(), 94);
    for (quint32 keyCode : {10u, 36u, 48u, 54u, 63u, 64u, 72u, 79u, 80u, 90u})
        EXPECT_FALSE(KeyCodeDisplay::names().contains(keyCode)) << keyCode;
    // Every named key can be grabbed and described to the desktop by position.
    const auto names = KeyCodeDisplay::names();
    for (auto entry = names.begin(); entry != names.end(); ++entry) {
        const std::optional<quint32> evdev = evdevFromVirtualKey(entry.key());
        ASSERT_TRUE(evdev) << entry.key();
        EXPECT_EQ(virtualKeyFromEvdev(*evdev), entry.key());
        EXPECT_TRUE(keysymNameFromVirtualKey(entry.key())) << entry.key();
    }
}

TEST(ShortcutStorageTest, EncodesTheCompactDocument)
{
    EXPECT_EQ(encodeShortcutTable({}), QByteArray("{}"));
    const ShortcutTable table{{ShortcutAction::next, {124, 6144}},
                              {ShortcutAction::playPause, {49, 4096}}};
    const QByteArray data = encodeShortcutTable(table);
    EXPECT_FALSE(data.contains(' '));
    EXPECT_EQ(QJsonDocument::fromJson(data),
              QJsonDocument::fromJson(R"({"next":{"keyCode":124,"modifiers":6144},)"
                                      R"("playPause":{"keyCode":49,"modifiers":4096}})"));
    EXPECT_EQ(decodeShortcutTable(data), table);
}

TEST(ShortcutStorageTest, DecodesAllOrNothing)
{
    struct Row
    {
        const char* name;
        const char* data;
        ShortcutTable expected;
    };
    const ShortcutTable playPauseOnly{{ShortcutAction::playPause, {49, 4096}}};
    const Row rows[] = {
        {"unknown member skipped",
         R"({"playPause":{"keyCode":49,"modifiers":4096},"shuffle":{"keyCode":1,"modifiers":256}})",
         playPauseOnly},
        {"extra field ignored", R"({"playPause":{"keyCode":49,"modifiers":4096,"x":1}})",
         playPauseOnly},
        {"member without modifiers",
         R"({"playPause":{"keyCode":49,"modifiers":4096},"next":{"keyCode":124}})",
         {}},
        {"member names are case-sensitive",
         R"({"PlayPause":{"keyCode":1,"modifiers":256},"previous":{"keyCode":49,"modifiers":4096}})",
         {{ShortcutAction::previous, {49, 4096}}}},
        {"unknown member that does not decode",
         R"({"playPause":{"keyCode":49,"modifiers":4096},"shuffle":5})",
         {}},
        {"not JSON", "keyCode=49", {}},
        {"array", R"([{"keyCode":49,"modifiers":4096}])", {}},
        {"negative", R"({"next":{"keyCode":-1,"modifiers":4096}})", {}},
        {"fraction", R"({"next":{"keyCode":1.5,"modifiers":4096}})", {}},
        {"beyond 32 bits", R"({"next":{"keyCode":4294967296,"modifiers":4096}})", {}},
        {"text number", R"({"next":{"keyCode":"49","modifiers":4096}})", {}},
        {"empty", "", {}},
        {"largest code",
         R"({"next":{"keyCode":4294967295,"modifiers":0}})",
         {{ShortcutAction::next, {4294967295u, 0}}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(decodeShortcutTable(QByteArray(row.data)), row.expected);
    }
}

} // namespace
} // namespace calmcove
