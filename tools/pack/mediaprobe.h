#pragma once

// Reads what the manifest says about an audio file's content: its playing time, from the
// container through FFmpeg's libavformat. Any thread.

#include "tools/pack/packresult.h"

#include <QString>

namespace calmcove {

// The duration in seconds of the first audio stream of the file at `path` (the stream's
// own duration, else the container's, else the packets' time stamps), rounded to the
// millisecond. Fails when the file cannot be opened, holds no audio or has no positive
// length.
PackResult<double> audioDuration(const QString& path);

// Keeps FFmpeg's own diagnostics off standard error: the failures above say what matters.
// Process-wide.
void silenceMediaLog();

} // namespace calmcove
