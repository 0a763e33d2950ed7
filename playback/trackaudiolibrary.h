#pragma once

// What the playback controller needs of the track library: where a library track's audio
// is, whether a track can play, and a way to ask for the library to be installed.
// Main thread only.

#include "model/calmtrack.h"

#include <optional>

namespace calmcove {

class TrackAudioLibrary
{
public:
    virtual ~TrackAudioLibrary() = default;

    // The verified library file of `resourceName`, if installed.
    virtual std::optional<QString> localPath(const QString& resourceName) const = 0;
    // The starter copy shipped with the program; only for the starter tracks.
    virtual std::optional<QString> starterPath(const QString& resourceName) const = 0;
    virtual bool isTrackAvailable(const CalmTrack& track) const = 0;
    // Starts installing the latest library if it is not installed yet, without waiting;
    // harmless while an install runs.
    virtual void requestLatestPackIfNeeded() = 0;
};

} // namespace calmcove
