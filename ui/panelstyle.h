#pragma once

// Colours and sizes the panel's widgets share, derived from the desktop's palette.

#include "panelitems.h"

#include <QColor>
#include <QPalette>

namespace calmcove::PanelStyle {

inline constexpr int panelWidth = 330;

// Secondary text: the text colour, partly transparent, so it reads on light and dark.
inline QColor secondaryText(const QPalette& palette)
{
    QColor colour = palette.color(QPalette::WindowText);
    colour.setAlphaF(0.62f);
    return colour;
}

inline QColor toneColour(BannerTone tone)
{
    switch (tone) {
    case BannerTone::red:
        return QColor(0xe5, 0x48, 0x4d);
    case BannerTone::green:
        return QColor(0x30, 0xa4, 0x6c);
    case BannerTone::orange:
        return QColor(0xf0, 0x8c, 0x1a);
    case BannerTone::blue:
        break;
    }
    return QColor(0x2f, 0x80, 0xed);
}

} // namespace calmcove::PanelStyle
