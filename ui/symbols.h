#pragma once

// The interface's symbols: one table from the symbol names the interface uses ("play.fill",
// "waveform", ...) to a freedesktop icon-theme name, with a monochrome SVG of our own for
// every symbol. Icons are drawn at the painter's device pixel ratio, so they stay sharp at
// every scale, and our own SVGs take the colour of the palette's text (light and dark).

#include <QIcon>
#include <QStringList>

namespace calmcove {

// Every symbol name the interface may ask for, in table order.
QStringList symbolNames();

// The freedesktop icon-theme name standing in for `symbol`, empty when none fits.
QString symbolThemeName(const QString& symbol);

// The resource path of our own SVG for `symbol` (":/symbols/<symbol>.svg").
QString symbolResourcePath(const QString& symbol);

// The theme's icon when the current theme has one, else our SVG tinted with the palette's
// text colour (disabled text colour for disabled icons). An unknown name gives a null icon.
QIcon symbolIcon(const QString& symbol);

// Our SVG only, tinted with the palette; used where the look must not depend on the theme.
QIcon ownSymbolIcon(const QString& symbol);

// Our SVG in one fixed colour (the library banner's tones).
QIcon tintedSymbolIcon(const QString& symbol, const QColor& colour);

// The tray's icon for `symbol`: a light glyph with a dark rim, readable on light and dark
// panels alike, at the usual tray sizes.
QIcon traySymbolIcon(const QString& symbol);

} // namespace calmcove
