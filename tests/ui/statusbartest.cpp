// The tray controller: clicks, the fresh panel each time, tear-downs and the icon.

#include "uitestsupport.h"

#include "ui/statusbarcontroller.h"
#include "updates/appstoreversionchecker.h"

#include <gtest/gtest.h>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>

namespace calmcove {
namespace {

using test::PanelHarness;

void turnEventLoop()
{
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

TEST(StatusBarTest, IconFollowsPlaybackFromTheDeferredPlayOn)
{
    PanelHarness h;
    StatusBarController tray(h.inputs(), StatusBarController::TrayMode::tray);
    EXPECT_EQ(tray.iconSymbol(), "play.fill");
    EXPECT_EQ(tray.statusItem()->toolTip(), "Calmcove");
    EXPECT_FALSE(tray.statusItem()->contextMenu());
    QSignalSpy started(&h.controller(), &AudioController::playbackStateDidChange);
    ASSERT_TRUE(started.wait(2000)); // the runtime's deferred play()
    EXPECT_EQ(tray.iconSymbol(), "play.fill") << "updated on the next turn";
    turnEventLoop();
    EXPECT_EQ(tray.iconSymbol(), "waveform");

    h.controller().pause(); // a hotkey or a media key
    turnEventLoop();
    EXPECT_EQ(tray.iconSymbol(), "play.fill");
    EXPECT_FALSE(tray.panel());
}

TEST(StatusBarTest, LeftClickWhileOpenClosesThePanelAndToggles)
{
    PanelHarness h;
    StatusBarController tray(h.inputs(), StatusBarController::TrayMode::tray);
    tray.handleStatusItemClick(Qt::RightButton);
    ASSERT_TRUE(tray.panelIsShown());
    const bool wasPlaying = h.controller().isPlaying();
    tray.handleStatusItemClick(Qt::LeftButton);
    EXPECT_FALSE(tray.panelIsShown());
    EXPECT_NE(h.controller().isPlaying(), wasPlaying);
    turnEventLoop();
    EXPECT_FALSE(tray.panel()) << "released after it closed";
}

TEST(StatusBarTest, RightClickOpensClosesThenOpensANewPanel)
{
    PanelHarness h;
    StatusBarController tray(h.inputs(), StatusBarController::TrayMode::tray);
    tray.handleStatusItemClick(Qt::RightButton);
    QPointer<PlayerPanel> first = tray.panel();
    ASSERT_TRUE(tray.panelIsShown());
    if (PlayerPanel* panel = first) {
        EXPECT_EQ(panel->width(), 330);
    }
    tray.handleStatusItemClick(Qt::RightButton);
    EXPECT_FALSE(tray.panelIsShown());
    tray.handleStatusItemClick(Qt::RightButton);
    ASSERT_TRUE(tray.panelIsShown());
    EXPECT_NE(tray.panel(), first.data());
    turnEventLoop();
    EXPECT_FALSE(first) << "the old panel is released";
    EXPECT_TRUE(tray.panelIsShown());

    // Clicked elsewhere, and reopened before the queued tear-down ran: it leaves the new one.
    QPointer<PlayerPanel> older = tray.panel();
    if (PlayerPanel* panel = older)
        panel->close();
    tray.handleStatusItemClick(Qt::RightButton);
    QPointer<PlayerPanel> current = tray.panel();
    ASSERT_NE(older.data(), current.data());
    turnEventLoop();
    EXPECT_EQ(tray.panel(), current.data());
    EXPECT_TRUE(tray.panelIsShown());
    EXPECT_FALSE(older);
}

TEST(StatusBarTest, AnUpdateFoundInTheBackgroundMarksTheIconUntilTheUserSeesIt)
{
    PanelHarness h;
    StatusBarController tray(h.inputs(), StatusBarController::TrayMode::tray);
    UpdateReminderDelegate& reminders = h.runtime->appStoreVersionChecker().userDriverDelegate();
    reminders.willHandleShowingUpdate(/*userInitiated=*/false);
    turnEventLoop();
    EXPECT_EQ(tray.statusItem()->toolTip(), AppStoreVersionChecker::updateReminderToolTip);
    reminders.didReceiveUserAttentionForUpdate();
    turnEventLoop();
    EXPECT_EQ(tray.statusItem()->toolTip(), "Calmcove");
}

TEST(StatusBarTest, WithoutTrayThePanelIsAWindowThatComesBack)
{
    PanelHarness h;
    StatusBarController tray(h.inputs(), StatusBarController::TrayMode::window);
    EXPECT_FALSE(tray.usesTray());
    turnEventLoop();
    ASSERT_TRUE(tray.panelIsShown()) << "opens at launch";
    if (PlayerPanel* panel = tray.panel()) {
        EXPECT_EQ(panel->presentation(), PlayerPanel::Presentation::window);
    }
    QSignalSpy started(&h.controller(), &AudioController::playbackStateDidChange);
    started.wait(2000);
    if (PlayerPanel* panel = tray.panel())
        panel->close();
    turnEventLoop();
    EXPECT_FALSE(tray.panel());
    EXPECT_TRUE(h.controller().isPlaying()) << "closing the window keeps playing";
    tray.showPanel(); // a second launch or MPRIS Raise
    EXPECT_TRUE(tray.panelIsShown());
}

} // namespace
} // namespace calmcove
