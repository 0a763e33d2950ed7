#include "importpanels.h"

#include "albumstore.h"
#include "importdialogs.h"

namespace calmcove {

ImportPanels::ImportPanels(AlbumStore& store, ImportDialogs& dialogs)
    : m_store(store), m_dialogs(dialogs)
{}

void ImportPanels::importWithPanel()
{
    const QStringList chosen = m_dialogs.chooseImportSelection();
    if (!chosen.isEmpty())
        m_store.importExternalURLs(chosen);
}

void ImportPanels::addTracksWithPanel(const QString& albumID)
{
    const QStringList chosen = m_dialogs.chooseTracksToAdd();
    if (!chosen.isEmpty())
        m_store.addTracks(chosen, albumID);
}

void ImportPanels::setArtworkWithPanel(const QString& albumID)
{
    const QString picture = m_dialogs.chooseArtwork();
    if (!picture.isEmpty())
        m_store.setArtwork(picture, albumID);
}

} // namespace calmcove
