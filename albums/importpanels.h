#pragma once

// The import flows that start with a dialog: choose what to import, add or use as
// artwork, then hand the choice to the album store. The store itself asks nothing but
// the duplicate question during an import; the album manager calls these. Main thread.

#include <QString>

namespace calmcove {

class AlbumStore;
class ImportDialogs;

class ImportPanels
{
public:
    // Both must outlive this object.
    ImportPanels(AlbumStore& store, ImportDialogs& dialogs);

    // "Import Albums": files and folders become albums. Nothing when cancelled.
    void importWithPanel();
    // "Add Tracks" to the imported album `albumID`.
    void addTracksWithPanel(const QString& albumID);
    // "Change Artwork" of the imported album `albumID`.
    void setArtworkWithPanel(const QString& albumID);

private:
    AlbumStore& m_store;
    ImportDialogs& m_dialogs;
};

} // namespace calmcove
