#include "tracktablemodel.h"

#include "albummanagerviewmodel.h"

namespace calmcove {

TrackTableModel::TrackTableModel(AlbumManagerViewModel& viewModel, QObject* parent)
    : RowDiffModel<QAbstractTableModel>(parent), m_viewModel(viewModel)
{
    connect(&viewModel, &AlbumManagerViewModel::selectedAlbumChanged, this,
            &TrackTableModel::refresh);
    refresh();
}

void TrackTableModel::refresh()
{
    const CalmAlbum album = m_viewModel.selectedAlbum();
    if (album.id != m_albumID) {
        beginResetModel();
        m_albumID = album.id;
        m_readOnly = album.isBuiltIn;
        m_tracks = album.tracks;
        m_sizeNames.clear();
        endResetModel();
        return;
    }
    m_readOnly = album.isBuiltIn;
    // A replaced file keeps its track id, so sizes are read again after any change.
    m_sizeNames.clear();
    replaceRows(
        m_tracks, album.tracks, [](const CalmTrack& a, const CalmTrack& b) { return a.id == b.id; },
        {}, columnTotal - 1);
}

int TrackTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_tracks.size());
}

int TrackTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : columnTotal;
}

QVariant TrackTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_tracks.size())
        return {};
    const CalmTrack& track = m_tracks[index.row()];
    if (role == TrackIDRole)
        return track.id;
    if (role == Qt::TextAlignmentRole && index.column() != titleColumn)
        return QVariant(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole && role != Qt::EditRole && role != Qt::ToolTipRole)
        return {};
    switch (index.column()) {
    case titleColumn:
        return track.title;
    case durationColumn:
        return AlbumManagerViewModel::formatDuration(track.duration);
    case formatColumn:
        return AlbumManagerViewModel::formatName(track);
    case sizeColumn: {
        auto cached = m_sizeNames.constFind(track.id);
        if (cached == m_sizeNames.cend())
            cached = m_sizeNames.insert(track.id, m_viewModel.fileSizeName(track));
        return *cached;
    }
    default:
        return {};
    }
}

QVariant TrackTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal)
        return {};
    if (role == Qt::TextAlignmentRole)
        return section == titleColumn ? QVariant(Qt::AlignLeft | Qt::AlignVCenter)
                                      : QVariant(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole)
        return {};
    static const char* const titles[] = {"Title", "Duration", "Format", "Size"};
    return section >= 0 && section < columnTotal ? QString::fromLatin1(titles[section])
                                                 : QVariant();
}

bool TrackTableModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::EditRole || index.column() != titleColumn || index.row() >= m_tracks.size() ||
        m_viewModel.renamingTrackID() != m_tracks[index.row()].id)
        return false;
    m_viewModel.setTrackRenameText(value.toString());
    m_viewModel.commitTrackRename();
    return true;
}

Qt::ItemFlags TrackTableModel::flags(const QModelIndex& index) const
{
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (!m_readOnly && index.column() == titleColumn)
        flags |= Qt::ItemIsEditable;
    return flags;
}

int TrackTableModel::rowOfTrack(const QString& trackID) const
{
    for (int row = 0; row < m_tracks.size(); ++row) {
        if (m_tracks[row].id == trackID)
            return row;
    }
    return -1;
}

} // namespace calmcove
