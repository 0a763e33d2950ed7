#include "panelplacement.h"

#include <QtGlobal>

namespace calmcove {

QRect panelPlacement(QSize panelSize, const QRect& anchor, const QRect& available)
{
    constexpr int gap = 4;
    const bool opensDownwards = anchor.center().y() < available.center().y();
    QPoint position(anchor.center().x() - panelSize.width() / 2,
                    opensDownwards ? anchor.bottom() + 1 + gap
                                   : anchor.top() - gap - panelSize.height());
    position.setX(qBound(available.left(), position.x(),
                         qMax(available.left(), available.right() + 1 - panelSize.width())));
    position.setY(qBound(available.top(), position.y(),
                         qMax(available.top(), available.bottom() + 1 - panelSize.height())));
    return QRect(position, panelSize);
}

} // namespace calmcove
