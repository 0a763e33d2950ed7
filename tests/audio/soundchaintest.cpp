// The sound chain of the real engine, rendered offline: the mood presets' equaliser gains,
// the pitch-keeping speed change, the reverb's wet share, the volume, and how settings
// glide in while audio plays.

#include "audio/playerstage.h"
#include "audio/soundpreset.h"
#include "audio/timestretch.h"
#include "audiotestsupport.h"

#include <gtest/gtest.h>
#include <random>

namespace calmcove {
namespace {

using namespace calmcove::test;

constexpr int rate = 44100;

TEST(SoundChainTest, EveryPresetsBandGainsAreMeasuredAtTheCentreFrequencies)
{
    QTemporaryDir folder;
    std::array<QString, 3> tones;
    for (int band = 0; band < 3; ++band)
        tones[band] = writeTone(folder, QStringLiteral("band%1.wav").arg(band),
                                equaliserBandFrequencies[band], 0.6);

    for (Mood mood : allMoods) {
        const SoundPreset preset = soundPreset(mood);
        const std::array<double, 3> expected = {preset.lowGain, preset.midGain, preset.highGain};
        for (int band = 0; band < 3; ++band) {
            SCOPED_TRACE(rawValue(mood).toStdString() + " band " + std::to_string(band + 1));
            OfflineEngine offline;
            offline.neutral();
            offline.engine().setEqualiserGains(preset.lowGain, preset.midGain, preset.highGain);
            offline.scheduleFile(tones[band]);
            offline.player().play();
            offline.render(rate / 2);
            const double amplitude = toneAmplitude(offline.channel(0), rate / 5, rate / 4,
                                                   equaliserBandFrequencies[band], rate);
            EXPECT_NEAR(decibels(amplitude / 0.5), expected[band], 0.5);
        }
    }
}

TEST(SoundChainTest, SpeedChangesKeepThePitchAndStretchTheDuration)
{
    QTemporaryDir folder;
    const QString tone = writeTone(folder, "tone.wav", 1000, 2.0);
    for (Mood mood : allMoods) {
        const double speed = soundPreset(mood).playbackRate;
        if (speed == 1.0)
            continue;
        SCOPED_TRACE(rawValue(mood).toStdString());
        OfflineEngine offline;
        offline.neutral();
        offline.engine().setRate(speed);
        int completions = 0;
        offline.scheduleFile(tone, &completions);
        offline.player().play();
        ASSERT_TRUE(offline.renderUntil([&] { return completions == 1; }, 4 * rate));
        const std::vector<float> left = offline.channel(0);
        const qint64 first = firstAbove(left, 0.05f), last = lastAbove(left, 0.05f);
        const double seconds = double(last - first + 1) / rate;
        EXPECT_NEAR(seconds, 2.0 / speed, 0.01 * 2.0 / speed);
        const double pitch =
            dominantFrequency(left, std::size_t(first + rate / 4), rate / 2, 990, 1010, rate);
        EXPECT_NEAR(pitch, 1000.0, 5.0);
        // The completion came after the stretched tone had been rendered in full.
        EXPECT_GE(qint64(left.size()), last);
    }
}

// Pulls deterministic noise and remembers the last block it gave.
class NoiseSource final : public FrameSource
{
public:
    void pull(float* frames, int count) override
    {
        last.assign(frames, frames); // keep the capacity
        for (int i = 0; i < 2 * count; ++i)
            frames[i] = distribution(generator);
        last.assign(frames, frames + 2 * count);
    }
    std::vector<float> last;

private:
    std::mt19937 generator{7};
    std::uniform_real_distribution<float> distribution{-0.5f, 0.5f};
};

TEST(SoundChainTest, RateOneIsBitTransparentThroughTheStretchStage)
{
    TimeStretchStage stage(rate, 512);
    NoiseSource source;
    std::vector<float> out(2 * 512);
    const auto transparentFor = [&](int blocks) {
        for (int i = 0; i < blocks; ++i) {
            stage.process(out.data(), 512, source);
            if (!stage.bypassed() || out != source.last)
                return false;
        }
        return true;
    };
    EXPECT_TRUE(transparentFor(50));
    // Through a speed change and back: once the crossfade is over, bit for bit again.
    stage.setTargetRate(0.9);
    for (int i = 0; i < 100; ++i)
        stage.process(out.data(), 512, source);
    EXPECT_FALSE(stage.bypassed());
    stage.setTargetRate(1.0);
    for (int i = 0; i < 4; ++i)
        stage.process(out.data(), 512, source);
    EXPECT_TRUE(transparentFor(50));
}

TEST(SoundChainTest, NeutralChainPlaysTheFileUnchanged)
{
    QTemporaryDir folder;
    const QString path =
        writeSignal(folder, "noise.wav", "0.4*sin(2*PI*300*t)*sin(2*PI*7*t)", rate);
    OfflineEngine offline;
    offline.neutral();
    offline.scheduleFile(path);
    offline.player().play();
    offline.render(rate);
    const auto file = AudioFile::open(path, nullptr);
    AudioDecoder decoder(file, rate);
    ASSERT_TRUE(decoder.open(0, rate, nullptr));
    std::vector<float> source(2 * rate);
    ASSERT_EQ(decoder.read(source.data(), rate), rate);
    const std::vector<float>& played = offline.capture().audio();
    // After the fade-in, sample for sample.
    const std::size_t from = 2 * (std::size_t(PlayerStage::fadeSeconds * rate) + 1);
    EXPECT_TRUE(std::equal(source.begin() + from, source.end(), played.begin() + from));
}

TEST(SoundChainTest, ReverbAddsATailOfTheWetShare)
{
    QTemporaryDir folder;
    // Half a second of noise-like tone cluster, then silence.
    const QString burst =
        writeSignal(folder, "burst.wav",
                    "lt(t,0.5)*0.3*(sin(2*PI*220*t)+sin(2*PI*1330*t)+sin(2*PI*3170*t))", 2 * rate);
    const auto render = [&](double mix) {
        OfflineEngine offline;
        offline.neutral();
        offline.engine().setReverbMix(mix);
        offline.scheduleFile(burst);
        offline.player().play();
        offline.render(2 * rate);
        return offline.channel(0);
    };
    const std::vector<float> dry = render(0), wet = render(100), mixed = render(28);
    const std::size_t tailFrom = std::size_t(0.55 * rate), tailLength = std::size_t(0.3 * rate);
    EXPECT_LT(rms(dry, tailFrom, tailLength), 1e-6);
    const double fullTail = rms(wet, tailFrom, tailLength);
    EXPECT_GT(fullTail, 0.01);
    EXPECT_NEAR(rms(mixed, tailFrom, tailLength) / fullTail, 0.28, 0.01);
    // While the burst sounds, the dry share is 72 %: mixed − 0.28 · wet = 0.72 · dry.
    double worst = 0;
    for (std::size_t i = rate / 10; i < std::size_t(0.45 * rate); ++i)
        worst = std::max(worst, double(std::fabs(mixed[i] - 0.28f * wet[i] - 0.72f * dry[i])));
    EXPECT_LT(worst, 1e-4);
    // A medium room: 1.3 s after the burst the tail has fallen by more than 40 dB.
    EXPECT_LT(rms(wet, std::size_t(1.8 * rate), rate / 10), fullTail / 100);
}

TEST(SoundChainTest, VolumeScalesTheOutputAndClampsToItsRange)
{
    QTemporaryDir folder;
    const QString tone = writeTone(folder, "tone.wav", 500, 0.5);
    for (const auto& [volume, gain] : std::vector<std::pair<double, double>>{
             {0.5, 0.5}, {0.72, 0.72}, {0.0, 0.0}, {1.5, 1.0}, {-0.2, 0.0}}) {
        SCOPED_TRACE(volume);
        OfflineEngine offline;
        offline.neutral();
        offline.engine().setVolume(volume);
        offline.scheduleFile(tone);
        offline.player().play();
        offline.render(rate / 2);
        EXPECT_NEAR(toneAmplitude(offline.channel(1), rate / 10, rate / 4, 500, rate), 0.5 * gain,
                    1e-3);
    }
}

// A change made while a tone plays is fully heard 50 ms later, and on its way there the
// waveform never jumps by more than the tone itself can move between two samples.
TEST(SoundChainTest, ChangesGlideInWithinFiftyMillisecondsWithoutClicks)
{
    QTemporaryDir folder;
    const QString tone = writeTone(folder, "tone.wav", 140, 1.0);
    struct Change
    {
        const char* name;
        std::function<void(AudioEngine&)> apply;
        double expectedDb;
    };
    const std::vector<Change> changes = {
        {"volume", [](AudioEngine& engine) { engine.setVolume(0.25); }, decibels(0.25)},
        {"low band", [](AudioEngine& engine) { engine.setEqualiserGains(6, 0, 0); }, 6.0},
    };
    for (const Change& change : changes) {
        SCOPED_TRACE(change.name);
        OfflineEngine offline;
        offline.neutral();
        offline.scheduleFile(tone);
        offline.player().play();
        offline.render(rate / 4);
        change.apply(offline.engine());
        offline.render(rate / 4);
        const std::vector<float> left = offline.channel(0);
        const std::size_t changedAt = rate / 4 - rate / 4 % 512, heard = changedAt + rate / 20;
        EXPECT_NEAR(decibels(toneAmplitude(left, heard, rate / 10, 140, rate) / 0.5),
                    change.expectedDb, 0.2);
        const double toneStep = 2 * std::numbers::pi * 140 / rate * 0.5 * 2.0; // 6 dB headroom
        double largestStep = 0;
        for (std::size_t i = changedAt; i < heard; ++i)
            largestStep = std::max(largestStep, double(std::fabs(left[i] - left[i - 1])));
        EXPECT_LT(largestStep, toneStep);
    }
}

// What the output holds is rendered again from the sound the chain kept: with the same
// settings it is the same sound, and a new setting holds from the first frame rendered again.
TEST(SoundChainTest, RenderingAgainGivesTheSameSoundOrTheNewSettingFromItsStart)
{
    QTemporaryDir folder;
    const QString tone = writeTone(folder, "tone.wav", 330, 3.0);
    OfflineEngine offline;
    offline.neutral();
    offline.engine().setEqualiserGains(6, -3, 2);
    offline.scheduleFile(tone);
    offline.player().play();
    offline.render(2 * rate);
    const std::vector<float> before = offline.channel(0);

    // Same settings: the same sound, and the render after it goes on seamlessly.
    const qint64 replaced = offline.capture().renderTailAgain(rate / 2);
    ASSERT_GT(replaced, rate / 4);
    ASSERT_LE(replaced, rate / 2);
    offline.render(qint64(before.size()) - qint64(offline.channel(0).size()));
    const std::vector<float> again = offline.channel(0);
    ASSERT_EQ(again.size(), before.size());
    double largestDifference = 0;
    for (std::size_t i = 0; i < before.size(); ++i)
        largestDifference = std::max(largestDifference, double(std::fabs(again[i] - before[i])));
    EXPECT_LT(largestDifference, 1e-4);

    // Half the volume: half the level from where it was rendered again.
    offline.engine().setVolume(0.5);
    const qint64 halved = offline.capture().renderTailAgain(rate / 2);
    ASSERT_GT(halved, 0);
    const std::vector<float> quieter = offline.channel(0);
    const std::size_t from = again.size() - std::size_t(halved);
    EXPECT_NEAR(toneAmplitude(quieter, from, std::size_t(halved) / 2, 330, rate),
                toneAmplitude(before, from, std::size_t(halved) / 2, 330, rate) / 2, 0.005);
    EXPECT_NEAR(toneAmplitude(quieter, from - rate / 10, rate / 10, 330, rate),
                toneAmplitude(before, from - rate / 10, rate / 10, 330, rate), 0.005);
}

} // namespace
} // namespace calmcove
