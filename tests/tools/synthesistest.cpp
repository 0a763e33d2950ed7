// The sound-making parts one by one: instruments in tune and falling silent, drum samples
// without clicks, effects that keep their promises, randomness that never changes.

#include "musicgen/drums.h"
#include "musicgen/dsp.h"
#include "musicgen/effects.h"
#include "musicgen/instruments.h"
#include "musicgen/random.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <utility>

namespace calmcove::musicgen {
namespace {

struct Stereo
{
    std::vector<float> left;
    std::vector<float> right;
};

// Calls `process(start, count)` for 256-frame blocks covering `frames`, as the renderer does.
template <typename Process> void inBlocks(std::size_t frames, Process process)
{
    for (std::size_t start = 0; start < frames; start += 256)
        process(start, static_cast<int>(std::min<std::size_t>(256, frames - start)));
}

Stereo play(Instrument& instrument, const std::vector<NoteEvent>& events, std::size_t frames)
{
    Stereo out{std::vector<float>(frames, 0.0f), std::vector<float>(frames, 0.0f)};
    inBlocks(frames, [&](std::size_t start, int n) {
        instrument.render(events, static_cast<std::int64_t>(start), n, out.left.data() + start,
                          out.right.data() + start);
    });
    return out;
}

Stereo sine(double hz, double amplitude, std::size_t frames)
{
    std::vector<float> x(frames);
    for (std::size_t i = 0; i < frames; ++i)
        x[i] = static_cast<float>(amplitude * std::sin(2 * pi * hz * double(i) / sampleRate));
    return {x, x};
}

// The strongest frequency within a semitone of `hz` over 8192 samples from `from`, in cents
// from it: the Goertzel power of a Hann-windowed stretch, cent by cent.
double centsOffPitch(const std::vector<float>& x, std::size_t from, double hz)
{
    const auto power = [&](double f) {
        const double coefficient = 2 * std::cos(2 * pi * f / sampleRate);
        double s1 = 0, s2 = 0;
        for (std::size_t i = 0; i < 8192; ++i) {
            const double s = x[from + i] * (0.5 - 0.5 * std::cos(2 * pi * double(i) / 8192)) +
                             coefficient * s1 - s2;
            s2 = std::exchange(s1, s);
        }
        return s1 * s1 + s2 * s2 - coefficient * s1 * s2;
    };
    double bestCents = 0, best = -1;
    for (double cents = -100; cents <= 100; cents += 1) {
        if (const double p = power(hz * std::exp2(cents / 1200)); p > best) {
            best = p;
            bestCents = cents;
        }
    }
    return bestCents;
}

float peak(const std::vector<float>& x, std::size_t from, std::size_t to)
{
    float result = 0;
    for (std::size_t i = from; i < std::min(to, x.size()); ++i)
        result = std::max(result, std::abs(x[i]));
    return result;
}

TEST(SynthesisTest, InstrumentsPlayInTuneAndFallSilentAfterRelease)
{
    const struct
    {
        Part part;
        CalmKind kind;
        float pitch;
    } cases[] = {
        {Part::keys, CalmKind::dustyBeat, 69},   {Part::pad, CalmKind::vaporwave, 69},
        {Part::bass, CalmKind::dustyBeat, 45},   {Part::bass, CalmKind::nightDrive, 40},
        {Part::lead, CalmKind::dustyBeat, 72},   {Part::lead, CalmKind::nightDrive, 67},
        {Part::pluck, CalmKind::dustyBeat, 64},  {Part::arp, CalmKind::nightDrive, 62},
        {Part::bells, CalmKind::softGlitch, 81},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(static_cast<int>(c.part)) + " " + std::to_string(c.pitch));
        Style style;
        style.kind = c.kind;
        style.lead = c.kind == CalmKind::nightDrive ? LeadTimbre::synth : LeadTimbre::mellow;
        const Stereo out = play(*makeInstrument(c.part, style, 1234),
                                {{1000, sampleRate, c.pitch, 0.7f, 0}}, 8 * sampleRate);
        // In tune: the strongest partial near the fundamental sits on it, measured early
        // before short plucks fade. Nothing before the note, silence well after its release.
        EXPECT_NEAR(centsOffPitch(out.left, 2000, midiToHz(c.pitch)), 0, 8);
        EXPECT_GT(peak(out.left, 0, sampleRate), 0.01f);
        EXPECT_EQ(peak(out.left, 0, 1000), 0.0f);
        EXPECT_LT(peak(out.left, 7 * sampleRate, 8 * sampleRate), 1e-4f);
        EXPECT_LT(peak(out.right, 7 * sampleRate, 8 * sampleRate), 1e-4f);
    }
}

TEST(SynthesisTest, DrumSamplesStartAndEndQuietly)
{
    for (const CalmKind kind :
         {CalmKind::dustyBeat, CalmKind::vaporwave, CalmKind::softGlitch, CalmKind::nightDrive}) {
        Style style;
        style.kind = kind;
        const DrumKit kit(style, 99);
        for (int sound = 0; sound < drumSoundCount; ++sound) {
            for (int variant = 0; variant < DrumKit::maxVariants; ++variant) {
                const std::vector<float>& sample =
                    kit.sample(static_cast<DrumSound>(sound), variant);
                SCOPED_TRACE(std::to_string(sound) + "/" + std::to_string(variant));
                ASSERT_GT(sample.size(), 100u);
                EXPECT_LT(std::abs(sample.front()), 0.05f);
                EXPECT_EQ(sample.back(), 0.0f);
                EXPECT_LE(peak(sample, 0, sample.size()), 1.0f);
                EXPECT_GT(peak(sample, 0, sample.size()), 0.1f);
            }
        }
    }
}

TEST(SynthesisTest, StutterRepeatsWithoutJumps)
{
    // A steady 220 Hz sine through the stutter: every repeat and return is faded, so no
    // step between neighbouring samples is much larger than the sine's own steepest one.
    const std::size_t frames = 2 * sampleRate;
    auto [left, right] = sine(220, 0.5, frames);
    const std::vector<float> original = left;
    const std::vector<StutterEvent> events = {{10000, 3001, 4}, {40000, 1499, 8}};
    Stutter stutter;
    inBlocks(frames, [&](std::size_t start, int n) {
        stutter.process(events, static_cast<std::int64_t>(start), left.data() + start,
                        right.data() + start, n);
    });
    const double steepest = 0.5 * 2 * pi * 220 / sampleRate;
    float largest = 0;
    for (std::size_t i = 1; i < frames; ++i)
        largest = std::max(largest, std::abs(left[i] - left[i - 1]));
    EXPECT_LT(largest, 3 * steepest);
    // The second repeat replays the first slice (at a lower level), and the signal is back
    // to normal after the last event.
    EXPECT_NEAR(left[10000 + 3001 + 1500] / original[10000 + 1500], 0.82f, 0.02f);
    EXPECT_EQ(left[60000], original[60000]);
}

TEST(SynthesisTest, ReverbDecaysInItsDecayTime)
{
    for (const double decay : {1.5, 4.0}) {
        SCOPED_TRACE(decay);
        Reverb reverb(decay, 6000, 1.0, 0.01);
        const std::size_t frames = static_cast<std::size_t>(decay * 1.5 * sampleRate);
        std::vector<float> in(frames, 0.0f), left(frames, 0.0f), right(frames, 0.0f);
        // A burst of noise rather than one impulse: the input high-pass eats most of a click.
        FastNoise noise(5);
        for (std::size_t i = 0; i < 2205; ++i)
            in[i] = noise.next();
        inBlocks(frames, [&](std::size_t start, int n) {
            reverb.process(in.data() + start, in.data() + start, left.data() + start,
                           right.data() + start, n);
        });
        // Schroeder backward integration; the time from -5 to -25 dB, times three, is the
        // decay time to -60 dB.
        std::vector<double> energy(frames + 1, 0.0);
        for (std::size_t i = frames; i-- > 0;)
            energy[i] = energy[i + 1] + double(left[i]) * left[i] + double(right[i]) * right[i];
        const auto timeAt = [&](double db) {
            const auto at = std::find_if(energy.begin(), energy.end(), [&](double e) {
                return 10 * std::log10(e / energy[0]) < db;
            });
            return static_cast<double>(at - energy.begin()) / sampleRate;
        };
        EXPECT_NEAR(3 * (timeAt(-25) - timeAt(-5)), decay, decay * 0.3);
    }
}

TEST(SynthesisTest, TapeWobbleBendsPitchByCentsOnly)
{
    // A 1 kHz tone through full wobble: the period between zero crossings varies, but by
    // far less than a quarter tone.
    const std::size_t frames = 6 * sampleRate;
    auto [left, right] = sine(1000, 1.0, frames);
    TapeWobble wobble(1.0, 3);
    inBlocks(frames, [&](std::size_t start, int n) {
        wobble.process(left.data() + start, right.data() + start, n);
    });
    std::vector<double> crossings;
    for (std::size_t i = sampleRate / 2; i < frames; ++i) {
        if (left[i - 1] < 0 && left[i] >= 0)
            crossings.push_back(static_cast<double>(i - 1) + left[i - 1] / (left[i - 1] - left[i]));
    }
    double lowest = 1e9, highest = 0;
    // Frequency over runs of 20 periods smooths out the interpolation's own jitter.
    for (std::size_t i = 20; i < crossings.size(); ++i) {
        const double hz = 20 * sampleRate / (crossings[i] - crossings[i - 20]);
        lowest = std::min(lowest, hz);
        highest = std::max(highest, hz);
    }
    const double spreadCents = 1200 * std::log2(highest / lowest);
    EXPECT_GT(spreadCents, 4);  // audible as wobble…
    EXPECT_LT(spreadCents, 40); // …but never out of tune
    EXPECT_EQ(left, right);     // one tape: both sides bend together
}

TEST(SynthesisTest, RandomnessIsFixedForEveryMachine)
{
    // These values seed every piece: if they change, every track sounds different.
    EXPECT_EQ(hashText(""), 0xcbf29ce484222325ull);
    EXPECT_EQ(hashText("morning-tea-steam"), 12337152078506921941ull);
    EXPECT_EQ(Random(42).next(), 1546998764402558742ull);
    EXPECT_EQ(Random::stream("morning-tea-steam", "harmony").next(), 9964257098610015839ull);

    EXPECT_NE(Random::stream("morning-tea-steam", "drums").next(),
              Random::stream("morning-tea-steam", "harmony").next());
    Random random(3);
    for (int i = 0; i < 100; ++i) {
        const int n = random.below(7);
        EXPECT_TRUE(n >= 0 && n < 7) << n;
    }
    EXPECT_EQ(Random(0).below(0), 0);
    EXPECT_EQ(Random(1).weighted({0, 0, 1}), 2);
}

} // namespace
} // namespace calmcove::musicgen
