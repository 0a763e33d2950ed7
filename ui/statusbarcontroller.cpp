#include "statusbarcontroller.h"

#include "panelplacement.h"
#include "playback/audiocontroller.h"
#include "symbols.h"
#include "updates/appstoreversionchecker.h"

#include <cstdio>
#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>

namespace calmcove {
namespace {

// Longer than a click's round trip through the tray, shorter than two deliberate clicks.
constexpr qint64 outsideCloseWindowMs = 300;

} // namespace

StatusBarController::StatusBarController(const PlayerPanelInputs& inputs, TrayMode mode,
                                         QObject* parent)
    : QObject(parent), m_inputs(inputs)
{
    const bool useTray = mode == TrayMode::tray ||
                         (mode == TrayMode::automatic && QSystemTrayIcon::isSystemTrayAvailable());
    // The icon follows every change of playback, whoever made it (panel, hotkey, media
    // keys); the update runs on the next turn of the event loop.
    connect(inputs.controller, &AudioController::playbackStateDidChange, this,
            &StatusBarController::updateStatusIcon, Qt::QueuedConnection);
    // An update found in the background waits for the user: the icon carries a mark.
    if (inputs.updateChecker)
        connect(inputs.updateChecker, &AppStoreVersionChecker::updateReminderVisibleChanged, this,
                &StatusBarController::updateStatusIcon);

    if (useTray) {
        m_statusItem = new QSystemTrayIcon(this);
        // No context menu: a right click must reach us as an activation.
        connect(m_statusItem, &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason reason) {
                    // A quick second click arrives as a double click; it is a click too.
                    if (reason == QSystemTrayIcon::Trigger ||
                        reason == QSystemTrayIcon::DoubleClick)
                        handleStatusItemClick(Qt::LeftButton);
                    else if (reason == QSystemTrayIcon::Context)
                        handleStatusItemClick(Qt::RightButton);
                });
    } else if (mode == TrayMode::automatic) {
        std::fputs("calmcove: no system tray found; the player panel opens as a window.\n", stderr);
    }
    updateStatusIcon();
    if (m_statusItem)
        m_statusItem->show();
    else
        QTimer::singleShot(0, this, &StatusBarController::showPanel);
}

StatusBarController::~StatusBarController()
{
    delete m_panel.data();
}

bool StatusBarController::panelIsShown() const
{
    const PlayerPanel* panel = m_panel;
    return panel && panel->isVisible();
}

void StatusBarController::updateStatusIcon()
{
    const AudioController* controller = m_inputs.controller;
    const QString symbol = controller && controller->isPlaying() ? QStringLiteral("waveform")
                                                                 : QStringLiteral("play.fill");
    const bool reminder = m_inputs.updateChecker && m_inputs.updateChecker->updateReminderVisible();
    if (symbol == m_iconSymbol && reminder == m_showsUpdateReminder)
        return;
    m_iconSymbol = symbol;
    m_showsUpdateReminder = reminder;
    if (!m_statusItem)
        return;
    m_statusItem->setIcon(traySymbolIcon(symbol, reminder));
    m_statusItem->setToolTip(reminder ? AppStoreVersionChecker::updateReminderToolTip
                                      : QStringLiteral("Calmcove"));
}

void StatusBarController::handleStatusItemClick(Qt::MouseButton button)
{
    if (button == Qt::RightButton) {
        togglePanel();
    } else if (button == Qt::LeftButton) {
        if (PlayerPanel* panel = m_panel) {
            panel->close();
            if (!panel->isVisible())
                scheduleTearDown(panel);
        }
        if (m_inputs.controller)
            m_inputs.controller->togglePlayPause();
    }
}

void StatusBarController::togglePanel()
{
    if (PlayerPanel* panel = m_panel; panel && panel->isVisible()) {
        panel->close();
        if (!panel->isVisible())
            scheduleTearDown(panel);
        return;
    }
    if (m_sinceOutsideClose.isValid() && m_sinceOutsideClose.elapsed() < outsideCloseWindowMs) {
        m_sinceOutsideClose.invalidate();
        return;
    }
    openPanel();
}

void StatusBarController::showPanel()
{
    if (PlayerPanel* panel = m_panel; panel && panel->isVisible()) {
        panel->raise();
        panel->activateWindow();
        return;
    }
    openPanel();
}

void StatusBarController::openPanel()
{
    // A fresh panel every time; the previous one, closed by now, goes at once.
    if (PlayerPanel* previous = m_panel) {
        m_panel = nullptr;
        previous->deleteLater();
    }
    PlayerPanel* panel = makePanel();
    m_panel = panel;
    panel->adjustSize();
    if (panel->presentation() == PlayerPanel::Presentation::popup) {
        const QRect anchor = anchorRect();
        const QScreen* screen = QGuiApplication::screenAt(anchor.center());
        if (!screen)
            screen = QGuiApplication::primaryScreen();
        const QRect available =
            screen ? screen->availableGeometry() : QRect(anchor.topLeft(), QSize(1, 1));
        panel->move(panelPlacement(panel->size(), anchor, available).topLeft());
    }
    panel->show();
    panel->setFocus();
    // Keyboard input goes to the panel at once.
    QTimer::singleShot(0, panel, [panel] {
        panel->raise();
        panel->activateWindow();
    });
    Q_EMIT panelShown(panel);
}

PlayerPanel* StatusBarController::makePanel()
{
    auto* panel = new PlayerPanel(m_inputs, m_statusItem ? PlayerPanel::Presentation::popup
                                                         : PlayerPanel::Presentation::window);
    connect(panel, &PlayerPanel::closed, this,
            [this, panel](bool byOutsideClick) { panelDidClose(panel, byOutsideClick); });
    return panel;
}

void StatusBarController::panelDidClose(PlayerPanel* panel, bool byOutsideClick)
{
    if (byOutsideClick)
        m_sinceOutsideClose.start();
    scheduleTearDown(panel);
}

void StatusBarController::scheduleTearDown(PlayerPanel* panel)
{
    QTimer::singleShot(0, this, [this, weak = QPointer(panel)] {
        if (PlayerPanel* alive = weak)
            tearDownPanel(alive);
    });
}

void StatusBarController::tearDownPanel(PlayerPanel* panel)
{
    // A tear-down meant for an older panel leaves the current one alone.
    if (panel != m_panel || panel->isVisible())
        return;
    m_panel = nullptr;
    panel->deleteLater();
}

QRect StatusBarController::anchorRect() const
{
    const QRect icon = m_statusItem ? m_statusItem->geometry() : QRect();
    if (icon.isValid() && !icon.isEmpty())
        return icon;
    return QRect(QCursor::pos(), QSize(1, 1));
}

} // namespace calmcove
