#pragma once

// The plain values the panel's presenters hand to its widgets: one entry of a menu or an
// option list, and the look of the library banner.

#include <QString>

namespace calmcove {

// One choosable line: a menu entry or an option of a popup.
struct PanelEntry
{
    QString title;
    QString subtitle; // empty: none
    QString symbol;   // empty: no icon
    bool isSelected = false;
    bool isEnabled = true;

    bool operator==(const PanelEntry&) const = default;
};

// The banner colours the library status uses.
enum class BannerTone
{
    red,
    green,
    orange,
    blue
};

} // namespace calmcove
