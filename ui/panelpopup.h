#pragma once

// A small popup that belongs to the player panel (Mood, Kind, Shortcuts, Advanced, About):
// it opens under its anchor (above when there is no room), stays inside the screen's
// available area, closes when the user clicks elsewhere, and reports that it closed.

#include <QFrame>

class QVBoxLayout;

namespace calmcove {

class PanelPopup : public QFrame
{
    Q_OBJECT
public:
    // `panel` is the owner; the popup is its child and goes with it.
    explicit PanelPopup(QWidget* panel);

    QVBoxLayout* contentLayout() const { return m_layout; }
    // Removes every widget and item of the content.
    void clearContent();
    void popUp(QWidget* anchor);

Q_SIGNALS:
    void closed();

protected:
    void hideEvent(QHideEvent* event) override;

private:
    QVBoxLayout* m_layout;
};

} // namespace calmcove
