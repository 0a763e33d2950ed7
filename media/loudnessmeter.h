#pragma once

// EBU R128 measurement of whole audio files: integrated loudness and true peak of the
// stereo audio the player would play, decoded with AudioDecoder and measured by libebur128,
// and the gain that brings a file to the loudness the library is mastered to.

#include <atomic>
#include <optional>
#include <QString>

namespace calmcove {

struct LoudnessMeasurement
{
    double integratedLufs = 0; // LUFS
    double truePeakDbtp = 0;   // dBTP
    bool operator==(const LoudnessMeasurement&) const = default;
};

// The library's tracks are mastered to this loudness and peak ceiling.
inline constexpr double targetLoudnessLufs = -16.0;
inline constexpr double truePeakCeilingDbtp = -1.0;

// Any thread; reads and decodes the whole file. Nothing when the file cannot be read, is
// too short for a loudness (under 0.4 s) or holds only silence, or when `cancelled` turns
// true meanwhile.
std::optional<LoudnessMeasurement> measureLoudness(const QString& path,
                                                   const std::atomic<bool>* cancelled = nullptr);

// The gain in dB that brings a measured file to targetLoudnessLufs without lifting its
// true peak above truePeakCeilingDbtp; 0 for a file without a measurement.
double matchingGainDb(const std::optional<LoudnessMeasurement>& measurement);

} // namespace calmcove
