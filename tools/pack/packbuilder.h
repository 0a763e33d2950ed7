#pragma once

// Publishes a pack: from a folder of .m4a files and optional metadata, writes the pack's
// folder (the files and their manifest) and adds the pack to the folder's index, so that
// serving the output folder at the base URL gives clients a library they can install.

#include "library/audiopackformat.h"
#include "tools/pack/packresult.h"

#include <optional>
#include <QHash>
#include <QString>
#include <QUrl>

namespace calmcove {

// Names inside the output folder: <output>/index.json, <output>/<version>/<this>.
inline const QString packIndexFileName = QStringLiteral("index.json");
inline const QString packManifestFileName = QStringLiteral("audio-pack-manifest.json");

// What the metadata file may say about one track; what it leaves out comes from the
// catalogue row with the same id, if there is one, else stays out of the manifest.
struct TrackMetadata
{
    std::optional<QString> title;
    std::optional<QString> artist;
    std::optional<QList<QString>> moods; // raw values of Mood
    std::optional<QString> kind;         // a raw value of CalmKind

    bool operator==(const TrackMetadata&) const = default;
};

// Reads a metadata file: a JSON object mapping track ids to objects with the optional keys
// "title", "artist", "moods" (array of mood names) and "kind". Unknown keys, wrong types,
// empty texts and unknown moods or kinds fail with a message naming the track.
PackResult<QHash<QString, TrackMetadata>> readTrackMetadata(const QString& path);

struct PackBuildOptions
{
    QString inputDirectory;  // the .m4a files; their names without ".m4a" are the track ids
    QString outputDirectory; // the folder served at baseURL
    QString version;         // the pack version; names <output>/<version>
    QUrl baseURL;            // absolute https URL at which outputDirectory is served
    QString metadataFile;    // empty: none
    std::optional<QString> minimumAppVersion; // none: this build's compatibility version
    std::optional<QString> tag;
};

struct PackBuildReport
{
    AudioPackManifest manifest;
    AudioPackIndex index;
    QString packDirectory;
    QString indexPath;
    bool replacedEarlierBuild = false; // the version was in the output folder already
};

// Builds the pack. Tracks are ordered as in the default album, then the others by id.
// Sizes and SHA-256 digests are those of the copies written, durations are read from them.
// The manifest and the index are checked with the library's own validators before
// anything is published; the pack folder is assembled beside the output and replaces an
// earlier build of the same version only when complete, and the index is written last
// (atomically). On failure the output folder is left as it was. Blocking; any thread.
PackResult<PackBuildReport> buildPack(const PackBuildOptions& options);

} // namespace calmcove
