#pragma once

// The single owner of every album the player can choose: the read-only default album,
// whose tracks come from the track library, and the albums the user imports, kept on
// disk as one folder per album plus the index "albums.json". Remembers the selected
// album and publishes short status and error texts. Main thread only; every change of
// the imported albums is saved at once. The files of imports are checked and copied on a
// worker thread of the store's own while the event loop runs.

#include "importdialogs.h"
#include "model/calmtrack.h"
#include "serialturns.h"
#include "urlimportjob.h"
#include "urlimportqueue.h"

#include <QCoro/QCoroTask>

#include <atomic>
#include <memory>
#include <optional>
#include <QObject>
#include <QSet>

class QThreadPool;

namespace calmcove {

class NetworkPathMonitor;
class UserDefaults;

class AlbumStore : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString selectedAlbumID READ selectedAlbumID WRITE setSelectedAlbumID NOTIFY
                   selectedAlbumIDChanged)
    Q_PROPERTY(
        QList<calmcove::CalmAlbum> importedAlbums READ importedAlbums NOTIFY importedAlbumsChanged)
    // A null string means no message.
    Q_PROPERTY(QString statusMessage READ statusMessage NOTIFY statusMessageChanged)
    Q_PROPERTY(QString errorMessage READ errorMessage NOTIFY errorMessageChanged)
    Q_PROPERTY(bool isImportingURL READ isImportingURL NOTIFY isImportingURLChanged)
    Q_PROPERTY(std::optional<double> urlImportProgress READ urlImportProgress NOTIFY
                   urlImportProgressChanged)
    Q_PROPERTY(
        QString urlImportProgressText READ urlImportProgressText NOTIFY urlImportProgressChanged)
    Q_PROPERTY(
        QList<calmcove::URLImportJob> urlImportJobs READ urlImportJobs NOTIFY urlImportJobsChanged)
    // The album the import view was opened for; set and cleared by the interface.
    Q_PROPERTY(QString pendingURLImportAlbumID READ pendingURLImportAlbumID WRITE
                   setPendingURLImportAlbumID NOTIFY pendingURLImportAlbumIDChanged)
    Q_PROPERTY(calmcove::CalmAlbum builtInAlbum READ builtInAlbum NOTIFY builtInAlbumChanged)
    Q_PROPERTY(bool isProcessingURLImportQueue READ isProcessingURLImportQueue NOTIFY
                   isProcessingURLImportQueueChanged)

public:
    static inline const QString manifestFileName = QStringLiteral("albums.json");
    static inline const QString selectedAlbumIDKey = QStringLiteral("selectedAlbumID");
    static inline const QString urlAlbumName = QStringLiteral("URL Imports");
    // The most bytes one URL import may download (a number of bytes; 2 GiB when unset).
    static inline const QString urlImportMaximumBytesKey = URLImportQueue::maximumBytesKey;
    static constexpr qint64 defaultURLImportMaximumBytes = URLImportQueue::defaultMaximumBytes;
    // File-name extensions, lower case.
    static inline const QSet<QString> supportedAudioExtensions = {
        QStringLiteral("aac"),  QStringLiteral("aif"), QStringLiteral("aiff"),
        QStringLiteral("flac"), QStringLiteral("m4a"), QStringLiteral("mp3"),
        QStringLiteral("wav")};
    static inline const QSet<QString> supportedArtworkExtensions = {
        QStringLiteral("jpg"), QStringLiteral("jpeg"), QStringLiteral("png"),
        QStringLiteral("webp")};

    // $XDG_DATA_HOME/Calmcove/Imported Albums.
    static QString defaultRootDirectory();

    // Loads the imported albums from `rootDirectory` and restores the stored selection,
    // falling back to the default album when the stored one no longer exists.
    // `networkMonitor` (not owned, may be null) lets URL imports wait for connectivity.
    AlbumStore(UserDefaults& defaults, const QString& rootDirectory,
               NetworkPathMonitor* networkMonitor = nullptr, QObject* parent = nullptr);
    // Abandons a running import: its copy stops within a block and what it made is removed;
    // nothing of it is recorded.
    ~AlbumStore() override;

    QString rootDirectory() const { return m_root; }

    QString selectedAlbumID() const { return m_selectedAlbumID; }
    // Stores every assignment under "selectedAlbumID"; notifies only on change.
    void setSelectedAlbumID(const QString& id);

    const QList<CalmAlbum>& importedAlbums() const { return m_importedAlbums; }
    QString statusMessage() const { return m_statusMessage; }
    QString errorMessage() const { return m_errorMessage; }
    const CalmAlbum& builtInAlbum() const { return m_builtInAlbum; }
    // Empties statusMessage and errorMessage, e.g. when the user starts something new.
    void clearMessages();

    // The default album followed by the imported albums.
    QList<CalmAlbum> albums() const;
    // The album named by selectedAlbumID, else the default album.
    CalmAlbum selectedAlbum() const;

    // Creates an empty album named `name` (trimmed; "Untitled Album" when empty), with a
    // copy of the picture at `artworkPath` when one is given and accepted, selects it and
    // saves. Returns the new album.
    std::optional<CalmAlbum> createAlbum(const QString& name,
                                         const std::optional<QString>& artworkPath = {});
    void renameAlbum(const QString& id, const QString& name);
    // Removes the album and its folder; selects the default album if it was selected.
    void deleteAlbum(const QString& id);
    void renameTrack(const QString& trackID, const QString& albumID, const QString& title);
    // Removes the tracks and their files, keeping the order of the others.
    void deleteTracks(const QSet<QString>& trackIDs, const QString& albumID);

    // Replaces the default album's tracks; an empty list restores the catalogue.
    void updateBuiltInTracks(const QList<CalmTrack>& tracks);

    // The dialogs that answer the duplicate question of imports; not owned. Without them
    // duplicates are skipped. The dialog-driven flows are ImportPanels'.
    void setDialogs(ImportDialogs* dialogs) { m_dialogs = dialogs; }

    // Local import. Folders become albums, loose audio files one album; files are copied
    // into the album folders and never changed. The files are read and copied off the main
    // thread; the albums, messages and index change on the main thread once the copies are
    // done. Imports, artwork changes and the hand-over of URL downloads run one at a time in
    // the order they were started. Each task finishes when its result is recorded; callers
    // may drop it.
    // Imports files and folders named by their local paths (the name is kept from the
    // platform's "open URLs" call; no links here).
    QCoro::Task<> importExternalURLs(QStringList filePaths);
    // Adds audio files to an imported album, asking what to do with duplicates.
    QCoro::Task<> addTracks(QStringList paths, QString albumID);

    // URL import, run by the store's URLImportQueue: links are queued and imported one at
    // a time, in order, into the album `targetAlbumID` or into "URL Imports". Queuing a
    // link that is not blank clears the store's messages.
    void enqueueURLImport(const QString& link, const std::optional<QString>& targetAlbumID = {});
    // Removes finished and failed jobs; queued and running ones stay.
    void clearFinishedURLImportJobs() { m_urlImports->clearFinishedJobs(); }
    // Clears one job's progress, or with no job the store-level progress.
    void resetURLImportProgress(const std::optional<QUuid>& jobID = {})
    {
        m_urlImports->resetProgress(jobID);
    }
    bool isImportingURL() const { return m_urlImports->isProcessing(); }
    std::optional<double> urlImportProgress() const { return m_urlImports->progress(); }
    QString urlImportProgressText() const { return m_urlImports->progressText(); }
    const QList<URLImportJob>& urlImportJobs() const { return m_urlImports->jobs(); }
    QString pendingURLImportAlbumID() const { return m_pendingURLImportAlbumID; }
    void setPendingURLImportAlbumID(const QString& id);
    bool isProcessingURLImportQueue() const { return m_urlImports->isProcessing(); }

    // Artwork: a copy of the picture as "cover.<ext>" in the album folder, made off the main
    // thread like the imports' copies.
    QCoro::Task<> setArtwork(QString picturePath, QString albumID);
    void removeArtwork(const QString& albumID);

