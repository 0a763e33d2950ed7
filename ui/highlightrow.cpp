#include "highlightrow.h"

#include <QPainter>

namespace calmcove {

HighlightRow::HighlightRow(QWidget* parent) : QAbstractButton(parent)
{
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAttribute(Qt::WA_Hover);
}

void HighlightRow::paintHighlight(QPainter& painter) const
{
    if (!(m_hovered || hasFocus() || isDown()) || !isEnabled())
        return;
    QColor highlight = palette().color(QPalette::WindowText);
    highlight.setAlphaF(isDown() ? 0.14f : 0.07f);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(highlight);
    painter.drawRoundedRect(rect().adjusted(0, 1, 0, -1), 6, 6);
    painter.restore();
}

QPalette::ColorGroup HighlightRow::colorGroup() const
{
    return isEnabled() ? QPalette::Active : QPalette::Disabled;
}

QIcon::Mode HighlightRow::iconMode() const
{
    return isEnabled() ? QIcon::Normal : QIcon::Disabled;
}

void HighlightRow::enterEvent(QEnterEvent* event)
{
    m_hovered = true;
    update();
    QAbstractButton::enterEvent(event);
}

void HighlightRow::leaveEvent(QEvent* event)
{
    m_hovered = false;
    update();
    QAbstractButton::leaveEvent(event);
}

} // namespace calmcove
