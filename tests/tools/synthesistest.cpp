// The sound-making parts one by one: instruments in tune and falling silent, drum samples
// without clicks, effects that keep their promises (decay time, pitch depth, seamless
// stutters), swing, and randomness that never changes under our feet.

#include "musicgen/drums.h"
#include "musicgen/dsp.h"
#include "musicgen/effects.h"
#include "musicgen/instruments.h"
#include "musicgen/random.h"
#include "musicgen/timeline.h"

#include <cmath>
#include <gtest/gtest.h>

namespace calmcove::musicgen {
namespace {

struct Stereo
{
    std::vector<float> left;
    std::vector<float> right;
};

// Plays events on an instrument in 256-frame blocks, as the renderer does.
Stereo play(Instrument& instrument, const std::vector<NoteEvent>& events, std::size_t frames)
{
    Stereo out{std::vector<float>(frames, 0.0f), std::vector<float>(frames, 0.0f)};
    for (std::size_t start = 0; start < frames; start += 256) {
        const int n = static_cast<int>(std::min<std::size_t>(256, frames - start));
        instrument.render(events, static_cast<std::int64_t>(start), n, out.left.data() + start,
                          out.right.data() + start);
    }
    return out;
}

// Goertzel power of a frequency over a stretch of samples.
double power(const std::vector<float>& x, std::size_t from, std::size_t count, double hz)
{
    const double w = 2 * pi * hz / sampleRate;
    const double coefficient = 2 * std::cos(w);
    double s1 = 0, s2 = 0;
    for (std::size_t i = from; i < from + count; ++i) {
        const double window = 0.5 - 0.5 * std::cos(2 * pi * static_cast<double>(i - from) /
                                                   static_cast<double>(count));
        const double s = x[i] * window + coefficient * s1 - s2;
        s2 = s1;
        s1 = s;
    }
    return s1 * s1 + s2 * s2 - coefficient * s1 * s2;
}

// The strongest frequency within a semitone of `hz`, in cents from it.
double centsOffPitch(const std::vector<float>& x, std::size_t from, std::size_t count, double hz)
{
    double bestCents = 0, best = -1;
    for (double cents = -100; cents <= 100; cents += 1) {
        const double p = power(x, from, count, hz * std::exp2(cents / 1200));
        if (p > best) {
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
        std::unique_ptr<Instrument> instrument = makeInstrument(c.part, style, 1234);
        const std::size_t held = sampleRate;
        const std::vector<NoteEvent> note = {
            {1000, static_cast<std::int64_t>(held), c.pitch, 0.7f, 0}};
        const Stereo out = play(*instrument, note, 8 * sampleRate);

        // In tune: the strongest partial near the fundamental sits on it. Short plucks are
        // measured early, before they fade.
        const double hz = midiToHz(c.pitch);
        EXPECT_NEAR(centsOffPitch(out.left, 2000, 8192, hz), 0, 8);
        EXPECT_GT(peak(out.left, 0, held), 0.01f);
        EXPECT_EQ(peak(out.left, 0, 1000), 0.0f); // nothing before the note starts
        // Silent well after the release.
        EXPECT_LT(peak(out.left, 7 * sampleRate, 8 * sampleRate), 1e-4f);
        EXPECT_LT(peak(out.right, 7 * sampleRate, 8 * sampleRate), 1e-4f);
    }
}

TEST(SynthesisTest, VoicesAreReusedWhenManyNotesOverlap)
{
    Style style;
    std::unique_ptr<Instrument> keys = makeInstrument(Part::keys, style, 1);
    // Far more simultaneous notes than voices: the instrument keeps playing, bounded.
    std::vector<NoteEvent> cluster;
    for (int i = 0; i < 64; ++i)
        cluster.push_back(
            {static_cast<std::int64_t>(i * 100), 44100, static_cast<float>(48 + i % 30), 0.8f, 0});
    const Stereo out = play(*keys, cluster, 3 * sampleRate);
    EXPECT_LT(peak(out.left, 0, out.left.size()), 8.0f);
    EXPECT_GT(peak(out.left, 8000, 40000), 0.05f);
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
    std::vector<float> left(frames), right(frames);
    for (std::size_t i = 0; i < frames; ++i)
        left[i] = right[i] =
            static_cast<float>(0.5 * std::sin(2 * pi * 220 * static_cast<double>(i) / sampleRate));
    const std::vector<float> original = left;
    const std::vector<StutterEvent> events = {{10000, 3001, 4}, {40000, 1499, 8}};
    Stutter stutter;
    for (std::size_t start = 0; start < frames; start += 256) {
        const int n = static_cast<int>(std::min<std::size_t>(256, frames - start));
        stutter.process(events, static_cast<std::int64_t>(start), left.data() + start,
                        right.data() + start, n);
    }
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
        for (std::size_t start = 0; start < frames; start += 256) {
            const int n = static_cast<int>(std::min<std::size_t>(256, frames - start));
            reverb.process(in.data() + start, in.data() + start, left.data() + start,
                           right.data() + start, n);
        }
        // Schroeder backward integration; the time from -5 to -25 dB, times three, is the
        // decay time to -60 dB.
        std::vector<double> energy(frames);
        double sum = 0;
        for (std::size_t i = frames; i-- > 0;) {
            sum +=
                static_cast<double>(left[i]) * left[i] + static_cast<double>(right[i]) * right[i];
            energy[i] = sum;
        }
        const auto timeAt = [&](double db) {
            for (std::size_t i = 0; i < frames; ++i) {
                if (10 * std::log10(energy[i] / energy[0]) < db)
                    return static_cast<double>(i) / sampleRate;
            }
            return static_cast<double>(frames) / sampleRate;
        };
        const double measured = 3 * (timeAt(-25) - timeAt(-5));
        EXPECT_NEAR(measured, decay, decay * 0.3);
    }
}

TEST(SynthesisTest, TapeWobbleBendsPitchByCentsOnly)
{
    // A 1 kHz tone through full wobble: the period between zero crossings varies, but by
    // far less than a quarter tone.
    const std::size_t frames = 6 * sampleRate;
    std::vector<float> left(frames), right(frames);
    for (std::size_t i = 0; i < frames; ++i)
        left[i] = right[i] =
            static_cast<float>(std::sin(2 * pi * 1000 * static_cast<double>(i) / sampleRate));
    TapeWobble wobble(1.0, 3);
    for (std::size_t start = 0; start < frames; start += 256)
        wobble.process(left.data() + start, right.data() + start,
                       static_cast<int>(std::min<std::size_t>(256, frames - start)));
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

TEST(SynthesisTest, SwingDelaysOnlyTheOffBeats)
{
    const Timeline straight(120, 0.5, 0);
    const Timeline swung(120, 0.6, 1000);
    const double step = sampleRate * 60.0 / 120 / 4; // frames of a sixteenth at 120 bpm
    EXPECT_EQ(straight.at(0, 1), std::llround(step));
    EXPECT_EQ(swung.at(0, 0), 1000);
    EXPECT_EQ(swung.at(0, 1), 1000 + std::llround(1.2 * step));
    EXPECT_EQ(swung.at(0, 2), 1000 + std::llround(2 * step));
    EXPECT_EQ(swung.at(1, 3), 1000 + std::llround((16 + 3.2) * step));
    EXPECT_EQ(swung.at(2, 0) - swung.at(1, 0), std::llround(16 * step));
}

TEST(SynthesisTest, RandomnessIsFixedForEveryMachine)
{
    // These values seed every piece: if they change, every track sounds different.
    EXPECT_EQ(hashText(""), 0xcbf29ce484222325ull);
    EXPECT_EQ(hashText("morning-tea-steam"), 12337152078506921941ull);
    EXPECT_EQ(Random(42).next(), 1546998764402558742ull);
    EXPECT_EQ(Random::stream("morning-tea-steam", "harmony").next(), 9964257098610015839ull);

    Random a = Random::stream("morning-tea-steam", "harmony");
    Random b = Random::stream("morning-tea-steam", "harmony");
    Random other = Random::stream("morning-tea-steam", "drums");
    bool differs = false;
    for (int i = 0; i < 100; ++i) {
        const int n = a.below(7);
        EXPECT_EQ(n, b.below(7));
        EXPECT_GE(n, 0);
        EXPECT_LT(n, 7);
        const std::uint64_t x = a.next();
        EXPECT_EQ(x, b.next());
        if (x != other.next())
            differs = true;
    }
    EXPECT_TRUE(differs);
    EXPECT_EQ(Random(0).below(0), 0);
    EXPECT_EQ(Random(1).weighted({0, 0, 1}), 2);
}

} // namespace
} // namespace calmcove::musicgen
