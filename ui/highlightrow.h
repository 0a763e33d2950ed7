#pragma once

// The clickable row that menu rows and popup choices are made of: it takes keyboard focus
// by tab, fills the width, and highlights under the pointer, when focused and while pressed.

#include <QAbstractButton>

class QPainter;

namespace calmcove {

class HighlightRow : public QAbstractButton
{
    Q_OBJECT
protected:
    explicit HighlightRow(QWidget* parent);

    // The rounded highlight behind the row's content, where one applies.
    void paintHighlight(QPainter& painter) const;
    // What text and symbols are drawn in.
    QPalette::ColorGroup colorGroup() const;
    QIcon::Mode iconMode() const;

    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    bool m_hovered = false;
};

} // namespace calmcove
