#pragma once

// Renders a catalogue row to finished audio: composes the score, plays it through the
// instruments, drums and effects of its kind, and masters the result to the loudness
// target. Deterministic: the same row and duration give bit-identical samples.
// Thread-safe: renders of different tracks may run in parallel.

#include "trackspec.h"

#include <vector>

namespace calmcove::musicgen {

struct RenderOptions
{
    double durationSeconds = 0; // 0: the row's own duration
    double targetLufs = -16.0;
    double ceilingDbtp = -2.0; // true-peak ceiling, with room for the encoder's overshoot
};

struct Rendering
{
    std::vector<float> samples; // interleaved stereo, 44.1 kHz
    double loudness = 0;        // integrated LUFS after mastering
    double truePeak = 0;        // dBTP after mastering
    double seconds() const { return static_cast<double>(samples.size()) / 2.0 / 44100.0; }
};

Rendering renderTrack(const TrackSpec& track, const RenderOptions& options = {});

// The mix before mastering (no loudness gain, no limiter), for inspection and benchmarks.
std::vector<float> renderMix(const TrackSpec& track, double durationSeconds);

struct Score;
struct Style;
// Plays a score through the instruments and effects of a style, unmastered; `track`
// seeds the noise and tuning of the sounds.
std::vector<float> renderScore(const TrackSpec& track, const Style& style, const Score& score);

} // namespace calmcove::musicgen
