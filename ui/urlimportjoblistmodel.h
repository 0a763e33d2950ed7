#pragma once

// The album store's URL import jobs as a list, in the store's order, updated by row.
// Each row gives the job's title, message, state and progress.

#include "albums/urlimportjob.h"
#include "rowdiffmodel.h"

#include <QAbstractListModel>
#include <QPointer>

namespace calmcove {

class AlbumStore;

class URLImportJobListModel : public RowDiffModel<QAbstractListModel>
{
    Q_OBJECT
public:
    enum Role
    {
        MessageRole = Qt::UserRole + 1,
        StateRole,        // int of URLImportJob::State
        ProgressRole,     // double 0…1, or invalid when unknown
        ProgressTextRole, // string, or invalid
        IsFailedRole
    };

    explicit URLImportJobListModel(AlbumStore* albumStore, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    const QList<URLImportJob>& jobs() const { return m_jobs; }
    // Some job imports without a known length (its bar runs without a value).
    bool hasIndeterminateProgress() const;

private:
    void refresh();

    QPointer<AlbumStore> m_albumStore;
    QList<URLImportJob> m_jobs;
};

} // namespace calmcove
