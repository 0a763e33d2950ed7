#pragma once

// The player's properties as MPRIS 2 publishes them (org.mpris.MediaPlayer2.Player), made
// from the now-playing table, and the rules that turn our values into MPRIS ones: the
// track's object path, the cover's file URL, microseconds.

#include "playback/nowplayinginfo.h"

#include <optional>
#include <QVariantMap>

namespace calmcove {

// An object path naming the track: every byte of the identifier's UTF-8 outside
// [A-Za-z0-9] is written as "_xx" (hex), so any identifier gives a valid path and two
// identifiers never share one.
QString mprisTrackPath(const QString& trackID);

// A file:// URL of the album's cover: the shipped picture for a resource name, the file
// for an imported album's artwork, the program's icon for an album without artwork.
// None when the file cannot be read.
std::optional<QString> mprisArtUrl(const AlbumArtwork& artwork);

struct MprisPlayerState
{
    QString playbackStatus = QStringLiteral("Paused");
    // MPRIS forbids 0: the preset's rate, playing or not.
    double rate = 1.0;
    double volume = 1.0;
    QString trackPath;
    QString title;
    QString artist;
    QString album;
    qint64 lengthMicroseconds = 0;
    std::optional<QString> artUrl;

    bool operator==(const MprisPlayerState&) const = default;

    // The Metadata property: a{sv} with typed values (trackid an object path, artist a
    // list of one, length 64-bit).
    QVariantMap metadata() const;
};

MprisPlayerState mprisPlayerState(const NowPlayingInfo& info, double volume);

// The properties whose published value differs, as PropertiesChanged carries them.
QVariantMap changedPlayerProperties(const MprisPlayerState& before, const MprisPlayerState& after);

} // namespace calmcove
