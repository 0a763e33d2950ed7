// Hotkeys on a real X server (a private Xvfb): grabs pressed with xdotool drive the
// playback controller, with Num Lock on, after a keyboard map change, and a combination
// another X client holds is refused with the message. Its own main: the X server must run
// before the Qt application starts.

#include "platform/hotkeybackendfactory.h"
#include "platform/x11hotkeybackend.h"
#include "playerfixture.h"
#include "shortcuts/shortcutmanager.h"
#include "support/qtprinters.h"
#include "support/tempxdg.h"
#include "support/xvfbsession.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <xcb/xcb.h>

namespace calmcove {
namespace {

test::XvfbSession* xvfb = nullptr;

constexpr AppShortcut controlOptionSpace{49, 0x1800};
constexpr AppShortcut controlOptionF{3, 0x1800};
constexpr AppShortcut controlOptionQ{12, 0x1800};

// Runs a tool against the private server; true when it succeeded.
bool run(const QString& program, const QStringList& arguments)
{
    return QProcess::execute(program, arguments) == 0;
}

bool press(const QString& keys)
{
    return run("xdotool", {"key", keys});
}

// Another X client: its own connection to the server.
class OtherClient
{
public:
    OtherClient() : m_connection(xcb_connect(qgetenv("DISPLAY").constData(), nullptr)) {}
    ~OtherClient() { xcb_disconnect(m_connection); }

    xcb_window_t root() const
    {
        return xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
    }

    bool grab(quint8 keycode, quint16 modifiers)
    {
        xcb_generic_error_t* error = xcb_request_check(
            m_connection, xcb_grab_key_checked(m_connection, 0, root(), modifiers, keycode,
                                               XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        std::free(error);
        return error == nullptr;
    }

    quint16 modifierState()
    {
        xcb_query_pointer_reply_t* reply =
            xcb_query_pointer_reply(m_connection, xcb_query_pointer(m_connection, root()), nullptr);
        const quint16 mask = reply ? reply->mask : 0;
        std::free(reply);
        return mask;
    }

private:
    xcb_connection_t* m_connection;
};

class X11HotkeyTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!xvfb->isRunning())
            GTEST_SKIP() << "no X server for the test: " << xvfb->failure().toStdString();
        if (QStandardPaths::findExecutable("xdotool").isEmpty())
            GTEST_SKIP() << "xdotool is not installed";
        m_backend = X11HotkeyBackend::create();
        ASSERT_TRUE(m_backend);
        m_manager = std::make_unique<ShortcutManager>(player.defaults, *m_backend);
        m_manager->setController(player.controller());
    }

    // Presses `keys` and waits for the player to reach `playing`.
    bool pressToggles(const QString& keys, bool playing)
    {
        return press(keys) &&
               QTest::qWaitFor([&] { return player.controller()->isPlaying() == playing; }, 5000);
    }

    test::PlayerFixture player;
    std::unique_ptr<X11HotkeyBackend> m_backend;
    std::unique_ptr<ShortcutManager> m_manager;
};

TEST_F(X11HotkeyTest, FactoryChoosesKeyGrabsOnAnXServer)
{
    EXPECT_EQ(createHotkeyBackend(ShortcutManager::hotkeyDescriptions())->name(), "x11");
}

TEST_F(X11HotkeyTest, PressTogglesPlaybackAlsoWithNumLockOn)
{
    m_manager->setShortcut(controlOptionSpace, ShortcutAction::playPause);
    ASSERT_TRUE(m_manager->errorMessage().isEmpty());

    EXPECT_TRUE(pressToggles("ctrl+alt+space", true));
    EXPECT_TRUE(pressToggles("ctrl+alt+space", false));

    OtherClient client;
    ASSERT_TRUE(press("Num_Lock"));
    ASSERT_TRUE(client.modifierState() & XCB_MOD_MASK_2);
    EXPECT_TRUE(pressToggles("ctrl+alt+space", true));
    ASSERT_TRUE(press("Num_Lock"));
    EXPECT_TRUE(pressToggles("ctrl+alt+space", false));

    // Cleared: the press no longer reaches the player.
    m_manager->clearShortcut(ShortcutAction::playPause);
    ASSERT_TRUE(press("ctrl+alt+space"));
    QTest::qWait(300);
    EXPECT_FALSE(player.controller()->isPlaying());
}

TEST_F(X11HotkeyTest, CombinationHeldByAnotherClientIsRefused)
{
    OtherClient client;
    // F is Linux key 33, X key code 41; Control and Mod1 (Alt).
    ASSERT_TRUE(client.grab(41, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1));

    m_manager->setShortcut(controlOptionF, ShortcutAction::next);
    EXPECT_EQ(m_manager->errorMessage(),
              ShortcutManager::registrationFailureMessage(ShortcutAction::next));
    EXPECT_FALSE(m_manager->shortcuts().contains(ShortcutAction::next));

    // Our refusal released nothing of the other client's: its grab still stands.
    OtherClient third;
    EXPECT_FALSE(third.grab(41, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1));
}

TEST_F(X11HotkeyTest, KeyboardMapChangeKeepsGrabsByPosition)
{
    if (QStandardPaths::findExecutable("setxkbmap").isEmpty())
        GTEST_SKIP() << "setxkbmap is not installed";
    m_manager->setShortcut(controlOptionSpace, ShortcutAction::playPause);
    m_manager->setShortcut(controlOptionQ, ShortcutAction::next);

    ASSERT_TRUE(run("setxkbmap", {"fr"}));
    QTest::qWait(200);
    EXPECT_TRUE(pressToggles("ctrl+alt+space", true));
    // On a French keyboard A sits where a US keyboard has Q.
    const QString before = player.controller()->currentTrack().id;
    ASSERT_TRUE(press("ctrl+alt+a"));
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return player.controller()->currentTrack().id != before; }, 5000));
    EXPECT_TRUE(pressToggles("ctrl+alt+space", false));
    ASSERT_TRUE(run("setxkbmap", {"us"}));
    QTest::qWait(200);
    EXPECT_TRUE(pressToggles("ctrl+alt+space", true));
    EXPECT_TRUE(m_manager->errorMessage().isEmpty());
}

} // namespace
} // namespace calmcove

int main(int argc, char** argv)
{
    const calmcove::test::TemporaryXdgDirectories xdg;
    calmcove::test::XvfbSession server;
    calmcove::xvfb = &server;
    if (server.isRunning()) {
        qputenv("DISPLAY", server.display().toLocal8Bit());
        qputenv("QT_QPA_PLATFORM", "xcb");
    } else {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    qunsetenv("WAYLAND_DISPLAY");
    qunsetenv("XDG_SESSION_TYPE");
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
