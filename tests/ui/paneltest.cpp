// The panel as a widget: the keyboard rule, the rows and popups it shows, and its banner.

#include "uitestsupport.h"

#include "platform/autostartentry.h"
#include "platform/virtualkeys.h"
#include "shortcuts/shortcutmanager.h"
#include "ui/menurow.h"
#include "ui/playerpanel.h"
#include "ui/shortcutspresenter.h"
#include "updates/appstoreversionchecker.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace calmcove {
namespace {

using test::PanelHarness;

// A panel shown as a window and made active, as the tray controller does.
std::unique_ptr<PlayerPanel> shownPanel(PlayerPanelInputs inputs)
{
    auto panel = std::make_unique<PlayerPanel>(inputs, PlayerPanel::Presentation::window);
    panel->show();
    panel->activateWindow();
    panel->setFocus();
    EXPECT_TRUE(QTest::qWaitForWindowActive(panel.get()));
    return panel;
}

TEST(PanelTest, SpaceTogglesPlaybackExceptWithModifiersInTextFieldsOrWhileRecording)
{
    PanelHarness h;
    auto panel = shownPanel(h.inputs());
    h.controller().pause(); // the runtime's deferred play() ran meanwhile

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    EXPECT_TRUE(h.controller().isPlaying());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space, Qt::ShiftModifier);
    EXPECT_TRUE(h.controller().isPlaying()) << "a modifier keeps Space from toggling";

    auto* field = new QLineEdit(panel.get());
    field->show();
    field->setFocus();
    QTest::keyClick(field, Qt::Key_Space);
    EXPECT_TRUE(h.controller().isPlaying());
    EXPECT_EQ(field->text(), " ") << "the field got the Space";
    delete field;

    panel->setFocus();
    panel->shortcuts().startRecording(ShortcutAction::playPause);
    QTest::keyClick(panel.get(), Qt::Key_Space);
    EXPECT_TRUE(h.controller().isPlaying()) << "the recording gets the key";
    EXPECT_TRUE(panel->shortcuts().isRecording());
    QTest::keyClick(panel.get(), Qt::Key_P, Qt::ControlModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !panel->shortcuts().isRecording(); }, 1000));
    EXPECT_EQ(h.runtime->shortcutManager().shortcuts().value(ShortcutAction::playPause),
              (AppShortcut{35, carbon::controlKey}));

    QTest::keyClick(panel.get(), Qt::Key_Space);
    EXPECT_FALSE(h.controller().isPlaying());
}

TEST(PanelTest, ShortcutsPopupOffersClearAllOnlyWithAShortcut)
{
    PanelHarness h;
    auto panel = shownPanel(h.inputs());
    auto* row = panel->findChild<MenuRow*>("shortcutsRow");
    ASSERT_TRUE(row);
    EXPECT_EQ(row->value(), "Not set");
    panel->openShortcutsPopup();
    auto* popup = panel->findChild<QWidget*>("shortcutsPopup");
    ASSERT_TRUE(popup);
    EXPECT_FALSE(popup->findChild<QPushButton*>("clearAllButton"));

    h.runtime->shortcutManager().setShortcut({45, carbon::controlKey}, ShortcutAction::next);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(popup->findChild<QPushButton*>("clearAllButton"));
    EXPECT_EQ(row->value(), "1 set");

    // Closing the list ends a recording.
    panel->shortcuts().startRecording(ShortcutAction::previous);
    popup->close();
    EXPECT_FALSE(panel->shortcuts().isRecording());
}

TEST(PanelTest, WithoutAShortcutManagerOrSettingsTheirRowsAreAbsentOrOff)
{
    PanelHarness h;
    PlayerPanelInputs inputs = h.inputs();
    inputs.shortcutManager = nullptr;
    inputs.appSettings = nullptr;
    inputs.updateChecker = nullptr;
    auto panel = shownPanel(inputs);
    EXPECT_FALSE(panel->findChild<MenuRow*>("shortcutsRow")->isVisible());
    EXPECT_EQ(panel->findChild<MenuRow*>("advancedRow")->value(), "Off");
}

TEST(PanelTest, RowsLabelsAndBannerFollowTheStores)
{
    PanelHarness h;
    // Start at login switched on behind Calmcove's back: the panel reads it when shown.
    ASSERT_FALSE(AutostartEntry().enable());
    h.runtime->appStoreVersionChecker().setAutomaticallyChecksForUpdates(true);
    auto panel = shownPanel(h.inputs());
    EXPECT_EQ(panel->findChild<MenuRow*>("advancedRow")->value(), "Login - App updates");
    auto* banner = panel->findChild<QWidget*>("libraryBanner");
    auto* retry = panel->findChild<QPushButton*>("retryButton");
    EXPECT_TRUE(banner->isVisible()) << "nothing installed yet";
    h.waitForNetwork();
    EXPECT_TRUE(retry->isVisible());
    h.selectImportedAlbum(1);
    EXPECT_FALSE(banner->isVisible());
    EXPECT_EQ(panel->findChild<MenuRow*>("songsRow")->value(), "1 songs");
    EXPECT_EQ(panel->findChild<QLabel*>("displayTime")->text(), h.controller().displayTime());
    h.controller().setVolume(0.5);
    EXPECT_EQ(panel->findChild<QLabel*>("volumeText")->text(), "50%");
}

} // namespace
} // namespace calmcove
