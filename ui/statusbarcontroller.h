#pragma once

// Calmcove's face on the desktop: the tray icon (StatusNotifierItem or XEmbed) that shows
// "waveform" while playing and "play.fill" otherwise (with a mark while an update waits), toggles
// playback on a left click and opens or closes a fresh player panel on a right click. Where no tray
// exists it says so once on the standard error and shows the panel as a small ordinary window
// instead, which a second launch or a media client's Raise brings back. Lives as long as the
// process. Main thread only.

#include "playerpanel.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>

class QSystemTrayIcon;

namespace calmcove {

class StatusBarController : public QObject
{
    Q_OBJECT
public:
    enum class TrayMode
    {
        automatic, // the tray when the desktop has one, else the window
        tray,
        window,
    };

    // `inputs` carries the player, the stores, the settings, the shortcuts and the album
    // manager action on to every panel; the objects must outlive the controller. Draws
    // the first icon at once; without a tray the panel window opens on the next turn.
    StatusBarController(const PlayerPanelInputs& inputs, TrayMode mode = TrayMode::automatic,
                        QObject* parent = nullptr);
    ~StatusBarController() override;

    bool usesTray() const { return m_statusItem != nullptr; }
    QSystemTrayIcon* statusItem() const { return m_statusItem; }
    // The symbol the icon shows now.
    QString iconSymbol() const { return m_iconSymbol; }
    // The current panel: shown, or closed and waiting for its tear-down; null otherwise.
    PlayerPanel* panel() const { return m_panel; }
    bool panelIsShown() const;

    void updateStatusIcon();
    // Left: close an open panel, then toggle playback. Right: open or close the panel.
    void handleStatusItemClick(Qt::MouseButton button);
    // Opens the panel, or raises the one that is shown (second launch, MPRIS Raise,
    // "--panel").
    void showPanel();

Q_SIGNALS:
    void panelShown(calmcove::PlayerPanel* panel);

private:
    void togglePanel();
    void openPanel();
    PlayerPanel* makePanel();
    void panelDidClose(PlayerPanel* panel, bool byOutsideClick);
    void scheduleTearDown(PlayerPanel* panel);
    void tearDownPanel(PlayerPanel* panel);
    QRect anchorRect() const;

    PlayerPanelInputs m_inputs;
    QSystemTrayIcon* m_statusItem = nullptr;
    QString m_iconSymbol;
    bool m_showsUpdateReminder = false;
    QPointer<PlayerPanel> m_panel;
    // The press that closed a panel by clicking elsewhere may be the tray click itself;
    // it must not open the panel again at once.
    QElapsedTimer m_sinceOutsideClose;
};

} // namespace calmcove
