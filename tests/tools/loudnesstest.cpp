// The generator's own loudness meter, true-peak meter and limiter: against signals whose
// loudness BS.1770 defines, and against ffmpeg's ebur128 filter on real music.

#include "musicgen/loudness.h"

#include "musicgen/renderer.h"
#include "support/ffmpegprobe.h"

#include <cmath>
#include <gtest/gtest.h>

namespace calmcove::musicgen {
namespace {

constexpr double twoPi = 6.283185307179586;

// Interleaved stereo: a sine of the given amplitudes for `seconds`, then silence.
std::vector<float> tone(double left, double right, double seconds, double silence = 0,
                        double hz = 997, double phase = 0)
{
    const auto frames = static_cast<std::size_t>(seconds * 44100);
    std::vector<float> samples(2 * (frames + static_cast<std::size_t>(silence * 44100)), 0.0f);
    for (std::size_t i = 0; i < frames; ++i) {
        const double s = std::sin(twoPi * hz * static_cast<double>(i) / 44100.0 + phase);
        samples[2 * i] = static_cast<float>(left * s);
        samples[2 * i + 1] = static_cast<float>(right * s);
    }
    return samples;
}

TEST(LoudnessTest, ReadsReferenceTones)
{
    // A full-scale 997 Hz sine in one channel reads -3.01 LUFS; loudness adds over channels,
    // and the gates ignore silence.
    const struct
    {
        const char* name;
        std::vector<float> samples;
        double expected;
    } cases[] = {
        {"both channels at -20 dBFS", tone(0.1, 0.1, 5), -20.0},
        {"left only at -6 dBFS", tone(0.5, 0, 5), -6.02 - 3.01},
        // Blocks that straddle the end of the tone still pass the gates (ffmpeg agrees).
        {"tone then as long a silence", tone(0.1, 0.1, 5, 5), -20.13},
        {"quiet tone at -50 dBFS", tone(0.00316, 0.00316, 5), -50.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_NEAR(integratedLoudness(c.samples), c.expected, 0.05);
    }
    EXPECT_FALSE(std::isfinite(integratedLoudness(tone(0, 0, 5))));
    EXPECT_FALSE(std::isfinite(integratedLoudness({})));
}

TEST(LoudnessTest, TruePeakSeesBetweenSamples)
{
    // A sine at a quarter of the sample rate, sampled 45 degrees off its crests: every sample
    // sits at 0.707 of the true peak (-3 dB).
    const std::vector<float> samples = tone(0.5, 0.5, 1, 0, 11025, twoPi / 8);
    EXPECT_NEAR(20 * std::log10(samplePeak(samples)), -9.03, 0.05);
    EXPECT_NEAR(truePeakDb(samples), -6.02, 0.6);
}

TEST(LoudnessTest, LimiterHoldsTheCeilingAndLeavesQuietPartsAlone)
{
    // Quiet tone with a loud burst in the middle.
    std::vector<float> samples = tone(0.1, 0.1, 3);
    for (std::size_t i = 2 * 44100; i < 2 * 44100 + 2 * 2205; ++i)
        samples[i] *= 12.0f;
    const std::vector<float> original = samples;
    limitPeaks(samples, 0.5f);
    EXPECT_LE(samplePeak(samples), 0.5f + 1e-6f);
    // Well before the burst and well after it (the release takes about 150 ms), the
    // quiet tone is untouched.
    for (std::size_t i = 0; i < 2 * 22050; ++i)
        ASSERT_FLOAT_EQ(samples[i], original[i]);
    for (std::size_t i = 2 * (44100 + 2205 + 44100); i < samples.size(); ++i)
        ASSERT_NEAR(samples[i], original[i], 1e-3f);
}

TEST(LoudnessTest, AgreesWithFfmpegOnMusic)
{
    for (const char* id : {"paper-lanterns", "tail-light-rivers"}) {
        SCOPED_TRACE(id);
        const std::vector<float> mix = renderMix(*catalogueTrack(id), 15);
        const std::optional<test::Ebur128> reference = test::measureSamples(mix);
        ASSERT_TRUE(reference);
        EXPECT_NEAR(integratedLoudness(mix), reference->integrated, 0.15);
        EXPECT_NEAR(truePeakDb(mix), reference->truePeak, 0.3);
    }
}

TEST(LoudnessTest, MasteringReachesTheTargetUnderTheCeiling)
{
    std::vector<float> samples = renderMix(*catalogueTrack("velvet-static"), 10);
    const MasteringResult result = master(samples, -16, -1.5);
    EXPECT_NEAR(result.loudness, -16, 0.1);
    EXPECT_NEAR(integratedLoudness(samples), -16, 0.1);
    EXPECT_LE(truePeakDb(samples), -1.5);

    // Silence is left as it is rather than amplified without limit.
    std::vector<float> silence(2 * 44100, 0.0f);
    master(silence, -16, -1.5);
    EXPECT_EQ(samplePeak(silence), 0.0f);
}

} // namespace
} // namespace calmcove::musicgen
