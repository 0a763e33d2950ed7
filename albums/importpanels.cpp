#include "importpanels.h"

#include "albumstore.h"
#include "importdialogs.h"

namespace calmcove {

ImportPanels::ImportPanels(AlbumStore& store, ImportDialogs& dialogs)
    : m_store(store), m_dialogs(dialogs)
{}

QCoro::Task<> ImportPanels::importWithPanel()
{
    const QStringList chosen = m_dialogs.chooseImportSelection();
    if (chosen.isEmpty())
        co_return;
    // Started in a statement of its own: GCC 12 destroys temporaries of a co_await expression
    // twice.
    auto importing = m_store.importExternalURLs(chosen);
    co_await std::move(importing);
}

QCoro::Task<> ImportPanels::addTracksWithPanel(QString albumID)
{
    const QStringList chosen = m_dialogs.chooseTracksToAdd();
    if (chosen.isEmpty())
        co_return;
    auto adding = m_store.addTracks(chosen, albumID);
    co_await std::move(adding);
}

QCoro::Task<> ImportPanels::setArtworkWithPanel(QString albumID)
{
    const QString picture = m_dialogs.chooseArtwork();
    if (picture.isEmpty())
        co_return;
    auto setting = m_store.setArtwork(picture, albumID);
    co_await std::move(setting);
}

} // namespace calmcove
