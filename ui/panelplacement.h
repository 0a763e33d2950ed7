#pragma once

// Where the player panel opens: centred under the tray icon when the icon sits in the
// upper half of the screen, above it otherwise, or at the cursor when the tray does not
// tell where its icon is; always inside the screen's available area.

#include <QRect>

namespace calmcove {

// `anchor`: the icon's geometry, or an empty rectangle at the cursor. `available`: the
// available area of the screen that holds the anchor.
QRect panelPlacement(QSize panelSize, const QRect& anchor, const QRect& available);

} // namespace calmcove
