#include "albumstoreselection.h"

#include "albums/albumstore.h"

namespace calmcove {

AlbumStoreSelection::AlbumStoreSelection(AlbumStore& store) : m_store(store) {}

CalmAlbum AlbumStoreSelection::selectedAlbum() const
{
    return m_store.selectedAlbum();
}

const CalmAlbum& AlbumStoreSelection::builtInAlbum() const
{
    return m_store.builtInAlbum();
}

QString AlbumStoreSelection::selectedAlbumID() const
{
    return m_store.selectedAlbumID();
}

void AlbumStoreSelection::setSelectedAlbumID(const QString& id)
{
    m_store.setSelectedAlbumID(id);
}

} // namespace calmcove
