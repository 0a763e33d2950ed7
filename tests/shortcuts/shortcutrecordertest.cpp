// Recording a combination from the keyboard: what is consumed, what beeps, what ends it.

#include "shortcuts/shortcutrecorder.h"

#include "playerfixture.h"
#include "shortcuts/shortcutmanager.h"
#include "support/qtprinters.h"

#include <gtest/gtest.h>
#include <QKeyEvent>
#include <QSignalSpy>

namespace calmcove {
namespace {

// Stands in for the panel: counts the key-downs that reach it.
class KeyTarget : public QObject
{
public:
    bool event(QEvent* event) override
    {
        if (event->type() == QEvent::KeyPress)
            ++keyDowns;
        return QObject::event(event);
    }
    int keyDowns = 0;
};

class AcceptingBackend : public HotkeyBackend
{
public:
    HotkeyRegistration registerHotkey(quint32, HotkeyCombination) override
    {
        return HotkeyRegistration::registered;
    }
    void unregisterHotkey(quint32) override {}
    QString name() const override { return QStringLiteral("accepting"); }
};

class ShortcutRecorderTest : public ::testing::Test
{
protected:
    void press(int key, Qt::KeyboardModifiers modifiers, quint32 nativeScanCode = 0)
    {
        QKeyEvent event(QEvent::KeyPress, key, modifiers, nativeScanCode, 0, 0);
        QCoreApplication::sendEvent(&target, &event);
        QCoreApplication::processEvents();
    }

    test::PlayerFixture player;
    AcceptingBackend backend;
    ShortcutManager manager{player.defaults, backend};
    int beeps = 0;
    ShortcutRecorder recorder{manager, [this] { ++beeps; }};
    KeyTarget target;
};

TEST_F(ShortcutRecorderTest, BeepsWithoutControlAltOrSuperAndSetsOtherwise)
{
    QSignalSpy recording(&recorder, &ShortcutRecorder::recordingActionChanged);
    recorder.startShortcutRecording(ShortcutAction::next);
    EXPECT_EQ(recorder.property("recordingAction").toString(), QStringLiteral("next"));

    press(Qt::Key_A, Qt::ShiftModifier, 38);
    EXPECT_EQ(beeps, 1);
    press(Qt::Key_Control, Qt::ControlModifier, 37);
    press(Qt::Key_Shift, Qt::ControlModifier | Qt::ShiftModifier, 50);
    EXPECT_EQ(beeps, 1);
    EXPECT_EQ(recorder.recordingAction(), ShortcutAction::next);

    // Super+Shift+K.
    press(Qt::Key_K, Qt::MetaModifier | Qt::ShiftModifier, 45);
    EXPECT_EQ(recorder.recordingAction(), std::nullopt);
    EXPECT_EQ(manager.shortcuts(),
              (ShortcutTable{{ShortcutAction::next, AppShortcut{40, 0x0300}}}));
    EXPECT_EQ(target.keyDowns, 0);
    EXPECT_EQ(recording.size(), 2);

    // Not recording: keys reach the panel again.
    press(Qt::Key_K, Qt::MetaModifier, 45);
    EXPECT_EQ(target.keyDowns, 1);
}

TEST_F(ShortcutRecorderTest, EscapeEndsWithoutChange)
{
    manager.setShortcut(AppShortcut{49, 0x1800}, ShortcutAction::playPause);
    recorder.startShortcutRecording(ShortcutAction::playPause);
    press(Qt::Key_Escape, Qt::NoModifier, 9);
    EXPECT_EQ(recorder.recordingAction(), std::nullopt);
    EXPECT_EQ(manager.shortcuts().value(ShortcutAction::playPause), (AppShortcut{49, 0x1800}));
    EXPECT_EQ(beeps, 0);
    EXPECT_EQ(target.keyDowns, 0);

    // Starting again for another action ends the first recording.
    recorder.startShortcutRecording(ShortcutAction::next);
    recorder.startShortcutRecording(ShortcutAction::previous);
    press(Qt::Key_F5, Qt::ControlModifier);
    EXPECT_EQ(manager.shortcuts().value(ShortcutAction::previous), (AppShortcut{96, 0x1000}));
    EXPECT_FALSE(manager.shortcuts().contains(ShortcutAction::next));
}

} // namespace
} // namespace calmcove
