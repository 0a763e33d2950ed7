#pragma once

// "New Album": a name and an optional picture. "Create" (Return) asks the album store
// through the view model and closes only when the album was made; "Cancel" (Escape)
// closes without a change.

#include <optional>
#include <QDialog>

class QLineEdit;
class QPushButton;

namespace calmcove {

class AlbumArtworkView;
class AlbumManagerDialogs;
class AlbumManagerViewModel;

class CreateAlbumDialog : public QDialog
{
    Q_OBJECT
public:
    CreateAlbumDialog(AlbumManagerViewModel& viewModel, AlbumManagerDialogs& dialogs,
                      QWidget* parent = nullptr);

    QLineEdit* nameField() const { return m_name; }
    std::optional<QString> artworkPath() const { return m_artworkPath; }
    void setArtworkPath(const QString& path);

    // What "Create" does.
    void create();

private:
    AlbumManagerViewModel& m_viewModel;
    AlbumManagerDialogs& m_dialogs;
    QLineEdit* m_name;
    AlbumArtworkView* m_artwork;
    QPushButton* m_chooseArtwork;
    std::optional<QString> m_artworkPath;
};

} // namespace calmcove
