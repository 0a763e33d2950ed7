// End to end through a real PulseAudio server: a private server with a null sink is
// started for the test, and what the engine plays is recorded from the sink's monitor.

#include "audio/pulseoutput.h"

#include "audiotestsupport.h"
#include "pulsetestsupport.h"

#include <gtest/gtest.h>

namespace calmcove {
namespace {

using namespace calmcove::test;

constexpr int rate = 44100;

// Plays the tone file once and returns what the sink's monitor heard.
std::vector<float> playAndRecord(AudioEngine& engine, const QString& tone)
{
    MonitorRecorder recorder;
    int completions = 0;
    engine.player().stop();
    engine.player().scheduleSegment(AudioFile::open(tone, nullptr), 0, rate,
                                    [&completions](PlayerNode::SegmentEnd) { ++completions; });
    engine.player().play();
    EXPECT_TRUE(waitUntil([&] { return completions == 1; }, 5000));
    waitUntil([] { return false; }, 300);
    return recorder.finish().left;
}

TEST(PulseOutputTest, AudioArrivesAtTheSinkAndSurvivesAServerRestart)
{
    if (!PrivatePulseServer::isAvailable())
        GTEST_SKIP() << "pulseaudio is not installed";
    QTemporaryDir folder;
    const QString tone = writeTone(folder, "tone.wav", 440, 1.0);
    PrivatePulseServer server;
    ASSERT_TRUE(server.start());

    auto output = std::make_unique<PulseOutput>();
    PulseOutput* pulse = output.get();
    AudioEngine engine(std::move(output));
    QString error;
    ASSERT_TRUE(engine.start(&error)) << error.toStdString();

    const auto checkHeard = [](const std::vector<float>& heard) {
        const qint64 first = firstAbove(heard, 0.1f), last = lastAbove(heard, 0.1f);
        ASSERT_GE(first, 0) << "nothing arrived";
        EXPECT_NEAR(double(last - first), double(rate), 0.05 * rate);
        // Loose on level: a loaded machine may drop a buffer or two here, which is the
        // sound server's business; the engine's own continuity is tested on the null output.
        EXPECT_NEAR(toneAmplitude(heard, std::size_t(first) + rate / 4, rate / 2, 440, rate), 0.5,
                    0.1);
        EXPECT_NEAR(
            dominantFrequency(heard, std::size_t(first) + rate / 4, rate / 4, 430, 450, rate),
            440.0, 1.0);
    };
    checkHeard(playAndRecord(engine, tone));

    server.kill();
    waitUntil([] { return false; }, 500);
    ASSERT_TRUE(server.start());
    EXPECT_TRUE(waitUntil([&] { return pulse->reconnections() >= 1; }, 5000));
    EXPECT_TRUE(engine.isRunning());
    checkHeard(playAndRecord(engine, tone));
}

} // namespace
} // namespace calmcove
