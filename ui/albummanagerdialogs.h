#pragma once

// The questions the album manager asks the user: the two delete confirmations and the
// picture for a new album. The window answers them with Qt dialogs; tests with a script.
// Main thread only; the calls are modal.

#include <QString>

namespace calmcove {

class AlbumManagerDialogs
{
public:
    virtual ~AlbumManagerDialogs() = default;

    // "Delete this album?" with "Delete Album" (destructive) and "Cancel".
    virtual bool confirmDeleteAlbum(const QString& albumName) = 0;
    // "Delete selected tracks?" with "Delete Tracks" (destructive) and "Cancel".
    virtual bool confirmDeleteTracks(int count) = 0;
    // "Choose Artwork" with the prompt "Choose": one image file. Empty when cancelled.
    virtual QString chooseNewAlbumArtwork() = 0;
};

} // namespace calmcove
