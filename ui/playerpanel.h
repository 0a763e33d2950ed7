#pragma once

// The player panel: what plays, transport, progress and volume, the library banner, the
// Album, Song list, Shortcuts, Timer and Advanced rows, "About & Help" and "Quit Calmcove".
// Every text and state comes from the presenters; this class lays out, binds and forwards.
// A panel is made fresh each time it opens and is deleted after it closes, so its
// transient state (open popups, a shortcut recording) never survives. Main thread only.

#include <functional>
#include <QFrame>
#include <QPointer>

class QLabel;
class QSlider;
class QToolButton;
class QPushButton;
class QKeyEvent;

namespace calmcove {

class AdvancedPresenter;
class AppSettings;
class AppStoreVersionChecker;
class AlbumArtworkView;
class AlbumStore;
class AudioController;
class AudioPackStore;
class CalmcoveRuntime;
class LibraryStatusPresenter;
class MenuRow;
class NowPlayingPresenter;
class PanelMenuPresenter;
class PanelPopup;
class ShortcutManager;
class ShortcutsPresenter;

struct PlayerPanelInputs
{
    AudioController* controller = nullptr;
    AlbumStore* albumStore = nullptr;
    AudioPackStore* audioPackStore = nullptr;
    // Null: the settings switches (or the shortcut rows) are left out.
    AppSettings* appSettings = nullptr;
    AppStoreVersionChecker* updateChecker = nullptr;
    ShortcutManager* shortcutManager = nullptr;
    // Opens the album manager.
    std::function<void()> openAlbums;
    // Opens a link in the default browser; QDesktopServices::openUrl when unset.
    std::function<void(const QUrl&)> openURL;
    // Ends the application; QCoreApplication::quit when unset.
    std::function<void()> quit;
    QString websiteURL;
    QString appVersion;

    // The runtime's player, stores, settings, update checker and shortcut manager.
    static PlayerPanelInputs of(CalmcoveRuntime& runtime);
};

class PlayerPanel : public QFrame
{
    Q_OBJECT
public:
    enum class Presentation
    {
        popup,  // frameless, closes when the user clicks elsewhere
        window, // an ordinary small window (no tray); closing it keeps Calmcove running
    };

    // The stores and the player must outlive the panel.
    PlayerPanel(const PlayerPanelInputs& inputs, Presentation presentation,
                QWidget* parent = nullptr);
    ~PlayerPanel() override;

    Presentation presentation() const { return m_presentation; }
    NowPlayingPresenter& nowPlaying() const { return *m_nowPlaying; }
    LibraryStatusPresenter& libraryStatus() const { return *m_libraryStatus; }
    PanelMenuPresenter& menus() const { return *m_menus; }
    AdvancedPresenter& advanced() const { return *m_advanced; }
    ShortcutsPresenter& shortcuts() const { return *m_shortcuts; }

    // The keyboard rule: Space toggles playback when it reaches this panel's window while
    // it is active, with no Shift, Control, Alt or Super held, outside a text field and
    // while no shortcut is recorded. While recording, key presses in the panel and its
    // popups go to the recording. Returns whether the event was taken.
    bool handleKeyPress(QObject* target, QKeyEvent* event);

    // Opens the popups and menus of the rows (also used by tests and screenshots).
    void openShortcutsPopup();
    void openMoodPopup();
    void openKindPopup();
    void openAdvancedPopup();
    void openAboutPopup();

Q_SIGNALS:
    // The panel was hidden or closed; `byOutsideClick` when a click elsewhere closed it.
    void closed(bool byOutsideClick);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    QWidget* buildHeader();
    QWidget* buildTransport();
    QWidget* buildProgress();
    QWidget* buildVolume();
    QWidget* buildBanner();
    QWidget* buildMenuRows();
    QWidget* buildQuitSection();

    void bindHeader();
    void bindTransport();
    void bindClock();
    void bindSleep();
    void bindVolume();
    void bindBanner();
    void bindRows();
    void rebuildShortcutsPopup();
    void rebuildAdvancedPopup();

    void showAlbumMenu();
    void showSongMenu();
    void showTimerMenu();
    void openURL(const QUrl& url);
    bool belongsToPanel(QObject* object) const;

    Presentation m_presentation;
    PlayerPanelInputs m_inputs;
    NowPlayingPresenter* m_nowPlaying;
    LibraryStatusPresenter* m_libraryStatus;
    PanelMenuPresenter* m_menus;
    AdvancedPresenter* m_advanced;
    ShortcutsPresenter* m_shortcuts;
    bool m_closedByOutsideClick = false;

    AlbumArtworkView* m_artwork = nullptr;
    QLabel* m_trackTitle = nullptr;
    QLabel* m_albumName = nullptr;
    QLabel* m_badge = nullptr;
    QWidget* m_filters = nullptr;
    QToolButton* m_moodButton = nullptr;
    QToolButton* m_kindButton = nullptr;
    QToolButton* m_playPause = nullptr;
    QToolButton* m_shuffle = nullptr;
    QSlider* m_progress = nullptr;
    QLabel* m_time = nullptr;
    QLabel* m_sleepIcon = nullptr;
    QLabel* m_sleepTime = nullptr;
    QSlider* m_volume = nullptr;
    QLabel* m_volumeText = nullptr;
    QFrame* m_banner = nullptr;
    QLabel* m_bannerIcon = nullptr;
    QLabel* m_bannerTitle = nullptr;
    QLabel* m_bannerDetail = nullptr;
    QLabel* m_bannerNotice = nullptr;
    QPushButton* m_retry = nullptr;
    MenuRow* m_albumRow = nullptr;
    MenuRow* m_songsRow = nullptr;
    MenuRow* m_shortcutsRow = nullptr;
    MenuRow* m_timerRow = nullptr;
    MenuRow* m_advancedRow = nullptr;
    QPointer<PanelPopup> m_optionsPopup;
    QPointer<PanelPopup> m_shortcutsPopup;
    QPointer<PanelPopup> m_advancedPopup;
    QPointer<PanelPopup> m_aboutPopup;
};

} // namespace calmcove
