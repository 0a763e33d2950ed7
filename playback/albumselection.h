#pragma once

// What the playback controller needs of the album store: the album the listener selected,
// the default album, and the selected album's identifier to read and to set. The program
// answers with the album store; tests with albums built in memory. Main thread only.

#include "model/calmtrack.h"

namespace calmcove {

class AlbumSelection
{
public:
    virtual ~AlbumSelection() = default;

    // The album named by selectedAlbumID(), else the default album.
    virtual CalmAlbum selectedAlbum() const = 0;
    // The default album; the reference stays valid until its tracks change.
    virtual const CalmAlbum& builtInAlbum() const = 0;
    virtual QString selectedAlbumID() const = 0;
    // Remembers `id` as the selection (stored across launches by the program).
    virtual void setSelectedAlbumID(const QString& id) = 0;
};

} // namespace calmcove
