#include "panelpopup.h"

#include <QGuiApplication>
#include <QLayoutItem>
#include <QScreen>
#include <QVBoxLayout>
#include <QWidget>

namespace calmcove {

PanelPopup::PanelPopup(QWidget* panel) : QFrame(panel, Qt::Popup), m_layout(new QVBoxLayout(this))
{
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);
    m_layout->setContentsMargins(8, 8, 8, 8);
    m_layout->setSpacing(2);
}

void PanelPopup::clearContent()
{
    while (QLayoutItem* item = m_layout->takeAt(0)) {
        if (QWidget* widget = item->widget())
            widget->deleteLater();
        delete item;
    }
}

void PanelPopup::popUp(QWidget* anchor)
{
    adjustSize();
    const QPoint below = anchor->mapToGlobal(QPoint(0, anchor->height() + 2));
    const QScreen* screen = anchor->screen() ? anchor->screen() : QGuiApplication::primaryScreen();
    const QRect available = screen->availableGeometry();
    QPoint position = below;
    if (below.y() + height() > available.bottom())
        position.setY(anchor->mapToGlobal(QPoint(0, 0)).y() - height() - 2);
    position.setX(qBound(available.left(), position.x(), available.right() - width()));
    position.setY(qBound(available.top(), position.y(), available.bottom() - height()));
    move(position);
    show();
    activateWindow();
}

void PanelPopup::hideEvent(QHideEvent* event)
{
    QFrame::hideEvent(event);
    Q_EMIT closed();
}

} // namespace calmcove
