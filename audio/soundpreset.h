#pragma once

// The sound of each mood: the three equaliser band gains, the reverb's wet share and the
// speed factor, plus the fixed band layout of the equaliser those gains apply to.

#include "model/mood.h"

#include <array>

namespace calmcove {

struct SoundPreset
{
    double lowGain = 0;      // dB at 140 Hz
    double midGain = 0;      // dB at 900 Hz
    double highGain = 0;     // dB at 5200 Hz
    double reverbMix = 0;    // percent wet, 0…100
    double playbackRate = 1; // speed factor, pitch kept; 1.0 = unchanged

    bool operator==(const SoundPreset&) const = default;
};

// Centre frequencies of the three peaking bands, in Hz, band 1 first.
inline constexpr std::array<double, 3> equaliserBandFrequencies = {140.0, 900.0, 5200.0};
// Bandwidth of every band, in octaves.
inline constexpr double equaliserBandwidthOctaves = 1.0;

SoundPreset soundPreset(Mood mood);

} // namespace calmcove
