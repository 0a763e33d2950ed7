#pragma once

// The small widgets the panel and its popups are made of, styled alike.

#include <QString>
#include <Qt>

class QFrame;
class QLabel;
class QSlider;
class QToolButton;

namespace calmcove {

// A flat button showing `symbol`, with `title` as its tool tip and accessible name.
QToolButton* iconButton(const QString& symbol, const QString& title, int iconSize = 18,
                        Qt::FocusPolicy focus = Qt::TabFocus);
// A horizontal slider from 0 to `maximum`, reached with Tab.
QSlider* slider(const QString& objectName, const QString& accessibleName, int maximum);
// A label in the palette's secondary text colour.
QLabel* secondaryLabel(const QString& text = {});
// A thin horizontal rule between sections.
QFrame* divider();

} // namespace calmcove
