// Interruptions without clicks: a full-scale 440 Hz sine paused and resumed, moved to
// another position, stopped, and the output closed while it plays. At every boundary the
// largest step from one sample to the next stays that of the steady sine, and fades last
// 10 to 30 ms.

#include "audio/nulloutput.h"
#include "audiotestsupport.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <numbers>

namespace calmcove {
namespace {

using namespace calmcove::test;

constexpr int rate = 44100;
constexpr double frequency = 440;
// The largest step within a full-scale sine of this frequency, and what a fade may add.
const double steadyStep = 2 * std::sin(std::numbers::pi * frequency / rate);
constexpr double stepTolerance = 1.06;
constexpr int window = 100; // about one period

QString writeFullScaleSine(const QTemporaryDir& folder, double seconds)
{
    return writeSignal(folder, QStringLiteral("sine.wav"),
                       QStringLiteral("sin(2*PI*%1*t)").arg(frequency), qint64(seconds * rate),
                       rate, {QStringLiteral("-c:a"), QStringLiteral("pcm_f32le")});
}

float windowPeak(const std::vector<float>& samples, std::size_t start)
{
    float peak = 0;
    for (std::size_t i = start; i < std::min(start + window, samples.size()); ++i)
        peak = std::max(peak, std::fabs(samples[i]));
    return peak;
}

// From `from` on: milliseconds from the last full-level period to the last audible one.
double fadeOutMs(const std::vector<float>& samples, std::size_t from)
{
    std::size_t lastFull = from, lastAudible = from;
    for (std::size_t start = from; start + window <= samples.size(); start += window) {
        const float peak = windowPeak(samples, start);
        if (peak > 0.95f)
            lastFull = start;
        if (peak > 0.01f)
            lastAudible = start;
    }
    return 1000.0 * double(lastAudible - lastFull) / rate;
}

// From `from` on: milliseconds from the first audible period to the first full-level one.
double fadeInMs(const std::vector<float>& samples, std::size_t from)
{
    std::optional<std::size_t> firstAudible;
    for (std::size_t start = from; start + window <= samples.size(); start += window) {
        const float peak = windowPeak(samples, start);
        if (!firstAudible && peak > 0.01f)
            firstAudible = start;
        if (peak > 0.95f)
            return firstAudible ? 1000.0 * double(start - *firstAudible) / rate : 0.0;
    }
    return -1;
}

TEST(BoundaryTest, PauseResumeSeekAndStopFadeWithoutAClick)
{
    QTemporaryDir folder;
    const QString sine = writeFullScaleSine(folder, 6);
    ASSERT_FALSE(sine.isEmpty());
    OfflineEngine offline;
    offline.neutral();
    auto captured = [&] { return std::size_t(offline.capture().audio().size() / 2); };

    offline.scheduleFile(sine);
    offline.player().play();
    offline.render(rate / 4);

    // Paused as the player controller does it: pause, then the same track scheduled again
    // from the paused frame.
    const std::size_t pausedAt = captured();
    const qint64 frame = offline.player().sampleTime().value_or(0);
    offline.player().pause();
    offline.player().stop();
    offline.scheduleFile(sine, nullptr, nullptr, frame);
    offline.render(rate / 10);
    const std::size_t resumedAt = captured();
    offline.player().play();
    offline.render(rate / 4);

    // A seek, a track change and a mood change all drop what plays and schedule anew.
    const std::size_t movedAt = captured();
    offline.player().stop();
    offline.scheduleFile(sine, nullptr, nullptr, 3 * rate + 37);
    offline.player().play();
    offline.render(rate / 4);

    const std::size_t stoppedAt = captured();
    offline.player().stop();
    offline.render(rate / 10);

    const std::vector<float> left = offline.channel(0);
    ASSERT_EQ(left.size(), captured());
    EXPECT_NEAR(largestStep(left, rate / 10, pausedAt), steadyStep, steadyStep * 0.01);
    const struct
    {
        const char* boundary;
        std::size_t at;
    } boundaries[] = {
        {"pause", pausedAt}, {"resume", resumedAt}, {"seek", movedAt}, {"stop", stoppedAt}};
    for (const auto& [boundary, at] : boundaries) {
        SCOPED_TRACE(boundary);
        EXPECT_LE(largestStep(left, at - rate / 100, at + rate / 10), steadyStep * stepTolerance);
    }
    for (const std::size_t fadingOut : {pausedAt, stoppedAt}) {
        const double fade = fadeOutMs(left, fadingOut - 2 * window);
        EXPECT_GE(fade, 8.0); // 10 ms, less up to two windows of measuring
        EXPECT_LE(fade, 30.0);
        EXPECT_LT(windowPeak(left, fadingOut + rate / 20), 1e-4f) << "silent afterwards";
    }
    const double fadeIn = fadeInMs(left, resumedAt);
    EXPECT_GE(fadeIn, 8.0);
    EXPECT_LE(fadeIn, 30.0);
}

// Quitting closes the output: the engine fades the whole chain out before it does.
TEST(BoundaryTest, ClosingTheOutputFadesOutFirst)
{
    QTemporaryDir folder;
    const QString sine = writeFullScaleSine(folder, 4);
    ASSERT_FALSE(sine.isEmpty());
    std::vector<float> heard;
    heard.reserve(2 * 8 * rate); // the tap must not allocate on the render thread
    AudioEngine engine(std::make_unique<NullOutput>([&heard](const float* buffer, int frames) {
        if (heard.size() + 2 * std::size_t(frames) <= heard.capacity())
            heard.insert(heard.end(), buffer, buffer + 2 * frames);
    }));
    QString error;
    ASSERT_TRUE(engine.start(&error)) << error.toStdString();
    engine.player().scheduleSegment(AudioFile::open(sine, nullptr), 0, 4 * rate,
                                    [](PlayerNode::SegmentEnd) {});
    engine.player().play();
    waitUntil([] { return false; }, 400);
    engine.stop(); // the render thread has ended when it returns

    std::vector<float> left(heard.size() / 2);
    for (std::size_t i = 0; i < left.size(); ++i)
        left[i] = heard[2 * i];
    ASSERT_GT(left.size(), std::size_t(rate / 10));
    EXPECT_LE(largestStep(left, 0, left.size()), steadyStep * stepTolerance);
    EXPECT_LT(windowPeak(left, left.size() - window), 1e-4f) << "the last block is silent";
    const double fade = fadeOutMs(left, 0);
    EXPECT_GE(fade, 8.0); // 10 ms, less up to two windows of measuring
    EXPECT_LE(fade, 30.0);
}

} // namespace
} // namespace calmcove
