#pragma once

// The selected album's tracks as a table: "Title", "Duration", "Format", "Size". Follows
// the album store by row; a title is edited in place through setData while its rename is
// active. File sizes are read once per file and kept.

#include "model/calmtrack.h"
#include "rowdiffmodel.h"

#include <QAbstractTableModel>
#include <QHash>

namespace calmcove {

class AlbumManagerViewModel;

class TrackTableModel : public RowDiffModel<QAbstractTableModel>
{
    Q_OBJECT
public:
    enum Column
    {
        titleColumn,
        durationColumn,
        formatColumn,
        sizeColumn,
        columnTotal
    };
    static constexpr int TrackIDRole = Qt::UserRole + 1;

    explicit TrackTableModel(AlbumManagerViewModel& viewModel, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    const QList<CalmTrack>& tracks() const { return m_tracks; }
    int rowOfTrack(const QString& trackID) const;

    // Re-reads the selected album; a new album replaces every row at once.
    void refresh();

private:
    AlbumManagerViewModel& m_viewModel;
    QString m_albumID;
    bool m_readOnly = true;
    QList<CalmTrack> m_tracks;
    mutable QHash<QString, QString> m_sizeNames; // by track id
};

} // namespace calmcove
