#pragma once

// The album manager's questions asked with Qt message boxes and file dialogs, modal to
// the album manager window.

#include "albummanagerdialogs.h"

#include <QPointer>
#include <QWidget>

namespace calmcove {

class QtAlbumManagerDialogs : public AlbumManagerDialogs
{
public:
    void setParentWindow(QWidget* window) { m_parent = window; }

    bool confirmDeleteAlbum(const QString& albumName) override;
    bool confirmDeleteTracks(int count) override;
    QString chooseNewAlbumArtwork() override;

private:
    QPointer<QWidget> m_parent;
};

} // namespace calmcove
