#pragma once

// One choice in a popup: a symbol, a title, an optional subtitle, and a filled check mark
// when it is the current choice. Clicking it emits clicked(). Used by the player panel's
// Mood and Kind popups and by the album manager.

#include "highlightrow.h"
#include "panelitems.h"

namespace calmcove {

class OptionRow : public HighlightRow
{
    Q_OBJECT
public:
    explicit OptionRow(const PanelEntry& entry, QWidget* parent = nullptr);

    void setEntry(const PanelEntry& entry);
    const PanelEntry& entry() const { return m_entry; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    PanelEntry m_entry;
};

} // namespace calmcove
