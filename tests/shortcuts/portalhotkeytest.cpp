// Hotkeys through a GlobalShortcuts desktop portal on a private session bus (a
// dbus-daemon started here, the portal served by the test): the session, one binding with
// the preferred triggers, presses driving the controller, triggers the desktop changes
// reaching storage, and a refusing portal giving the message.

#include "platform/hotkeybackendfactory.h"
#include "platform/portaltrigger.h"
#include "playerfixture.h"
#include "shortcuts/shortcutmanager.h"
#include "shortcuts/shortcutstorage.h"
#include "support/privatesessionbus.h"
#include "support/qtprinters.h"
#include "support/tempxdg.h"
#include "testportal.h"

#include <gtest/gtest.h>
#include <QTest>

namespace calmcove {
namespace {

QString busAddress;

constexpr AppShortcut controlOptionSpace{49, 0x1800};
constexpr AppShortcut commandShiftRight{124, 0x0300};

TEST(PortalTriggerTest, WritesPreferredTriggersAndReadsDesktopDescriptions)
{
    EXPECT_EQ(portalTrigger({49, 0x1800}), "CTRL+ALT+space");
    EXPECT_EQ(portalTrigger({124, 0x0300}), "SHIFT+LOGO+Right");
    EXPECT_EQ(portalTrigger({42, 0x1000}), "CTRL+backslash");
    EXPECT_EQ(portalTrigger({63, 0x1000}), QString());

    struct Row
    {
        const char* text;
        std::optional<HotkeyCombination> expected;
    };
    const Row rows[] = {
        {"CTRL+ALT+space", HotkeyCombination{49, 0x1800}},
        {"Ctrl+Alt+Space", HotkeyCombination{49, 0x1800}},
        {"<Control><Alt>space", HotkeyCombination{49, 0x1800}},
        {"Meta+Shift+Right", HotkeyCombination{124, 0x0300}},
        {"Ctrl++", HotkeyCombination{24, 0x1000}},
        {"Ctrl+'", HotkeyCombination{39, 0x1000}},
        {"Alt+PgUp", HotkeyCombination{116, 0x0800}},
        {"F5", HotkeyCombination{96, 0}},
        {"Hyper+space", std::nullopt},
        {"Ctrl+XF86Search", std::nullopt},
        {"", std::nullopt},
    };
    for (const Row& row : rows)
        EXPECT_EQ(parsePortalTrigger(QString::fromUtf8(row.text)), row.expected) << row.text;
}

class PortalHotkeyTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (busAddress.isEmpty())
            GTEST_SKIP() << "dbus-daemon did not start";
        portal = std::make_unique<test::TestPortal>(busAddress);
    }

    void TearDown() override
    {
        manager.reset();
        backend.reset();
        QDBusConnection::disconnectFromBus("client");
        portal.reset();
    }

    ShortcutManager& startManager()
    {
        backend = std::make_unique<PortalHotkeyBackend>(
            QDBusConnection::connectToBus(busAddress, "client"),
            ShortcutManager::hotkeyDescriptions());
        manager = std::make_unique<ShortcutManager>(player.defaults, *backend);
        manager->setController(player.controller());
        return *manager;
    }

    void store(const ShortcutTable& table)
    {
        player.defaults.setValue(ShortcutManager::defaultsKey, encodeShortcutTable(table));
    }
    ShortcutTable stored() const
    {
        return decodeShortcutTable(
            player.defaults.value(ShortcutManager::defaultsKey).toByteArray());
    }
    bool waitForBindings(qsizetype count)
    {
        return QTest::qWaitFor([&] { return portal->bindings().size() >= count; }, 5000);
    }

    test::PlayerFixture player;
    std::unique_ptr<test::TestPortal> portal;
    std::unique_ptr<PortalHotkeyBackend> backend;
    std::unique_ptr<ShortcutManager> manager;
};

TEST_F(PortalHotkeyTest, FactoryChoosesThePortalInAWaylandSession)
{
    qputenv("WAYLAND_DISPLAY", "wayland-test");
    EXPECT_EQ(createHotkeyBackend(ShortcutManager::hotkeyDescriptions())->name(), "portal");
    qunsetenv("WAYLAND_DISPLAY");
}

