#pragma once

// The album manager's right column for the selected album: the header (cover editor,
// name, metadata line, "Add Tracks", "Add URL", "Delete Album", and the read-only notice
// of the default album) and the track table with its selection, context menu and
// in-place title rename.

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;

namespace calmcove {

class AlbumManagerViewModel;
class ArtworkEditor;
class TrackTableModel;

class AlbumDetailPanel : public QWidget
{
    Q_OBJECT
public:
    explicit AlbumDetailPanel(AlbumManagerViewModel& viewModel, QWidget* parent = nullptr);

    QLabel* nameLabel() const { return m_nameLabel; }
    QLineEdit* nameField() const { return m_nameField; }
    QLabel* metadataLabel() const { return m_metadata; }
    QPushButton* addTracksButton() const { return m_addTracks; }
    QPushButton* addURLButton() const { return m_addURL; }
    QPushButton* deleteAlbumButton() const { return m_deleteAlbum; }
    QPushButton* deleteTracksButton() const { return m_deleteTracks; }
    QWidget* readOnlyNotice() const { return m_notice; }
    ArtworkEditor* artworkEditor() const { return m_artwork; }
    QTableView* trackTable() const { return m_table; }
    TrackTableModel& trackModel() const { return *m_model; }

Q_SIGNALS:
    void addURLRequested(QWidget* anchor);

private:
    void refreshHeader();
    void showSelectedTracks();
    void followRename();
    void showContextMenu(const QPoint& position);

    AlbumManagerViewModel& m_viewModel;
    TrackTableModel* m_model;
    ArtworkEditor* m_artwork;
    QLabel* m_nameLabel;
    QLineEdit* m_nameField;
    QLabel* m_metadata;
    QPushButton* m_addTracks;
    QPushButton* m_addURL;
    QPushButton* m_deleteAlbum;
    QWidget* m_notice;
    QPushButton* m_deleteTracks;
    QTableView* m_table;
    bool m_updatingSelection = false;
};

} // namespace calmcove
