#pragma once

// The album header's cover: inert for the default album; for an imported album a click
// or a dropped picture changes it, with "Change Artwork" and "Remove Artwork" beside.

#include <QWidget>

class QPushButton;

namespace calmcove {

class AlbumArtworkView;
class AlbumManagerViewModel;

class ArtworkEditor : public QWidget
{
    Q_OBJECT
public:
    explicit ArtworkEditor(AlbumManagerViewModel& viewModel, QWidget* parent = nullptr);

    QPushButton* changeButton() const { return m_change; }
    QPushButton* removeButton() const { return m_remove; }
    // Binds to the selected album.
    void refresh();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    AlbumManagerViewModel& m_viewModel;
    AlbumArtworkView* m_artwork;
    QPushButton* m_change;
    QPushButton* m_remove;
};

} // namespace calmcove