TEST_F(PortalHotkeyTest, StoredShortcutsAreBoundAtOnceAndPressesDriveTheController)
{
    store({{ShortcutAction::playPause, controlOptionSpace},
           {ShortcutAction::next, commandShiftRight}});
    startManager();
    ASSERT_TRUE(waitForBindings(1));
    QTest::qWait(100);
    const QList<test::TestPortal::Binding> bindings = portal->bindings();
    ASSERT_EQ(bindings.size(), 1);
    EXPECT_EQ(bindings[0].session, portal->session());
    ASSERT_EQ(bindings[0].shortcuts.size(), 2);
    const auto& playPause = bindings[0].shortcuts[0];
    EXPECT_EQ(playPause.id, "playPause");
    EXPECT_EQ(playPause.properties.value("description"), "Play/Pause");
    EXPECT_EQ(playPause.properties.value("preferred_trigger"), "CTRL+ALT+space");
    EXPECT_EQ(bindings[0].shortcuts[1].id, "next");
    EXPECT_EQ(bindings[0].shortcuts[1].properties.value("preferred_trigger"), "SHIFT+LOGO+Right");

    portal->activate("playPause");
    EXPECT_TRUE(QTest::qWaitFor([&] { return player.controller()->isPlaying(); }, 5000));
    const QString first = player.controller()->currentTrack().id;
    portal->activate("next");
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return player.controller()->currentTrack().id != first; }, 5000));
    // An action that is not bound does nothing.
    const QString second = player.controller()->currentTrack().id;
    portal->activate("previous");
    QTest::qWait(200);
    EXPECT_EQ(player.controller()->currentTrack().id, second);
    EXPECT_TRUE(manager->errorMessage().isEmpty());
}

TEST_F(PortalHotkeyTest, TriggersTheDesktopChoosesReachTableAndStorage)
{
    // The desktop's dialog picks another trigger than the preferred one.
    portal->setDesktopTrigger("next", "<Control><Alt>b");
    startManager();
    manager->setShortcut(commandShiftRight, ShortcutAction::next);
    const ShortcutTable chosen{{ShortcutAction::next, AppShortcut{11, 0x1800}}};
    EXPECT_TRUE(QTest::qWaitFor([&] { return manager->shortcuts() == chosen; }, 5000));
    EXPECT_EQ(stored(), chosen);

    // Changed later in the desktop's settings.
    portal->changeTrigger("next", "Ctrl+Shift+P");
    const ShortcutTable changed{{ShortcutAction::next, AppShortcut{35, 0x1200}}};
    EXPECT_TRUE(QTest::qWaitFor([&] { return manager->shortcuts() == changed; }, 5000));
    EXPECT_EQ(stored(), changed);

    // One our vocabulary cannot express leaves the entry as it is.
    portal->changeTrigger("next", "Hyper+XF86Search");
    QTest::qWait(200);
    EXPECT_EQ(manager->shortcuts(), changed);
}

TEST_F(PortalHotkeyTest, RefusedBindingGivesTheMessage)
{
    startManager();
    manager->setShortcut(controlOptionSpace, ShortcutAction::playPause);
    EXPECT_TRUE(QTest::qWaitFor([&] { return portal->bindings().size() == 1; }, 5000));
    QTest::qWait(100);
    ASSERT_TRUE(manager->errorMessage().isEmpty());

    portal->setRefusing(true);
    manager->setShortcut(commandShiftRight, ShortcutAction::previous);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !manager->errorMessage().isEmpty(); }, 5000));
    EXPECT_EQ(manager->errorMessage(),
              ShortcutManager::registrationFailureMessage(ShortcutAction::previous));
    const ShortcutTable kept{{ShortcutAction::playPause, controlOptionSpace}};
    EXPECT_EQ(manager->shortcuts(), kept);
    EXPECT_EQ(stored(), kept);
}

} // namespace
} // namespace calmcove

int main(int argc, char** argv)
{
    const calmcove::test::TemporaryXdgDirectories xdg;
    qunsetenv("WAYLAND_DISPLAY");
    QCoreApplication app(argc, argv);

    // A private session bus for this process, ended with it.
    const calmcove::test::PrivateSessionBus bus;
    calmcove::busAddress = bus.address();
    if (!bus.address().isEmpty())
        qputenv("DBUS_SESSION_BUS_ADDRESS", bus.address().toLocal8Bit());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
