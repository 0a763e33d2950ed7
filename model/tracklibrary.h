#pragma once

// The default album's catalogue, compiled in: the track list the player knows before any
// track library is installed, the default album built from it, and the three starter
// tracks whose audio ships with the program. Safe to read from any thread.

#include "calmtrack.h"

#include <QSet>

namespace calmcove::TrackLibrary {

// The artist of every catalogue track.
inline const QString artistName = QStringLiteral("Tidewater Tapes");
inline const QString builtInAlbumName = QStringLiteral("Default album");
inline const QString builtInAlbumCoverName = QStringLiteral("BuiltInAlbumCover");

// The 51 tracks of the default album in display and playback order.
const QList<CalmTrack>& tracks();
// "built-in-calm", "Default album", tracks(), the "BuiltInAlbumCover" asset, built in.
const CalmAlbum& builtInAlbum();
// The identifiers whose audio ships in share/calmcove/StarterAudio/<id>.m4a.
const QSet<QString>& starterTrackIDs();

} // namespace calmcove::TrackLibrary
