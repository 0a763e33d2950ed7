#pragma once

// The import flows that start with a dialog: choose what to import, add or use as
// artwork, then hand the choice to the album store. The store itself asks nothing but
// the duplicate question during an import; the album manager calls these. Main thread.

#include <QCoro/QCoroTask>

#include <QString>

namespace calmcove {

class AlbumStore;
class ImportDialogs;

class ImportPanels
{
public:
    // Both must outlive this object.
    ImportPanels(AlbumStore& store, ImportDialogs& dialogs);

    // Each finishes once the store has recorded what was chosen (at once when cancelled).
    // "Import Albums": files and folders become albums. Nothing when cancelled.
    QCoro::Task<> importWithPanel();
    // "Add Tracks" to the imported album `albumID`.
    QCoro::Task<> addTracksWithPanel(QString albumID);
    // "Change Artwork" of the imported album `albumID`.
    QCoro::Task<> setArtworkWithPanel(QString albumID);

private:
    AlbumStore& m_store;
    ImportDialogs& m_dialogs;
};

} // namespace calmcove
