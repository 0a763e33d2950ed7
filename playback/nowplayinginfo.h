#pragma once

// What the player publishes to the desktop's now-playing display: the current track, the
// selected album, the position and speed, and whether it plays. A plain value; the
// desktop integration turns it into its own format.

#include "model/calmtrack.h"

namespace calmcove {

struct NowPlayingInfo
{
    enum class State
    {
        playing,
        paused,
        stopped
    };

    QString trackID;
    QString title;
    QString artist;
    QString albumTitle;
    double duration = 0; // seconds
    double elapsed = 0;  // seconds, never negative
    // The preset's rate while playing, else 0.
    double rate = 0;
    double defaultRate = 1;
    AlbumArtwork artwork = NoArtwork{};
    State state = State::paused;

    bool operator==(const NowPlayingInfo&) const = default;
};

} // namespace calmcove
