#pragma once

// Icons are data: the system symbol names the interface speaks of, mapped to freedesktop
// icon-theme names (Adwaita when the desktop names no theme). Symbolic icons are drawn in
// the colour asked for, so they read on light and dark palettes alike.

#include <QColor>
#include <QIcon>
#include <QString>

class QAbstractButton;
class QPalette;

namespace calmcove {

// The theme name for a symbol name, or an empty string for an unknown one.
QString themeIconName(const QString& symbolName);

// The symbol tinted with `color`; a null icon for an unknown symbol.
QIcon symbolIcon(const QString& symbolName, const QColor& color);

// The red of destructive actions, readable on the palette's window colour.
QColor destructiveColor(const QPalette& palette);
// Gives a button the destructive red for its text and icon, keeping its disabled look.
void markDestructive(QAbstractButton& button, const QString& symbolName = {});

} // namespace calmcove
