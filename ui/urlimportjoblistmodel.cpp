#include "urlimportjoblistmodel.h"

#include "albums/albumstore.h"
#include "urlimportviewmodel.h"

namespace calmcove {

URLImportJobListModel::URLImportJobListModel(AlbumStore* albumStore, QObject* parent)
    : RowDiffModel<QAbstractListModel>(parent), m_albumStore(albumStore)
{
    if (albumStore)
        connect(albumStore, &AlbumStore::urlImportJobsChanged, this,
                &URLImportJobListModel::refresh);
    refresh();
}

void URLImportJobListModel::refresh()
{
    AlbumStore* const store = m_albumStore;
    const QList<URLImportJob> jobs = store ? store->urlImportJobs() : QList<URLImportJob>();
    replaceRows(m_jobs, jobs,
                [](const URLImportJob& a, const URLImportJob& b) { return a.id == b.id; });
}

int URLImportJobListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_jobs.size());
}

QVariant URLImportJobListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_jobs.size())
        return {};
    const URLImportJob& job = m_jobs[index.row()];
    switch (role) {
    case Qt::DisplayRole:
        return URLImportViewModel::jobTitle(job.urlString);
    case Qt::ToolTipRole:
        return job.urlString;
    case MessageRole:
        return job.message;
    case StateRole:
        return int(job.state);
    case ProgressRole:
        return job.progress ? QVariant(*job.progress) : QVariant();
    case ProgressTextRole:
        return job.progressText ? QVariant(*job.progressText) : QVariant();
    case IsFailedRole:
        return job.state == URLImportJob::State::failed;
    default:
        return {};
    }
}

bool URLImportJobListModel::hasIndeterminateProgress() const
{
    return std::any_of(m_jobs.cbegin(), m_jobs.cend(), [](const URLImportJob& job) {
        return job.state == URLImportJob::State::importing && !job.progress;
    });
}

} // namespace calmcove
