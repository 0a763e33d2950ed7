#pragma once

// Independent measurements by the ffmpeg tools, for checking the generator's own:
// loudness by the ebur128 filter, duration by ffprobe.

#include <optional>
#include <QString>
#include <vector>

namespace calmcove::test {

struct Ebur128
{
    double integrated = 0; // LUFS
    double truePeak = 0;   // dBTP
};

// Measures a file ffmpeg can read; nullopt when ffmpeg fails.
std::optional<Ebur128> measureFile(const QString& path);
// Measures interleaved 44.1 kHz stereo float samples, fed to ffmpeg as raw PCM.
std::optional<Ebur128> measureSamples(const std::vector<float>& samples);
// The duration ffprobe decodes, in seconds; -1 on failure.
double decodedDuration(const QString& path);

} // namespace calmcove::test
