#include "loudness.h"

#include "dsp.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace calmcove::musicgen {

namespace {

// The K-weighting pre-filter (high shelf) and RLB high-pass for any sample rate, from
// their analogue prototypes, as in BS.1770 reference implementations.
struct KWeighting
{
    std::array<double, 3> shelfB{}, shelfA{}, passB{}, passA{};

    explicit KWeighting(double rate)
    {
        {
            const double f0 = 1681.974450955533;
            const double gain = 3.999843853973347;
            const double q = 0.7071752369554196;
            const double k = std::tan(pi * f0 / rate);
            const double vh = std::pow(10.0, gain / 20.0);
            const double vb = std::pow(vh, 0.4996667741545416);
            const double a0 = 1.0 + k / q + k * k;
            shelfB = {(vh + vb * k / q + k * k) / a0, 2.0 * (k * k - vh) / a0,
                      (vh - vb * k / q + k * k) / a0};
            shelfA = {1.0, 2.0 * (k * k - 1.0) / a0, (1.0 - k / q + k * k) / a0};
        }
        {
            const double f0 = 38.13547087602444;
            const double q = 0.5003270373238773;
            const double k = std::tan(pi * f0 / rate);
            const double a0 = 1.0 + k / q + k * k;
            passB = {1.0, -2.0, 1.0};
            passA = {1.0, 2.0 * (k * k - 1.0) / a0, (1.0 - k / q + k * k) / a0};
        }
    }
};

struct BiquadState
{
    double z1 = 0, z2 = 0;
    double process(double x, const std::array<double, 3>& b, const std::array<double, 3>& a)
    {
        const double y = b[0] * x + z1;
        z1 = b[1] * x - a[1] * y + z2;
        z2 = b[2] * x - a[2] * y;
        return y;
    }
};

double blockLoudness(double meanSquare)
{
    return -0.691 + 10.0 * std::log10(std::max(meanSquare, 1e-30));
}

// Four polyphase branches of a windowed-sinc interpolator, 12 taps each.
struct Oversampler
{
    static constexpr int taps = 12;
    std::array<std::array<float, taps>, 4> phases{};

    Oversampler()
    {
        constexpr int length = taps * 4;
        for (int p = 0; p < 4; ++p) {
            for (int k = 0; k < taps; ++k) {
                const int n = k * 4 + p;
                const double x = (n - (length - 1) / 2.0) / 4.0;
                const double t = static_cast<double>(n) / (length - 1);
                const double window =
                    0.42 - 0.5 * std::cos(2 * pi * t) + 0.08 * std::cos(4 * pi * t);
                const double sinc = std::abs(x) < 1e-9 ? 1.0 : std::sin(pi * x) / (pi * x);
                phases[static_cast<std::size_t>(p)][static_cast<std::size_t>(k)] =
                    static_cast<float>(sinc * window);
            }
        }
    }
};

} // namespace

double integratedLoudness(const std::vector<float>& samples)
{
    const std::size_t frames = samples.size() / 2;
    const KWeighting k(sampleRate);
    BiquadState shelf[2], pass[2];
    // Mean squares of 100 ms steps; a 400 ms block is four consecutive steps.
    const std::size_t step = sampleRate / 10;
    std::vector<double> steps;
    steps.reserve(frames / step + 1);
    double sum = 0;
    std::size_t inStep = 0;
    for (std::size_t i = 0; i < frames; ++i) {
        for (int c = 0; c < 2; ++c) {
            const double x = samples[2 * i + static_cast<std::size_t>(c)];
            const double y =
                pass[c].process(shelf[c].process(x, k.shelfB, k.shelfA), k.passB, k.passA);
            sum += y * y;
        }
        if (++inStep == step) {
            steps.push_back(sum / static_cast<double>(step));
            sum = 0;
            inStep = 0;
        }
    }
    std::vector<double> blocks;
    for (std::size_t i = 3; i < steps.size(); ++i)
        blocks.push_back((steps[i - 3] + steps[i - 2] + steps[i - 1] + steps[i]) / 4.0);

    const auto gatedMean = [&](double threshold) {
        double total = 0;
        std::size_t count = 0;
        for (const double z : blocks) {
            if (blockLoudness(z) > threshold) {
                total += z;
                ++count;
            }
        }
        return count ? total / static_cast<double>(count) : 0.0;
    };
    const double absolute = gatedMean(-70.0);
    if (absolute <= 0)
        return -std::numeric_limits<double>::infinity();
    const double relative = gatedMean(blockLoudness(absolute) - 10.0);
    return relative > 0 ? blockLoudness(relative) : blockLoudness(absolute);
}

