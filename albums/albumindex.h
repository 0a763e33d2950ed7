#pragma once

// The on-disk index of imported albums, "albums.json": a compact JSON array of album
// records with their track records. Decoding is strict (a missing key or a wrong JSON
// type fails the whole document); unknown keys are ignored. Encoding writes the keys in
// a fixed order and leaves out an absent artwork file name.

#include <optional>
#include <QByteArray>
#include <QList>
#include <QString>

namespace calmcove {

struct ImportedTrackRecord
{
    QString id;
    QString title;
    QString artist;
    double duration = 0; // seconds
    QString fileName;

    bool operator==(const ImportedTrackRecord&) const = default;
};

struct ImportedAlbumRecord
{
    QString id;
    QString name;
    std::optional<QString> artworkFileName;
    QList<ImportedTrackRecord> tracks;

    bool operator==(const ImportedAlbumRecord&) const = default;
};

// Decodes a whole index; no value when the document is not an array of valid records.
std::optional<QList<ImportedAlbumRecord>> decodeAlbumIndex(const QByteArray& json);

// Encodes an index compactly with keys in the order id, name, artworkFileName, tracks
// (and id, title, artist, duration, fileName for tracks). Fails (no value) only when a
// duration is not a finite number, which JSON cannot express.
std::optional<QByteArray> encodeAlbumIndex(const QList<ImportedAlbumRecord>& albums);

} // namespace calmcove
