#pragma once

// The interface's symbols: one table from the symbol names the interface uses ("play.fill",
// "waveform", "trash", ...) to a freedesktop icon-theme name and, for most, a monochrome
// SVG of our own. Our SVGs are drawn at the painter's device pixel ratio, so they stay
// sharp at every scale, and take the palette's text colour (light and dark) or the colour
// asked for.

#include <QColor>
#include <QIcon>
#include <QStringList>

class QAbstractButton;
class QPalette;

namespace calmcove {

// The symbols that have an SVG of our own, in table order.
QStringList symbolNames();

// The freedesktop icon-theme name standing in for `symbol`, empty when none fits.
QString symbolThemeName(const QString& symbol);

// The resource path of our own SVG for `symbol` (":/symbols/<symbol>.svg").
QString symbolResourcePath(const QString& symbol);

// The theme's icon when the current theme has one, else our SVG tinted with the palette's
// text colour (disabled text colour for disabled icons). An unknown name gives a null icon.
QIcon symbolIcon(const QString& symbol);

// The symbol in one colour: our SVG where we have one, else the theme icon's shape
// (Adwaita when the desktop names no theme). A null icon for an unknown symbol.
QIcon symbolIcon(const QString& symbol, const QColor& colour);

// Our SVG only, tinted with the palette; used where the look must not depend on the theme.
QIcon ownSymbolIcon(const QString& symbol);

// The tray's icon for `symbol`: a light glyph with a dark rim, readable on light and dark
// panels alike, at the usual tray sizes; `attention` adds an orange dot in the top corner.
QIcon traySymbolIcon(const QString& symbol, bool attention = false);

// The red of destructive actions, readable on the palette's window colour.
QColor destructiveColor(const QPalette& palette);
// Gives a button the destructive red for its text and icon, keeping its disabled look.
void markDestructive(QAbstractButton& button, const QString& symbol = {});

} // namespace calmcove
