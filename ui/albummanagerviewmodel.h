#pragma once

// What the album manager window shows and does, without any widget: the sidebar's albums
// and search, the selected album's header texts and enabled states, the track selection,
// the in-place renames, the keyboard commands, drops and the delete confirmations. Every
// change goes through the album store; after each change that can alter what plays, the
// store's selected album is handed to the player. Main thread only.

#include "albummanagerdialogs.h"
#include "model/calmtrack.h"

#include <QCoro/QCoroTask>

#include <functional>
#include <optional>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QStringList>

namespace calmcove {

class ImportPanels;

class AlbumStore;
class AudioController;
class AudioPackStore;

enum class AlbumManagerKeyboardCommand
{
    rename,
    remove,
    cancel
};

enum class AlbumManagerKeyboardArea
{
    albums,
    tracks
};

// Which rename field has the keyboard focus, and for which album or track.
struct AlbumManagerFocus
{
    enum class Field
    {
        sidebarAlbumName,
        albumName,
        trackTitle
    };
    Field field = Field::sidebarAlbumName;
    QString id;
    bool operator==(const AlbumManagerFocus&) const = default;
};

class AlbumManagerViewModel : public QObject
{
    Q_OBJECT
public:
    static inline const QString readOnlyNotice = QStringLiteral(
        "Default album is read-only. You can play it, but album, artwork, and track edits "
        "are disabled.");
    static inline const QString dropTitle = QStringLiteral("Drop to import");
    static inline const QString dropDetail =
        QStringLiteral("Folders create albums. Audio files add to the selected imported album.");

    // The stores and the player are watched, never owned; when one is gone the operations
    // do nothing. `dialogs` must outlive this object.
    AlbumManagerViewModel(AudioController* controller, AlbumStore* albumStore,
                          AudioPackStore* audioPackStore, AlbumManagerDialogs& dialogs,
                          QObject* parent = nullptr);

    // The dialog-driven import flows; without them the panel operations do nothing. Not owned.
    void setImportPanels(ImportPanels* panels) { m_importPanels = panels; }

    AlbumStore* albumStore() const;
    AudioController* controller() const;

    // ---- texts shared by the window's pieces
    // "--:--" unless finite and above 0; whole seconds rounded half away from zero, as
    // "m:ss" below an hour and "h:mm:ss" from then on.
    static QString formatDuration(double seconds);
    // "<n> songs  |  <source>  |  <total duration>".
    static QString albumMetadata(const CalmAlbum& album);
    // The file's extension in capitals; "M4A" for the library's own tracks.
    static QString formatName(const CalmTrack& track);
    // The byte size of the track's file in decimal units, or "--" when unreadable.
    QString fileSizeName(const CalmTrack& track) const;
    // The file a track plays from, when there is one on disk.
    std::optional<QString> filePath(const CalmTrack& track) const;

    // ---- sidebar
    QString searchText() const { return m_searchText; }
    void setSearchText(const QString& text);
    // The imported albums whose names contain the trimmed search text, ignoring case and
    // diacritics; all of them for an empty search.
    QList<CalmAlbum> filteredImportedAlbums() const;
    // "No imported albums", "No matches", or empty when the section has rows.
    QString importedSectionEmptyText() const;
    // Selecting an album in the list: the player follows it.
    void selectAlbum(const QString& albumID);

    // ---- selected album
    CalmAlbum selectedAlbum() const;
    bool isSelectedAlbumReadOnly() const { return selectedAlbum().isBuiltIn; }
    bool canRemoveArtwork() const;
    bool canDeleteSelectedTracks() const;

    // ---- track selection
    const QSet<QString>& selectedTrackIDs() const { return m_selectedTrackIDs; }
    void setSelectedTrackIDs(const QSet<QString>& ids);
    // The first track of the selected album, in album order, that is selected.
    std::optional<QString> firstSelectedTrackID() const;

    // ---- renames
    std::optional<QString> renamingSidebarAlbumID() const { return m_renamingSidebarAlbumID; }
    QString sidebarRenameText() const { return m_sidebarRenameText; }
    void setSidebarRenameText(const QString& text) { m_sidebarRenameText = text; }
    std::optional<QString> renamingTrackID() const { return m_renamingTrackID; }
    QString trackRenameText() const { return m_trackRenameText; }
    void setTrackRenameText(const QString& text) { m_trackRenameText = text; }
    AlbumManagerKeyboardArea activeKeyboardArea() const { return m_activeKeyboardArea; }
    std::optional<AlbumManagerFocus> focusedField() const { return m_focusedField; }
    void setFocusedField(const std::optional<AlbumManagerFocus>& focus);

    void beginRenamingAlbum(const CalmAlbum& album);
    void beginRenamingSelectedAlbum();
    void commitSidebarRename();
    void beginRenamingTrack(const QString& trackID, const CalmAlbum& album);
    void commitTrackRename();
    // Ends both renames without saving.
    void cancelRenames();
    // The header's name field: renames the selected imported album.
    void renameSelectedAlbum(const QString& name);

    // ---- deleting, each after a confirmation
    std::optional<CalmAlbum> albumPendingDeletion() const { return m_albumPendingDeletion; }
    void requestDeleteAlbum(const CalmAlbum& album);
    void requestDeleteSelectedTracks();
    void deleteSelectedTracks();

    // Return/Enter, Delete/Forward Delete and Escape; true when the key was used.
    bool handleKeyboardCommand(AlbumManagerKeyboardCommand command);

    // ---- imports and artwork
    bool isDropTargeted() const { return m_isDropTargeted; }
    void setDropTargeted(bool targeted);
    // Dropped files and folders: loose files into the selected imported album, anything
    // else (or anything with the default album selected) imported as new albums. The
    // imports finish once the store has recorded them; then the selected album goes to the
    // player.
    QCoro::Task<> importDroppedItems(QStringList paths);
    QCoro::Task<> importWithPanel();
    QCoro::Task<> addTracksWithPanel();
    // Creates the album and hands it to the player; false when the store refused.
    bool createAlbum(const QString& name, const std::optional<QString>& artworkPath);
    QCoro::Task<> setArtworkWithPanel();
    QCoro::Task<> setArtwork(QString picturePath);
    void removeArtwork();

    // The store's selected album goes to the player.
    void handSelectedAlbumToController();

Q_SIGNALS:
    void searchTextChanged();
    void selectedTrackIDsChanged();
    // Any rename began or ended, or the focused field changed.
    void renamingChanged();
    void dropTargetedChanged();
    // The selected album or its contents changed.
    void selectedAlbumChanged();

private:
    // Ends the rename of `target` with the text typed, hands it to the store through
    // `rename`, then lets the controller see the changed album.
    void
    commitRename(std::optional<QString>& target, QString& text,
                 const std::function<void(AlbumStore&, const QString&, const QString&)>& rename);

    QPointer<AudioController> m_controller;
    QPointer<AlbumStore> m_albumStore;
    ImportPanels* m_importPanels = nullptr;
    QPointer<AudioPackStore> m_audioPackStore;
    AlbumManagerDialogs& m_dialogs;

    QString m_searchText;
    QSet<QString> m_selectedTrackIDs;
    bool m_isDropTargeted = false;
    std::optional<CalmAlbum> m_albumPendingDeletion;
    std::optional<QString> m_renamingSidebarAlbumID;
    QString m_sidebarRenameText;
    std::optional<QString> m_renamingTrackID;
    QString m_trackRenameText;
    AlbumManagerKeyboardArea m_activeKeyboardArea = AlbumManagerKeyboardArea::albums;
    std::optional<AlbumManagerFocus> m_focusedField;
};

} // namespace calmcove