Q_SIGNALS:
    void selectedAlbumIDChanged();
    void importedAlbumsChanged();
    void statusMessageChanged();
    void errorMessageChanged();
    void builtInAlbumChanged();
    void isImportingURLChanged();
    void urlImportProgressChanged();
    void urlImportJobsChanged();
    void pendingURLImportAlbumIDChanged();
    void isProcessingURLImportQueueChanged();

private:
    QString albumFolder(const QString& albumID) const;
    CalmAlbum* findImportedAlbum(const QString& id);
    void load();
    void save();
    // Moves an index that could not be read out of the way before it is overwritten.
    bool keepUnreadableIndex();
    // Copies an index some records of which were skipped at load before it is overwritten.
    bool keepIndexWithSkippedRecords();
    // "<root>/albums.json.<kind>-<UTC time>[-N]", a name not yet taken.
    QString keptIndexPath(const QString& kind) const;
    QCoro::Task<> importSelection(QStringList paths);
    QString defaultLooseTracksAlbumName() const;
    void finishImport(int importedAlbumCount);
    DuplicateResolution confirmDuplicateImport(int count, const QString& sampleTitle,
                                               const QString& albumName);

    // Moves a downloaded track into its target album, else into "URL Imports" (created
    // when missing), asking about a duplicate; selects the album and saves.
    QCoro::Task<URLImportOutcome> addDownloadedTrack(DownloadedAudio download);

    void setImportedAlbums(QList<CalmAlbum> albums);
    void setStatusMessage(const QString& message);
    void setErrorMessage(const QString& message);
    void selectDefaultAlbumIfSelectionIsGone();

    UserDefaults& m_defaults;
    QString m_root;
    QString m_selectedAlbumID;
    QList<CalmAlbum> m_importedAlbums;
    QString m_statusMessage;
    QString m_errorMessage;
    CalmAlbum m_builtInAlbum;
    bool m_indexIsUnreadable = false;
    bool m_indexHasSkippedRecords = false;
    // Size and modification time (ns) of the index as last read or written; none when
    // there was none. A save refuses to overwrite an index that differs.
    std::optional<std::pair<qint64, qint64>> m_indexStamp;
    ImportDialogs* m_dialogs = nullptr;
    QString m_pendingURLImportAlbumID;
    std::unique_ptr<URLImportQueue> m_urlImports;
    SerialTurns m_turns;
    // Set when the store goes; shared with the work still on the file thread.
    std::shared_ptr<std::atomic<bool>> m_cancelled = std::make_shared<std::atomic<bool>>(false);
    // One import's file work at a time.
    std::unique_ptr<QThreadPool> m_fileThread;
};

} // namespace calmcove
