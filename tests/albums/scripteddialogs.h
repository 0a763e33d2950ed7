#pragma once

// The user's answers to the import dialogs, scripted; every duplicate question is recorded
// as "count|title|album".

#include "albums/importdialogs.h"

#include <QStringList>

namespace calmcove::test {

class ScriptedDialogs : public ImportDialogs
{
public:
    QStringList chooseImportSelection() override { return selection; }
    QStringList chooseTracksToAdd() override { return selection; }
    QString chooseArtwork() override { return picture; }
    DuplicateResolution confirmDuplicateImport(int count, const QString& title,
                                               const QString& album) override
    {
        asked.append(QStringLiteral("%1|%2|%3").arg(count).arg(title, album));
        return answer;
    }

    QStringList selection;
    QString picture;
    DuplicateResolution answer = DuplicateResolution::skip;
    QStringList asked;
};

} // namespace calmcove::test
