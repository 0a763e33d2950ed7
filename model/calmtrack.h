#pragma once

// The value records every subsystem passes around: a track, where its audio comes from,
// an album and its cover. Equality compares every field.

#include "mood.h"

#include <QList>
#include <QString>
#include <variant>

namespace calmcove {

// The default album's identifier.
inline const QString builtInAlbumID = QStringLiteral("built-in-calm");

// A track of the track library, found by its resource name.
struct BundledAudio
{
    QString resourceName;
    bool operator==(const BundledAudio&) const = default;
};

// A local audio file, playable while a file exists at the path.
struct FileAudio
{
    QString path;
    bool operator==(const FileAudio&) const = default;
};

using AudioSource = std::variant<BundledAudio, FileAudio>;

struct CalmTrack
{
    QString id;
    QString albumID;
    QString title;
    QString artist;
    double duration = 0; // seconds
    MoodSet moods;
    CalmKind kind = CalmKind::all;
    AudioSource source;

    bool operator==(const CalmTrack&) const = default;
};

// An image resource shipped with the program, by name.
struct AssetArtwork
{
    QString name;
    bool operator==(const AssetArtwork&) const = default;
};

// An image file on disk.
struct FileArtwork
{
    QString path;
    bool operator==(const FileArtwork&) const = default;
};

struct NoArtwork
{
    bool operator==(const NoArtwork&) const = default;
};

using AlbumArtwork = std::variant<AssetArtwork, FileArtwork, NoArtwork>;

struct CalmAlbum
{
    QString id;
    QString name;
    QList<CalmTrack> tracks;
    AlbumArtwork artwork = NoArtwork{};
    bool isBuiltIn = false;

    bool operator==(const CalmAlbum&) const = default;
};

} // namespace calmcove
