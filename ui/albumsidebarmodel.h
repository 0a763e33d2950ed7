#pragma once

// The album manager's sidebar as a tree: the sections "Default" (the built-in album) and
// "Imported" (the imported albums the search lets through, or the section's empty text),
// each album a row with its cover, name and song count. Follows the album store and the
// search by row; an imported album's name is edited in place through setData.

#include "model/calmtrack.h"
#include "rowdiffmodel.h"

#include <QAbstractItemModel>

namespace calmcove {

class AlbumManagerViewModel;

class AlbumSidebarModel : public RowDiffModel<QAbstractItemModel>
{
    Q_OBJECT
public:
    enum Role
    {
        AlbumIDRole = Qt::UserRole + 1,
        SongCountRole, // "<n> songs"
        ArtworkRole,   // QVariant of AlbumArtwork
        IsSectionRole,
        IsPlaceholderRole
    };
    enum Section
    {
        defaultSection,
        importedSection
    };

    explicit AlbumSidebarModel(AlbumManagerViewModel& viewModel, QObject* parent = nullptr);

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // The row of an album, invalid when the album is not shown.
    QModelIndex indexOfAlbum(const QString& albumID) const;

    // Re-reads the store and the search.
    void refresh();

private:
    struct Row
    {
        QString id; // empty: the section's empty text
        QString name;
        int trackCount = 0;
        AlbumArtwork artwork = NoArtwork{};
        bool operator==(const Row&) const = default;
    };
    static Row rowOf(const CalmAlbum& album);
    const Row* rowAt(const QModelIndex& index) const;

    AlbumManagerViewModel& m_viewModel;
    QList<Row> m_rows[2];
};

} // namespace calmcove
