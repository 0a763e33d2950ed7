#pragma once

// One row of a panel's menu column: a symbol, a title, the current value on the right and
// a trailing symbol (a chevron by default, none for plain actions). Clicking it emits
// clicked(). Used by the player panel and the album manager.

#include "highlightrow.h"

namespace calmcove {

class MenuRow : public HighlightRow
{
    Q_OBJECT
public:
    MenuRow(const QString& symbol, const QString& title, QWidget* parent = nullptr);

    void setValue(const QString& value);
    QString value() const { return m_value; }
    QString title() const { return text(); }
    // Empty: none.
    void setTrailingSymbol(const QString& symbol);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_symbol;
    QString m_value;
    QString m_trailingSymbol = QStringLiteral("chevron.down");
};

} // namespace calmcove
