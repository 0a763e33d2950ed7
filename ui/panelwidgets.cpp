#include "panelwidgets.h"

#include "panelstyle.h"
#include "symbols.h"

#include <QFrame>
#include <QLabel>
#include <QSlider>
#include <QToolButton>

namespace calmcove {

QToolButton* iconButton(const QString& symbol, const QString& title, int iconSize,
                        Qt::FocusPolicy focus)
{
    auto* button = new QToolButton;
    button->setIcon(symbolIcon(symbol));
    button->setIconSize(QSize(iconSize, iconSize));
    button->setToolTip(title);
    button->setAccessibleName(title);
    button->setAutoRaise(true);
    button->setFocusPolicy(focus);
    return button;
}

QSlider* slider(const QString& objectName, const QString& accessibleName, int maximum)
{
    auto* slider = new QSlider(Qt::Horizontal);
    slider->setObjectName(objectName);
    slider->setRange(0, maximum);
    slider->setFocusPolicy(Qt::TabFocus);
    slider->setAccessibleName(accessibleName);
    return slider;
}

QLabel* secondaryLabel(const QString& text)
{
    auto* label = new QLabel(text);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, PanelStyle::secondaryText(palette));
    label->setPalette(palette);
    return label;
}

QFrame* divider()
{
    auto* line = new QFrame;
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

} // namespace calmcove
