#pragma once

// Opens the album manager window: one at a time, brought to the front when it is open
// already, made afresh after it was closed. Holds the player and the stores weakly; the
// desktop side of the composition root links them. The player panel's "Manage albums..."
// and `calmcove --albums` call show().

#include <QObject>
#include <QPointer>

namespace calmcove {

class AlbumManagerDialogs;
class AlbumManagerWindow;
class AlbumStore;
class AudioController;
class AudioPackStore;
class ImportPanels;

class AlbumManagerWindowPresenter : public QObject
{
    Q_OBJECT
public:
    explicit AlbumManagerWindowPresenter(QObject* parent = nullptr);
    ~AlbumManagerWindowPresenter() override;

    void setController(AudioController* controller);
    void setAlbumStore(AlbumStore* albumStore);
    void setAudioPackStore(AudioPackStore* audioPackStore);
    // Answers for the window's confirmations (tests); null: Qt dialogs. Not owned.
    void setDialogs(AlbumManagerDialogs* dialogs) { m_dialogs = dialogs; }
    // The dialog-driven import flows the window starts. Not owned.
    void setImportPanels(ImportPanels* panels) { m_importPanels = panels; }

    // The open window, or null.
    AlbumManagerWindow* window() const;

public Q_SLOTS:
    // Shows the album manager; does nothing once the player or a store is gone.
    void show();

private:
    void windowWillClose();

    QPointer<AudioController> m_controller;
    QPointer<AlbumStore> m_albumStore;
    QPointer<AudioPackStore> m_audioPackStore;
    AlbumManagerDialogs* m_dialogs = nullptr;
    ImportPanels* m_importPanels = nullptr;
    QPointer<AlbumManagerWindow> m_window;
};

} // namespace calmcove
