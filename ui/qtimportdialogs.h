#pragma once

// The import questions asked with Qt's file dialogs and message boxes.

#include "albums/importdialogs.h"

namespace calmcove {

class QtImportDialogs : public ImportDialogs
{
public:
    QStringList chooseImportSelection() override;
    QStringList chooseTracksToAdd() override;
    QString chooseArtwork() override;
    DuplicateResolution confirmDuplicateImport(int count, const QString& sampleTitle,
                                               const QString& albumName) override;
};

} // namespace calmcove
