// The manager's rules against a backend that records every call and answers as told:
// one owner per combination, refusals during changes and at start-up, storage, and
// presses reaching the playback controller.

#include "shortcuts/shortcutmanager.h"

#include "playerfixture.h"
#include "shortcuts/shortcutstorage.h"
#include "support/qtprinters.h"

#include <gtest/gtest.h>
#include <QSignalSpy>

namespace calmcove {
namespace {

class RecordingBackend : public HotkeyBackend
{
public:
    HotkeyRegistration registerHotkey(quint32 id, HotkeyCombination combination) override
    {
        calls << QStringLiteral("register %1 %2/%3")
                     .arg(id)
                     .arg(combination.keyCode)
                     .arg(combination.modifiers);
        return answers.value(id, HotkeyRegistration::registered);
    }
    void unregisterHotkey(quint32 id) override { calls << QStringLiteral("unregister %1").arg(id); }
    QString name() const override { return QStringLiteral("recording"); }

    QHash<quint32, HotkeyRegistration> answers;
    QStringList calls;
};

constexpr AppShortcut controlOptionSpace{49, 0x1800};
constexpr AppShortcut commandShiftRight{124, 0x0300};

class ShortcutManagerTest : public ::testing::Test
{
protected:
    ShortcutManager& manager()
    {
        if (!m_manager) {
            m_manager = std::make_unique<ShortcutManager>(player.defaults, backend);
            m_manager->setController(player.controller());
        }
        return *m_manager;
    }

    ShortcutTable stored() const
    {
        return decodeShortcutTable(
            player.defaults.value(ShortcutManager::defaultsKey).toByteArray());
    }

    void store(const ShortcutTable& table)
    {
        player.defaults.setValue(ShortcutManager::defaultsKey, encodeShortcutTable(table));
    }

