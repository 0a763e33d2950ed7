// The panel's texts, states and rules read from its presenters, without any widget.

#include "uitestsupport.h"

#include "app/appsettings.h"
#include "model/tracklibrary.h"
#include "platform/virtualkeys.h"
#include "shortcuts/shortcutmanager.h"
#include "ui/advancedpresenter.h"
#include "ui/librarystatuspresenter.h"
#include "ui/nowplayingpresenter.h"
#include "ui/panelmenupresenter.h"
#include "ui/panelplacement.h"
#include "ui/shortcutspresenter.h"
#include "ui/symbols.h"
#include "updates/appstoreversionchecker.h"

#include <gtest/gtest.h>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QSignalSpy>

namespace calmcove {
namespace {

using test::PanelHarness;

PanelMenuPresenter menusOf(PanelHarness& h)
{
    return PanelMenuPresenter(h.controller(), h.albums(), h.library(), "https://example.org/",
                              "2.3");
}

TEST(PresenterTest, BannerOnlyForTheDefaultAlbumWithItsNoticeAndRetry)
{
    PanelHarness h;
    LibraryStatusPresenter banner(h.library(), h.albums());
    h.waitForNetwork();
    ASSERT_EQ(h.library().status().kind, AudioPackStatus::Kind::waitingForNetwork);
    EXPECT_TRUE(banner.isVisible());
    EXPECT_EQ(banner.tone(), BannerTone::orange);
    EXPECT_EQ(banner.symbol(), "wifi.exclamationmark");
    EXPECT_EQ(banner.notice(), QStringLiteral("Starter tracks play now. Calmcove will continue "
                                              "the full library when the network returns."));
    EXPECT_TRUE(banner.showsRetry());
    EXPECT_FALSE(banner.title().isEmpty());

    h.selectImportedAlbum(1);
    EXPECT_FALSE(banner.isVisible());
}

TEST(PresenterTest, SongNotYetDownloadedStartsTheInstallWhenIdleAndIsDisabledWhenBusy)
{
    PanelHarness h;
    PanelMenuPresenter menus = menusOf(h);
    h.controller().selectKind(CalmKind::all);
    const QList<CalmTrack> tracks = h.controller().filteredTracks();
    const QList<PanelEntry> entries = menus.songEntries();
    ASSERT_EQ(entries.size(), tracks.size());
    int cloud = -1;
    for (int i = 0; i < entries.size(); ++i) {
        if (entries[i].symbol == QLatin1String("icloud.and.arrow.down"))
            cloud = i;
    }
    ASSERT_GE(cloud, 0) << "the catalogue has tracks that are not downloaded";
    EXPECT_TRUE(entries[cloud].isEnabled);
    const CalmTrack current = h.controller().currentTrack();
    EXPECT_EQ(entries[tracks.indexOf(current)].symbol, "checkmark.circle.fill");

    menus.chooseSong(cloud);
    EXPECT_NE(h.library().status().kind, AudioPackStatus::Kind::notInstalled);
    EXPECT_EQ(h.controller().currentTrack(), current);

    PanelHarness busy;
    busy.waitForNetwork();
    PanelMenuPresenter busyMenus = menusOf(busy);
    EXPECT_FALSE(busyMenus.songEntries()[cloud].isEnabled);
    EXPECT_TRUE(busyMenus.repairEnabled()) << "waiting for the network is not busy for repair";
}

TEST(PresenterTest, NoSongsShowsTheCloudNoticeOnlyWhileBusy)
{
    PanelHarness h;
    PanelMenuPresenter menus = menusOf(h);
    h.selectImportedAlbum(0);
    EXPECT_EQ(menus.songsValue(), "0 songs");
    EXPECT_EQ(menus.albumValue(), "Empty");
    EXPECT_FALSE(menus.cloudTracksEntry());
    h.waitForNetwork();
    ASSERT_TRUE(menus.cloudTracksEntry());
    EXPECT_EQ(menus.cloudTracksEntry()->title, "Cloud tracks unlock after download");
}

TEST(PresenterTest, AdvancedSummaryJoinsItsParts)
{
    PanelHarness h;
    AdvancedPresenter advanced(&h.runtime->appSettings(), &h.runtime->appStoreVersionChecker());
    for (const auto& [login, updates, summary] : {std::tuple{false, false, "Off"},
                                                  {true, false, "Login"},
                                                  {true, true, "Login - App updates"},
                                                  {false, true, "App updates"}}) {
        advanced.setLaunchAtLogin(login);
        advanced.setAutomaticUpdates(updates);
        EXPECT_EQ(advanced.summary(), summary);
    }
    EXPECT_EQ(AdvancedPresenter(nullptr, nullptr).summary(), "Off");
}

TEST(PresenterTest, ShortcutRowsRecordingAndClearAll)
{
    PanelHarness h;
    ShortcutManager& manager = h.runtime->shortcutManager();
    ShortcutsPresenter shortcuts(&manager);
    EXPECT_EQ(shortcuts.summary(), "Not set");
    EXPECT_FALSE(shortcuts.showsClearAll());
    EXPECT_EQ(shortcuts.rows()[2].title, "Back");
    EXPECT_EQ(shortcuts.rows()[0].buttonText, "Set");

    QSignalSpy changes(&shortcuts, &ShortcutsPresenter::changed);
    shortcuts.startRecording(ShortcutAction::next);
    EXPECT_EQ(changes.size(), 1);
    EXPECT_EQ(shortcuts.rows()[1].buttonText, "Listening");
    EXPECT_FALSE(shortcuts.rows()[1].buttonEnabled);
    EXPECT_EQ(shortcuts.rows()[1].detail, "Press shortcut");
    manager.setShortcut({40, carbon::controlKey}, ShortcutAction::next);
    shortcuts.stopRecording();
    EXPECT_EQ(shortcuts.summary(), "1 set");
    EXPECT_EQ(shortcuts.rows()[1].buttonText, "Change");
    EXPECT_EQ(shortcuts.rows()[1].detail, "\u2303K");
    EXPECT_TRUE(shortcuts.rows()[1].showsClear);
    EXPECT_EQ(shortcuts.rows()[1].clearHelp, "Clear Next");
    EXPECT_TRUE(shortcuts.showsClearAll());

    manager.setShortcut({11, carbon::controlKey}, ShortcutAction::previous);
    EXPECT_EQ(shortcuts.summary(), "2 set");
    shortcuts.startRecording(ShortcutAction::playPause);
    shortcuts.clearAll();
    EXPECT_FALSE(shortcuts.isRecording());
    EXPECT_EQ(shortcuts.summary(), "Not set");
}

TEST(PresenterTest, HeaderTransportVolumeAndTimerTexts)
{
    PanelHarness h;
    NowPlayingPresenter now(h.controller(), h.albums());
    PanelMenuPresenter menus = menusOf(h);
    EXPECT_EQ(now.badgeText(), "Paused");
    EXPECT_EQ(now.playPauseSymbol(), "play.fill");
    EXPECT_TRUE(now.showsFilterButtons());
    now.chooseKind(2);
    EXPECT_EQ(h.controller().selectedKind(), CalmKind::vaporwave);
    EXPECT_TRUE(now.kindOptions()[2].isSelected);
    h.controller().setShuffleEnabled(false);
    EXPECT_EQ(now.shuffleCaption(), "Off");
    EXPECT_EQ(now.shuffleHelp(), "Enable shuffle");
    now.toggleShuffle();
    EXPECT_EQ(now.shuffleHelp(), "Disable shuffle");
    h.controller().setVolume(0.756);
    EXPECT_EQ(now.volumeText(), "75%");
    EXPECT_EQ(menus.timerValue(), "Off");
    EXPECT_FALSE(now.showsSleepRemaining());
    menus.chooseTimer(1);
    EXPECT_EQ(menus.timerValue(), "25:00");
    EXPECT_EQ(now.sleepRemainingText(), "25:00");
    menus.cancelTimer();
    EXPECT_EQ(menus.timerValue(), "Off");
    EXPECT_EQ(menus.versionText(), "Direct version 2.3");
    ASSERT_EQ(menus.helpLinks().size(), 3);
    EXPECT_EQ(menus.helpLinks()[1].url, QUrl("https://example.org/terms"));
}

TEST(PresenterTest, PanelPlacementStaysInsideTheAvailableArea)
{
    const QRect screen(0, 0, 1920, 1080);
    const QSize panel(330, 600);
    struct Case
    {
        QRect anchor;
        QPoint expected;
    } cases[] = {
        {QRect(1800, 0, 24, 24), QPoint(1590, 28)},   // top bar, right: under, pulled in
        {QRect(900, 1056, 24, 24), QPoint(746, 452)}, // bottom bar: above
        {QRect(0, 0, 1, 1), QPoint(0, 5)},            // cursor in the corner
        {QRect(1900, 1070, 1, 1), QPoint(1590, 466)}, // cursor bottom right
    };
    for (const Case& c : cases)
        EXPECT_EQ(panelPlacement(panel, c.anchor, screen).topLeft(), c.expected) << c.anchor.x();
}

TEST(PresenterTest, EverySymbolHasItsOwnCrispSvg)
{
    for (const QString& symbol : symbolNames()) {
        ASSERT_TRUE(QFile::exists(symbolResourcePath(symbol))) << symbol.toStdString();
        const QPixmap pixmap = ownSymbolIcon(symbol).pixmap(QSize(16, 16), 2.0);
        EXPECT_EQ(pixmap.size(), QSize(32, 32)) << symbol.toStdString();
        const QImage image = pixmap.toImage();
        int opaque = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                opaque += qAlpha(image.pixel(x, y)) > 200 ? 1 : 0;
        EXPECT_GT(opaque, 20) << symbol.toStdString() << " draws nothing at 2x";
    }
    for (Mood mood : allMoods)
        EXPECT_TRUE(symbolNames().contains(symbolName(mood)));
    for (CalmKind kind : allKinds)
        EXPECT_TRUE(symbolNames().contains(symbolName(kind)));
}

} // namespace
} // namespace calmcove
