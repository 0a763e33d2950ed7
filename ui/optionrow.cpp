#include "optionrow.h"

#include "panelstyle.h"
#include "symbols.h"

#include <QPainter>

namespace calmcove {

OptionRow::OptionRow(const PanelEntry& entry, QWidget* parent) : HighlightRow(parent)
{
    setEntry(entry);
}

void OptionRow::setEntry(const PanelEntry& entry)
{
    m_entry = entry;
    setText(entry.title);
    setAccessibleName(entry.title);
    setAccessibleDescription(entry.subtitle);
    setEnabled(entry.isEnabled);
    updateGeometry();
    update();
}

QSize OptionRow::sizeHint() const
{
    const int lines = m_entry.subtitle.isEmpty() ? 1 : 2;
    QFont small = font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    const int height = fontMetrics().height() + (lines == 2 ? QFontMetrics(small).height() : 0);
    const int width = 40 +
                      qMax(fontMetrics().horizontalAdvance(m_entry.title),
                           QFontMetrics(small).horizontalAdvance(m_entry.subtitle)) +
                      34;
    return {width, height + 12};
}

void OptionRow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRect bounds = rect();
    paintHighlight(painter);
    const QIcon::Mode mode = iconMode();
    const int iconSize = 18;
    if (!m_entry.symbol.isEmpty())
        ownSymbolIcon(m_entry.symbol)
            .paint(&painter, QRect(8, (bounds.height() - iconSize) / 2, iconSize, iconSize),
                   Qt::AlignCenter, mode);
    const int checkSize = 16;
    int right = bounds.width() - 8;
    if (m_entry.isSelected) {
        symbolIcon(QStringLiteral("checkmark.circle.fill"))
            .paint(
                &painter,
                QRect(right - checkSize, (bounds.height() - checkSize) / 2, checkSize, checkSize),
                Qt::AlignCenter, mode);
    }
    right -= checkSize + 8;
    const int left = 8 + iconSize + 10;
    QFont titleFont = font();
    if (m_entry.isSelected)
        titleFont.setWeight(QFont::DemiBold);
    painter.setFont(titleFont);
    painter.setPen(palette().color(colorGroup(), QPalette::WindowText));
    const int titleHeight = QFontMetrics(titleFont).height();
    if (m_entry.subtitle.isEmpty()) {
        painter.drawText(QRect(left, 0, right - left, bounds.height()), Qt::AlignVCenter,
                         m_entry.title);
        return;
    }
    QFont small = font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    const int smallHeight = QFontMetrics(small).height();
    const int top = (bounds.height() - titleHeight - smallHeight) / 2;
    painter.drawText(QRect(left, top, right - left, titleHeight), Qt::AlignVCenter, m_entry.title);
    painter.setFont(small);
    painter.setPen(PanelStyle::secondaryText(palette()));
    painter.drawText(QRect(left, top + titleHeight, right - left, smallHeight), Qt::AlignVCenter,
                     m_entry.subtitle);
}

} // namespace calmcove
