// The panel as a widget: the keyboard rule, the rows and popups it shows, and its banner.

#include "uitestsupport.h"

#include "ui/menurow.h"
#include "ui/playerpanel.h"
#include "ui/shortcutspresenter.h"

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
std::unique_ptr<PlayerPanel> shownPanel(PanelHarness& h, ShortcutTableSource* shortcuts = nullptr,
                                        AdvancedSettingsSource* settings = nullptr)
{
    auto panel = std::make_unique<PlayerPanel>(h.inputs(settings, shortcuts),
                                               PlayerPanel::Presentation::window);
    panel->show();
    panel->activateWindow();
    panel->setFocus();
    EXPECT_TRUE(QTest::qWaitForWindowActive(panel.get()));
    return panel;
}

TEST(PanelTest, SpaceTogglesPlaybackExceptWithModifiersInTextFieldsOrWhileRecording)
{
    PanelHarness h;
    test::ScriptedShortcuts table;
    auto panel = shownPanel(h, &table);
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
    EXPECT_EQ(field->text(), QStringLiteral(" ")) << "the field got the Space";
    delete field;

    panel->setFocus();
    panel->shortcuts().startRecording(0);
    QTest::keyClick(panel.get(), Qt::Key_Space);
    EXPECT_TRUE(h.controller().isPlaying()) << "the recording gets the key";
    EXPECT_TRUE(panel->shortcuts().isRecording());
    QTest::keyClick(panel.get(), Qt::Key_P, Qt::ControlModifier);
    EXPECT_FALSE(panel->shortcuts().isRecording());
    EXPECT_EQ(table.bound[0], QStringLiteral("Ctrl+P"));

    QTest::keyClick(panel.get(), Qt::Key_Space);
    EXPECT_FALSE(h.controller().isPlaying());
}

TEST(PanelTest, ShortcutsPopupOffersClearAllOnlyWithAShortcut)
{
    PanelHarness h;
    test::ScriptedShortcuts table;
    auto panel = shownPanel(h, &table);
    auto* row = panel->findChild<MenuRow*>(QStringLiteral("shortcutsRow"));
    ASSERT_TRUE(row);
    EXPECT_EQ(row->value(), QStringLiteral("Not set"));
    panel->openShortcutsPopup();
    auto* popup = panel->findChild<QWidget*>(QStringLiteral("shortcutsPopup"));
    ASSERT_TRUE(popup);
    EXPECT_FALSE(popup->findChild<QPushButton*>(QStringLiteral("clearAllButton")));

    table.bound[1] = QStringLiteral("Ctrl+N");
    Q_EMIT table.changed();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(popup->findChild<QPushButton*>(QStringLiteral("clearAllButton")));
    EXPECT_EQ(row->value(), QStringLiteral("1 set"));

    // Closing the list ends a recording.
    panel->shortcuts().startRecording(2);
    popup->close();
    EXPECT_FALSE(panel->shortcuts().isRecording());
}

TEST(PanelTest, WithoutAShortcutTableTheRowIsAbsent)
{
    PanelHarness h;
    auto panel = shownPanel(h);
    EXPECT_FALSE(panel->findChild<MenuRow*>(QStringLiteral("shortcutsRow"))->isVisible());
    EXPECT_EQ(panel->findChild<MenuRow*>(QStringLiteral("advancedRow"))->value(),
              QStringLiteral("Off"));
}

TEST(PanelTest, BannerFollowsTheLibraryAndTheAlbum)
{
    PanelHarness h;
    test::ScriptedSettings settings;
    settings.login = settings.updates = true;
    auto panel = shownPanel(h, nullptr, &settings);
    EXPECT_EQ(settings.refreshes, 1) << "the login state is read again when the panel shows";
    EXPECT_EQ(panel->findChild<MenuRow*>(QStringLiteral("advancedRow"))->value(),
              QStringLiteral("Login - App updates"));
    auto* banner = panel->findChild<QWidget*>(QStringLiteral("libraryBanner"));
    auto* retry = panel->findChild<QPushButton*>(QStringLiteral("retryButton"));
    EXPECT_TRUE(banner->isVisible()) << "nothing installed yet";
    h.waitForNetwork();
    EXPECT_TRUE(retry->isVisible());
    h.selectImportedAlbum(1);
    EXPECT_FALSE(banner->isVisible());
    EXPECT_EQ(panel->findChild<MenuRow*>(QStringLiteral("songsRow"))->value(),
              QStringLiteral("1 songs"));
}

TEST(PanelTest, ProgressSeeksOnlyOnRelease)
{
    PanelHarness h;
    auto panel = shownPanel(h);
    auto* time = panel->findChild<QLabel*>(QStringLiteral("displayTime"));
    EXPECT_EQ(time->text(), h.controller().displayTime());
    auto* volume = panel->findChild<QLabel*>(QStringLiteral("volumeText"));
    h.controller().setVolume(0.5);
    EXPECT_EQ(volume->text(), QStringLiteral("50%"));
}

} // namespace
} // namespace calmcove
