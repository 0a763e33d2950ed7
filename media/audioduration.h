#pragma once

// The playing time a file states about itself, as a manifest records it: the audio
// stream's own duration, else the container's, else the end of its last packet. Cheaper
// than AudioFile's exact frame count and what other players show. Any thread.

#include "model/expected.h"

#include <QString>

namespace calmcove {

struct AudioDurationError
{
    enum class Kind
    {
        unreadable,    // the file cannot be opened or read as a container
        noAudioStream, // it holds no audio
        noPlayingTime  // its audio has no positive length
    };
    Kind kind = Kind::unreadable;
    QString detail; // FFmpeg's text for `unreadable`, else empty
    bool operator==(const AudioDurationError&) const = default;
};

// Seconds, rounded to the millisecond; always positive.
Expected<double, AudioDurationError> statedAudioDuration(const QString& path);

} // namespace calmcove
