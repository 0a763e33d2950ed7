#include "albumsidebarmodel.h"

#include "albummanagerviewmodel.h"
#include "albums/albumstore.h"

namespace calmcove {

namespace {

// Children carry their section + 1 as internal id; the sections carry 0.
constexpr quintptr sectionTag = 0;

} // namespace

AlbumSidebarModel::AlbumSidebarModel(AlbumManagerViewModel& viewModel, QObject* parent)
    : RowDiffModel<QAbstractItemModel>(parent), m_viewModel(viewModel)
{
    if (AlbumStore* store = viewModel.albumStore()) {
        connect(store, &AlbumStore::importedAlbumsChanged, this, &AlbumSidebarModel::refresh);
        connect(store, &AlbumStore::builtInAlbumChanged, this, &AlbumSidebarModel::refresh);
    }
    connect(&viewModel, &AlbumManagerViewModel::searchTextChanged, this,
            &AlbumSidebarModel::refresh);
    refresh();
}

AlbumSidebarModel::Row AlbumSidebarModel::rowOf(const CalmAlbum& album)
{
    return {album.id, album.name, int(album.tracks.size()), album.artwork};
}

void AlbumSidebarModel::refresh()
{
    const auto sameRow = [](const Row& a, const Row& b) { return a.id == b.id; };
    QList<Row> builtIn;
    if (AlbumStore* store = m_viewModel.albumStore())
        builtIn.append(rowOf(store->builtInAlbum()));
    replaceRows(m_rows[defaultSection], builtIn, sameRow, index(defaultSection, 0));

    QList<Row> imported;
    for (const CalmAlbum& album : m_viewModel.filteredImportedAlbums())
        imported.append(rowOf(album));
    if (imported.isEmpty())
        imported.append(Row{QString(), m_viewModel.importedSectionEmptyText()});
    replaceRows(m_rows[importedSection], imported, sameRow, index(importedSection, 0));
}

QModelIndex AlbumSidebarModel::index(int row, int column, const QModelIndex& parent) const
{
    if (column != 0 || row < 0)
        return {};
    if (!parent.isValid())
        return row < 2 ? createIndex(row, 0, sectionTag) : QModelIndex();
    if (parent.internalId() != sectionTag || row >= m_rows[parent.row()].size())
        return {};
    return createIndex(row, 0, quintptr(parent.row() + 1));
}

QModelIndex AlbumSidebarModel::parent(const QModelIndex& child) const
{
    if (!child.isValid() || child.internalId() == sectionTag)
        return {};
    return createIndex(int(child.internalId() - 1), 0, sectionTag);
}

int AlbumSidebarModel::rowCount(const QModelIndex& parent) const
{
    if (!parent.isValid())
        return 2;
    if (parent.internalId() == sectionTag)
        return int(m_rows[parent.row()].size());
    return 0;
}

int AlbumSidebarModel::columnCount(const QModelIndex&) const
{
    return 1;
}

const AlbumSidebarModel::Row* AlbumSidebarModel::rowAt(const QModelIndex& index) const
{
    if (!index.isValid() || index.internalId() == sectionTag)
        return nullptr;
    const QList<Row>& rows = m_rows[index.internalId() - 1];
    return index.row() < rows.size() ? &rows[index.row()] : nullptr;
}

QVariant AlbumSidebarModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    if (index.internalId() == sectionTag) {
        if (role == Qt::DisplayRole)
            return index.row() == defaultSection ? QStringLiteral("Default")
                                                 : QStringLiteral("Imported");
        return role == IsSectionRole ? QVariant(true) : QVariant();
    }
    const Row* row = rowAt(index);
    if (!row)
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return row->name;
    case AlbumIDRole:
        return row->id;
    case SongCountRole:
        return row->id.isEmpty()
                   ? QVariant()
                   : QVariant(QString::number(row->trackCount) + QStringLiteral(" songs"));
    case ArtworkRole:
        return QVariant::fromValue(row->artwork);
    case IsPlaceholderRole:
        return row->id.isEmpty();
    case IsSectionRole:
        return false;
    default:
        return {};
    }
}

bool AlbumSidebarModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    const Row* row = rowAt(index);
    if (role != Qt::EditRole || !row || m_viewModel.renamingSidebarAlbumID() != row->id)
        return false;
    m_viewModel.setSidebarRenameText(value.toString());
    m_viewModel.commitSidebarRename();
    return true;
}

Qt::ItemFlags AlbumSidebarModel::flags(const QModelIndex& index) const
{
    const Row* row = rowAt(index);
    if (!row || row->id.isEmpty())
        return Qt::ItemIsEnabled;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (index.internalId() - 1 == importedSection)
        flags |= Qt::ItemIsEditable;
    return flags;
}

QModelIndex AlbumSidebarModel::indexOfAlbum(const QString& albumID) const
{
    for (int section : {defaultSection, importedSection}) {
        const QList<Row>& rows = m_rows[section];
        for (int row = 0; row < rows.size(); ++row) {
            if (!albumID.isEmpty() && rows[row].id == albumID)
                return index(row, 0, index(section, 0));
        }
    }
    return {};
}

} // namespace calmcove
