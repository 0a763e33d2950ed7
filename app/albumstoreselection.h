#pragma once

// The albums as the player sees them, answered by the album store.

#include "playback/albumselection.h"

namespace calmcove {

class AlbumStore;

class AlbumStoreSelection : public AlbumSelection
{
public:
    // The store must outlive this object.
    explicit AlbumStoreSelection(AlbumStore& store);

    CalmAlbum selectedAlbum() const override;
    const CalmAlbum& builtInAlbum() const override;
    QString selectedAlbumID() const override;
    void setSelectedAlbumID(const QString& id) override;

private:
    AlbumStore& m_store;
};

} // namespace calmcove
