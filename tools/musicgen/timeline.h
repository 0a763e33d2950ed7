#pragma once

// Musical time to frames: bars of four beats, sixteenth-note steps with swing, after a
// short lead-in at the start of the file.

#include "dsp.h"

#include <cmath>
#include <cstdint>

namespace calmcove::musicgen {

class Timeline
{
public:
    Timeline() = default;
    // bpm: beats per minute; swing: position of off-beat sixteenths within their pair
    // (0.5 straight); leadIn: frames before bar 0.
    Timeline(double bpm, double swing, std::int64_t leadIn)
        : framesPerStep_(sampleRate * 60.0 / bpm / 4.0), swing_(swing), leadIn_(leadIn)
    {}

    double framesPerStep() const { return framesPerStep_; }
    double framesPerBar() const { return framesPerStep_ * 16; }
    double secondsPerStep() const { return framesPerStep_ / sampleRate; }

    // The frame of a step (sixteenths, may be fractional or beyond 16) in a bar.
    std::int64_t at(int bar, double step) const
    {
        return leadIn_ + std::llround((bar * 16.0 + swung(step)) * framesPerStep_);
    }
    // Frames spanned by a number of steps, ignoring swing.
    std::int64_t length(double steps) const { return std::llround(steps * framesPerStep_); }

private:
    double swung(double step) const
    {
        const double whole = std::floor(step);
        const double fraction = step - whole;
        const auto index = static_cast<std::int64_t>(whole);
        const double pairStart = static_cast<double>(index - (((index % 2) + 2) % 2));
        const bool offBeat = ((index % 2) + 2) % 2 == 1;
        const double base = offBeat ? pairStart + 2 * swing_ : pairStart;
        const double next = offBeat ? pairStart + 2 : pairStart + 2 * swing_;
        return base + fraction * (next - base);
    }

    double framesPerStep_ = sampleRate * 60.0 / 80.0 / 4.0;
    double swing_ = 0.5;
    std::int64_t leadIn_ = 0;
};

} // namespace calmcove::musicgen
