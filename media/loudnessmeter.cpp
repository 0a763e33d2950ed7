#include "loudnessmeter.h"

#include "audiofile.h"

#include <algorithm>
#include <cmath>
#include <ebur128.h>
#include <memory>
#include <vector>

namespace calmcove {

namespace {

struct MeterCloser
{
    void operator()(ebur128_state* state) const { ebur128_destroy(&state); }
};
using MeterPointer = std::unique_ptr<ebur128_state, MeterCloser>;

} // namespace

std::optional<LoudnessMeasurement> measureLoudness(const QString& path,
                                                   const std::atomic<bool>* cancelled)
{
    QString error;
    const auto file = AudioFile::open(path, &error);
    if (!file || file->length() <= 0)
        return std::nullopt;
    // The file's own rate: the decoder then only mixes the channels to the stereo we play.
    const int rate = file->sampleRate();
    AudioDecoder decoder(file, rate);
    if (!decoder.open(0, file->length(), &error))
        return std::nullopt;
    MeterPointer meter(ebur128_init(2, unsigned(rate), EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK));
    if (!meter)
        return std::nullopt;

    constexpr int blockFrames = 8192;
    std::vector<float> block(std::size_t(blockFrames) * 2);
    while (true) {
        if (cancelled && cancelled->load(std::memory_order_relaxed))
            return std::nullopt;
        const int count = decoder.read(block.data(), blockFrames);
        if (count <= 0)
            break;
        if (ebur128_add_frames_float(meter.get(), block.data(), std::size_t(count)) !=
            EBUR128_SUCCESS)
            return std::nullopt;
    }

    double integrated = 0;
    if (ebur128_loudness_global(meter.get(), &integrated) != EBUR128_SUCCESS ||
        !std::isfinite(integrated))
        return std::nullopt;
    double peak = 0;
    for (unsigned channel = 0; channel < 2; ++channel) {
        double channelPeak = 0;
        if (ebur128_true_peak(meter.get(), channel, &channelPeak) != EBUR128_SUCCESS)
            return std::nullopt;
        peak = std::max(peak, channelPeak);
    }
    if (peak <= 0)
        return std::nullopt;
    return LoudnessMeasurement{integrated, 20.0 * std::log10(peak)};
}

double matchingGainDb(const std::optional<LoudnessMeasurement>& measurement)
{
    if (!measurement)
        return 0;
    return std::min(targetLoudnessLufs - measurement->integratedLufs,
                    truePeakCeilingDbtp - measurement->truePeakDbtp);
}

} // namespace calmcove