double truePeakDb(const std::vector<float>& samples)
{
    static const Oversampler oversampler;
    // No interpolated value can exceed the largest nearby sample times this bound.
    static const float bound = [] {
        float largest = 0;
        for (const auto& phase : oversampler.phases) {
            float sum = 0;
            for (const float h : phase)
                sum += std::abs(h);
            largest = std::max(largest, sum);
        }
        return largest;
    }();
    constexpr std::size_t taps = Oversampler::taps;
    constexpr std::size_t chunk = 64;
    const std::size_t frames = samples.size() / 2;
    float peak = samplePeak(samples);
    for (std::size_t c = 0; c < 2; ++c) {
        const auto at = [&](std::size_t frame, std::size_t back) {
            return frame >= back && frame - back < frames ? samples[2 * (frame - back) + c] : 0.0f;
        };
        for (std::size_t begin = 0; begin < frames + taps; begin += chunk) {
            const std::size_t end = std::min(begin + chunk, frames + taps);
            float local = 0;
            for (std::size_t j = begin >= taps ? begin - taps : 0; j < std::min(end, frames); ++j)
                local = std::max(local, std::abs(samples[2 * j + c]));
            if (local * bound <= peak)
                continue;
            for (std::size_t j = begin; j < end; ++j) {
                for (const auto& phase : oversampler.phases) {
                    float y = 0;
                    for (std::size_t k = 0; k < taps; ++k)
                        y += phase[k] * at(j, k);
                    peak = std::max(peak, std::abs(y));
                }
            }
        }
    }
    return peak > 0 ? 20.0 * std::log10(peak) : -std::numeric_limits<double>::infinity();
}

float samplePeak(const std::vector<float>& samples)
{
    float peak = 0;
    for (const float x : samples)
        peak = std::max(peak, std::abs(x));
    return peak;
}

void limitPeaks(std::vector<float>& samples, float ceiling)
{
    const std::size_t frames = samples.size() / 2;
    if (frames == 0 || ceiling <= 0 || samplePeak(samples) <= ceiling)
        return;
    const std::size_t window = static_cast<std::size_t>(0.003 * sampleRate);
    const auto needAt = [&](std::size_t i) {
        if (i >= frames)
            return 1.0f;
        const float peak = std::max(std::abs(samples[2 * i]), std::abs(samples[2 * i + 1]));
        return peak > ceiling ? ceiling / peak : 1.0f;
    };

    // Works in chunks so memory stays small for long pieces. For every frame: the least
    // gain needed over the next `window` frames (so the gain is down before a peak
    // arrives), then instant attack and a slow release, then a moving average over the
    // same window that rounds the corners. An average of values that are each at most a
    // frame's need stays at most that need, so no sample passes the ceiling.
    constexpr std::size_t chunk = 1 << 16;
    std::vector<float> need(chunk + window);
    std::vector<float> prefix(chunk + window);
    std::vector<float> suffix(chunk + window);
    std::vector<float> history(window, 1.0f); // the last `window` smoothed gains, a ring
    std::size_t ring = 0;
    double running = static_cast<double>(window);
    const float release = static_cast<float>(1.0 - std::exp(-1.0 / (0.15 * sampleRate)));
    float gain = 1.0f;
    for (std::size_t begin = 0; begin < frames; begin += chunk) {
        const std::size_t count = std::min(chunk, frames - begin);
        const std::size_t span = count + window;
        for (std::size_t i = 0; i < span; ++i)
            need[i] = needAt(begin + i);
        // Sliding minimum (van Herk / Gil-Werman): prefix and suffix minima of runs of
        // `window` frames; any window is one suffix plus one prefix.
        for (std::size_t i = 0; i < span; ++i)
            prefix[i] = i % window == 0 ? need[i] : std::min(prefix[i - 1], need[i]);
        for (std::size_t i = span; i-- > 0;)
            suffix[i] = (i % window == window - 1 || i == span - 1)
                            ? need[i]
                            : std::min(suffix[i + 1], need[i]);
        if (begin == 0) {
            // Frames before the start count as needing what the first window needs.
            gain = std::min(suffix[0], prefix[window - 1]);
            std::fill(history.begin(), history.end(), gain);
            running = static_cast<double>(gain) * static_cast<double>(window);
        }
        for (std::size_t i = 0; i < count; ++i) {
            const float least = std::min(suffix[i], prefix[i + window - 1]);
            gain = least < gain ? least : gain + release * (least - gain);
            running += gain - history[ring];
            history[ring] = gain;
            ring = (ring + 1) % window;
            const auto g = static_cast<float>(running / static_cast<double>(window));
            samples[2 * (begin + i)] *= g;
            samples[2 * (begin + i) + 1] *= g;
        }
    }
}

MasteringResult master(std::vector<float>& samples, double targetLufs, double ceilingDbtp)
{
    MasteringResult result;
    result.loudness = integratedLoudness(samples);
    if (!std::isfinite(result.loudness)) {
        result.truePeak = truePeakDb(samples);
        return result;
    }
    // The sample-peak ceiling sits a little under the true-peak one for inter-sample overs.
    double ceilingDb = ceilingDbtp - 0.3;
    for (int round = 0; round < 5; ++round) {
        const double correction = targetLufs - result.loudness;
        const float gain = dbToGain(correction);
        for (float& x : samples)
            x *= gain;
        result.gainDb += correction;
        limitPeaks(samples, dbToGain(ceilingDb));
        result.loudness = integratedLoudness(samples);
        result.truePeak = truePeakDb(samples);
        const double peakExcess = result.truePeak - ceilingDbtp;
        if (std::abs(targetLufs - result.loudness) < 0.1 && peakExcess <= 0)
            break;
        if (peakExcess > 0)
            ceilingDb -= peakExcess + 0.05;
    }
    return result;
}

} // namespace calmcove::musicgen
