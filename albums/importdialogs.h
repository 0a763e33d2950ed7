#pragma once

// The questions an import asks the user: which files, folders or picture to take, and
// what to do with tracks that are already in the album. The program answers them with
// Qt dialogs; tests answer with a script. Main thread only; the calls are modal.

#include <QString>
#include <QStringList>

namespace calmcove {

enum class DuplicateResolution
{
    replace,
    skip,
    cancel
};

class ImportDialogs
{
public:
    virtual ~ImportDialogs() = default;

    // "Import Albums": files and folders, several at once. Empty when cancelled.
    virtual QStringList chooseImportSelection() = 0;
    // "Add Tracks": audio files, several at once. Empty when cancelled.
    virtual QStringList chooseTracksToAdd() = 0;
    // "Change Artwork": one picture. Empty when cancelled.
    virtual QString chooseArtwork() = 0;
    // The duplicate alert: `count` tracks, the first one titled `sampleTitle`, are already
    // in the album named `albumName`.
    virtual DuplicateResolution confirmDuplicateImport(int count, const QString& sampleTitle,
                                                       const QString& albumName) = 0;
};

} // namespace calmcove
