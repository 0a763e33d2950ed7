#pragma once

// The file side of local imports, run on the album store's worker thread: the audio files a
// selection names, the audio check, the free-space check, the chunked atomic copies into an
// album folder, cover pictures and durations. It only reads and writes files and reports what
// it made; the main thread records that in the store. One object per operation, used by one
// thread at a time.

#include "importdialogs.h"
#include "model/calmtrack.h"

#include <atomic>
#include <optional>
#include <QStringList>

namespace calmcove {

class ImportFiles
{
public:
    // An audio file of a selection, checked to decode, with its title and duration (seconds).
    struct Candidate
    {
        QString path;
        QString title;
        double duration = 0;
        bool operator==(const Candidate&) const = default;
    };
    // What adding files to an album did: each new track in order, in place of the track
    // `replacedTrackID` when it replaces one, else appended to the album.
    struct TrackChange
    {
        std::optional<QString> replacedTrackID;
        CalmTrack track;
    };
    struct AddedTracks
    {
        QList<TrackChange> changes;
        int added = 0;
        int skipped = 0;
    };
    // An album the selection import made; the one of the loose files is named by the store.
    struct MadeAlbum
    {
        CalmAlbum album;
        bool holdsLooseFiles = false;
    };

    // `rootDirectory`: the albums' root folder. `cancelled` (not owned, may be null), like a
    // SIGINT or SIGTERM, stops the work between the blocks of a copy and between files.
    ImportFiles(QString rootDirectory, const std::atomic<bool>* cancelled);

    bool isCancelled() const;
    // The text of the last failure, null when there was none.
    const QString& errorMessage() const { return m_errorMessage; }

    static bool isSupportedAudioFile(const QString& path);
    // The supported audio files under `folder`, recursively; hidden files and folders skipped.
    static QStringList audioFiles(const QString& folder);
    // The first cover-like picture ("cover", "folder", ... with an accepted extension) directly
    // inside `folder`.
    static std::optional<QString> artworkFile(const QString& folder);
    // Seconds of decodable audio; 0 when the file cannot be read as audio.
    static double audioDuration(const QString& path);
    // The supported files among `paths` (no folders) that decode as audio, sorted by file name.
    QList<Candidate> trackCandidates(const QStringList& paths) const;
    // A fresh upper-case UUID string, for album and track ids.
    static QString newUUID();
    // A track of the imported file `path` with the artist "Imported" and every mood.
    static CalmTrack importedTrack(QString id, const QString& albumID, QString title,
                                   double duration, const QString& path);

    // Folders of `paths` with audio files become albums, in order, and the supported loose
    // files one more; the albums are not recorded anywhere yet.
    QList<MadeAlbum> importSelection(const QStringList& paths);
    // A new album folder holding the copies of the `sourceFiles` that decode (numbered in file
    // name order) and the cover picture of `artworkSearchFolder`; none when no file was copied.
    std::optional<CalmAlbum>
    createAlbumFromFiles(const QString& name, QStringList sourceFiles,
                         const std::optional<QString>& artworkSearchFolder);
    // Copies the `candidates` into `album`'s folder: a duplicate of one of its tracks (also of
    // one added before in this call) is skipped or replaces that track as `resolution` says,
    // any other file is appended. `album` itself is not changed.
    AddedTracks addTracks(const CalmAlbum& album, const QString& albumFolder,
                          const QList<Candidate>& candidates,
                          std::optional<DuplicateResolution> resolution);
    // Copies a file that decodes as audio to "<albumFolder>/<NN-name.ext>", whole or not at all.
    std::optional<QString> copyAudioFile(const QString& sourcePath, const QString& albumFolder,
                                         int number);
    // Copies an accepted picture to "<albumFolder>/cover.<ext>"; the stored path.
    std::optional<QString> copyArtworkFile(const QString& sourcePath, const QString& albumFolder);
    AlbumArtwork copyArtwork(const std::optional<QString>& searchFolder,
                             const QString& albumFolder);

    // Removes what this operation made, for an operation that is abandoned: the album folders
    // it created and the copies that did not replace a file.
    void discardWork();

private:
    QString m_root;
    const std::atomic<bool>* m_cancelled;
    QString m_errorMessage;
    QStringList m_createdFolders;
    QStringList m_newFiles;
};

} // namespace calmcove
