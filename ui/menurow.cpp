#include "menurow.h"

#include "panelstyle.h"
#include "symbols.h"

#include <QPainter>

namespace calmcove {

MenuRow::MenuRow(const QString& symbol, const QString& title, QWidget* parent)
    : HighlightRow(parent), m_symbol(symbol)
{
    setText(title);
    setAccessibleName(title);
}

void MenuRow::setValue(const QString& value)
{
    if (value == m_value)
        return;
    m_value = value;
    setAccessibleDescription(value);
    update();
}

void MenuRow::setTrailingSymbol(const QString& symbol)
{
    m_trailingSymbol = symbol;
    update();
}

QSize MenuRow::sizeHint() const
{
    return {200, qMax(30, fontMetrics().height() + 14)};
}

void MenuRow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRect bounds = rect();
    paintHighlight(painter);
    const int iconSize = 16;
    const int y = (bounds.height() - iconSize) / 2;
    symbolIcon(m_symbol).paint(&painter, QRect(8, y, iconSize, iconSize), Qt::AlignCenter,
                               iconMode());

    int right = bounds.width() - 8;
    if (!m_trailingSymbol.isEmpty()) {
        const int trailing = 10;
        ownSymbolIcon(m_trailingSymbol)
            .paint(&painter,
                   QRect(right - trailing, (bounds.height() - trailing) / 2, trailing, trailing),
                   Qt::AlignCenter, QIcon::Disabled);
        right -= trailing + 8;
    }
    const int left = 8 + iconSize + 10;
    const int titleWidth = fontMetrics().horizontalAdvance(text());
    painter.setPen(palette().color(colorGroup(), QPalette::WindowText));
    painter.drawText(QRect(left, 0, titleWidth, bounds.height()), Qt::AlignVCenter, text());
    if (!m_value.isEmpty()) {
        const int valueLeft = left + titleWidth + 12;
        const QString shown =
            fontMetrics().elidedText(m_value, Qt::ElideRight, qMax(0, right - valueLeft));
        painter.setPen(PanelStyle::secondaryText(palette()));
        painter.drawText(QRect(valueLeft, 0, right - valueLeft, bounds.height()),
                         Qt::AlignVCenter | Qt::AlignRight, shown);
    }
}

} // namespace calmcove