    test::PlayerFixture player;
    RecordingBackend backend;
    std::unique_ptr<ShortcutManager> m_manager;
};

TEST_F(ShortcutManagerTest, ACombinationHasOneOwner)
{
    // Nothing stored: no shortcuts, nothing registered or written.
    EXPECT_TRUE(manager().shortcuts().isEmpty());
    EXPECT_TRUE(backend.calls.isEmpty());
    EXPECT_FALSE(player.defaults.contains(ShortcutManager::defaultsKey));

    manager().setShortcut(controlOptionSpace, ShortcutAction::playPause);
    QSignalSpy changes(&manager(), &ShortcutManager::shortcutsChanged);
    backend.calls.clear();

    manager().setShortcut(controlOptionSpace, ShortcutAction::next);
    EXPECT_EQ(backend.calls, QStringList({"unregister 1", "register 2 49/6144"}));
    const ShortcutTable expected{{ShortcutAction::next, controlOptionSpace}};
    EXPECT_EQ(manager().shortcuts(), expected);
    EXPECT_EQ(stored(), expected);
    EXPECT_EQ(changes.size(), 1);

    // The same combination again: released and taken anew, still one entry.
    backend.calls.clear();
    manager().setShortcut(controlOptionSpace, ShortcutAction::next);
    EXPECT_EQ(backend.calls, QStringList({"unregister 2", "register 2 49/6144"}));
    EXPECT_EQ(stored(), expected);
    EXPECT_EQ(changes.size(), 1);

    manager().setShortcut(commandShiftRight, ShortcutAction::previous);
    manager().clearAllShortcuts();
    EXPECT_TRUE(manager().shortcuts().isEmpty());
    EXPECT_EQ(player.defaults.value(ShortcutManager::defaultsKey).toByteArray(), "{}");
    EXPECT_EQ(backend.calls.mid(backend.calls.size() - 2),
              QStringList({"unregister 2", "unregister 3"}));
}

TEST_F(ShortcutManagerTest, RefusalWhileSettingReportsRemovesAndSaves)
{
    manager().setShortcut(controlOptionSpace, ShortcutAction::playPause);
    backend.answers[3] = HotkeyRegistration::refused;
    QSignalSpy messages(&manager(), &ShortcutManager::errorMessageChanged);

    manager().setShortcut(commandShiftRight, ShortcutAction::previous);
    EXPECT_EQ(manager().errorMessage(),
              QStringLiteral("Could not register Back shortcut. It may already be used by the "
                             "desktop or another app."));
    const ShortcutTable expected{{ShortcutAction::playPause, controlOptionSpace}};
    EXPECT_EQ(manager().shortcuts(), expected);
    EXPECT_EQ(stored(), expected);

    // A later success clears the message.
    manager().setShortcut(commandShiftRight, ShortcutAction::next);
    EXPECT_TRUE(manager().errorMessage().isEmpty());
    EXPECT_EQ(messages.size(), 2);
}

TEST_F(ShortcutManagerTest, RefusalAtStartUpLeavesStorageUntilTheNextSave)
{
    const ShortcutTable both{{ShortcutAction::playPause, controlOptionSpace},
                             {ShortcutAction::next, commandShiftRight}};
    store(both);
    backend.answers[2] = HotkeyRegistration::refused;

    EXPECT_EQ(manager().shortcuts(),
              (ShortcutTable{{ShortcutAction::playPause, controlOptionSpace}}));
    EXPECT_EQ(manager().errorMessage(),
              ShortcutManager::registrationFailureMessage(ShortcutAction::next));
    EXPECT_EQ(backend.calls, QStringList({"register 1 49/6144", "register 2 124/768"}));
    EXPECT_EQ(stored(), both);

    manager().clearShortcut(ShortcutAction::previous);
    EXPECT_EQ(stored(), manager().shortcuts());
}

TEST_F(ShortcutManagerTest, RefusalDecidedLaterFollowsTheSameRules)
{
    // At start-up: memory loses it, storage keeps it.
    store({{ShortcutAction::next, commandShiftRight}});
    backend.answers[2] = HotkeyRegistration::pending;
    backend.answers[3] = HotkeyRegistration::pending;
    manager();
    Q_EMIT backend.registrationFinished(2, false);
    EXPECT_TRUE(manager().shortcuts().isEmpty());
    EXPECT_EQ(stored().size(), 1);
    EXPECT_FALSE(manager().errorMessage().isEmpty());

    // While setting: storage loses it too.
    manager().setShortcut(controlOptionSpace, ShortcutAction::previous);
    EXPECT_EQ(stored().size(), 1);
    Q_EMIT backend.registrationFinished(3, false);
    EXPECT_TRUE(manager().shortcuts().isEmpty());
    EXPECT_TRUE(stored().isEmpty());
    EXPECT_EQ(manager().errorMessage(),
              ShortcutManager::registrationFailureMessage(ShortcutAction::previous));

    // An accepted one clears the message; an answer for a cleared one changes nothing.
    manager().setShortcut(controlOptionSpace, ShortcutAction::previous);
    Q_EMIT backend.registrationFinished(3, true);
    EXPECT_TRUE(manager().errorMessage().isEmpty());
    manager().clearShortcut(ShortcutAction::previous);
    Q_EMIT backend.registrationFinished(3, false);
    EXPECT_TRUE(manager().errorMessage().isEmpty());
}

TEST_F(ShortcutManagerTest, DesktopRebindingReachesTableAndStorage)
{
    manager().setShortcut(controlOptionSpace, ShortcutAction::playPause);
    manager().setShortcut(commandShiftRight, ShortcutAction::next);
    backend.calls.clear();

    Q_EMIT backend.combinationChanged(1, {124, 0x0300});
    const ShortcutTable expected{{ShortcutAction::playPause, commandShiftRight}};
    EXPECT_EQ(manager().shortcuts(), expected);
    EXPECT_EQ(stored(), expected);
    EXPECT_EQ(backend.calls, QStringList({"unregister 2"}));
}

TEST_F(ShortcutManagerTest, PressesDriveTheController)
{
    manager();
    AudioController& controller = *player.controller();
    ASSERT_FALSE(controller.isPlaying());
    Q_EMIT backend.activated(1);
    EXPECT_TRUE(controller.isPlaying());

    const QString first = controller.currentTrack().id;
    Q_EMIT backend.activated(2);
    const QString second = controller.currentTrack().id;
    EXPECT_NE(second, first);
    EXPECT_TRUE(controller.isPlaying());

    for (quint32 ignored : {0u, 4u})
        Q_EMIT backend.activated(ignored);
    EXPECT_EQ(controller.currentTrack().id, second);

    Q_EMIT backend.activated(3);
    EXPECT_EQ(controller.currentTrack().id, first);

    Q_EMIT backend.activated(1);
    EXPECT_FALSE(controller.isPlaying());

    // With the controller gone, presses do nothing.
    player.destroyController();
    EXPECT_EQ(manager().controller(), nullptr);
    Q_EMIT backend.activated(2);
    Q_EMIT backend.activated(1);
}

} // namespace
} // namespace calmcove
