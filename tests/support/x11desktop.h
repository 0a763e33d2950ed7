#pragma once

// An X11 desktop as a user meets it, driven from outside: a real tray (trayer) at the top
// right, windows found and clicked with xdotool while the caller's event loop keeps
// turning (so its own windows answer meanwhile). The display is the one in DISPLAY.

#include <QPoint>
#include <QProcess>
#include <QRect>
#include <QString>
#include <QStringList>

namespace calmcove::test {

class PrivateSessionBus;

// Starts trayer in `tray` and waits until its window shows; false when it did not.
bool startTray(QProcess& tray, const PrivateSessionBus& bus);

// The viewable windows of a WM_CLASS ("calmcove": the tray icon and panels), as ids.
QStringList visibleWindows(const PrivateSessionBus& bus, const QString& windowClass);
QRect windowGeometry(const PrivateSessionBus& bus, const QString& window);
// Moves the pointer to `at` and clicks `button` (1 left, 3 right).
void clickAt(const PrivateSessionBus& bus, QPoint at, int button);

} // namespace calmcove::test
