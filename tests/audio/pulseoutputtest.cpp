// End to end through a real PulseAudio server: a private server with a null sink is
// started for the test, and what the engine plays is recorded from the sink's monitor.

#include "audio/pulseoutput.h"

#include "audiotestsupport.h"
#include "pulsetestsupport.h"

#include <cmath>
#include <fstream>
#include <gtest/gtest.h>
#include <numbers>
#include <sched.h>
#include <sstream>
#include <thread>

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
    EXPECT_TRUE(waitUntil([&completions] { return completions == 1; }, 5000));
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

// The scheduling policy of a thread of this process, as the kernel reports it.
int schedulingPolicy(pid_t threadId)
{
    std::ifstream stat("/proc/self/task/" + std::to_string(threadId) + "/stat");
    std::string line;
    std::getline(stat, line);
    // Field 41; the name in field 2 may contain spaces, so count from its closing bracket.
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string field;
    for (int index = 3; index <= 41 && fields >> field; ++index) {
        if (index == 41)
            return std::stoi(field);
    }
    return -1;
}

// Whether this process may make a thread SCHED_FIFO itself (as root, or with CAP_SYS_NICE).
bool fifoPermitted()
{
    bool permitted = false;
    std::thread probe([&permitted] {
        sched_param parameters{};
        parameters.sched_priority = 1;
        permitted = sched_setscheduler(0, SCHED_FIFO | SCHED_RESET_ON_FORK, &parameters) == 0;
    });
    probe.join();
    return permitted;
}

TEST(PulseOutputTest, RenderThreadRunsInRealTimeUnlessSwitchedOff)
{
    if (!PrivatePulseServer::isAvailable())
        GTEST_SKIP() << "pulseaudio is not installed";
    PrivatePulseServer server;
    ASSERT_TRUE(server.start());
    const bool permitted = fifoPermitted();

    for (const bool switchedOff : {false, true}) {
        SCOPED_TRACE(switchedOff ? "CALMCOVE_REALTIME_AUDIO=0" : "default");
        if (switchedOff)
            qputenv("CALMCOVE_REALTIME_AUDIO", "0");
        else
            qunsetenv("CALMCOVE_REALTIME_AUDIO");
        AudioEngine engine(std::make_unique<PulseOutput>());
        auto* pulse = static_cast<PulseOutput*>(&engine.output());
        QString error;
        ASSERT_TRUE(engine.start(&error)) << error.toStdString();
        ASSERT_GT(pulse->renderThreadId(), 0);
        const int policy = schedulingPolicy(pulse->renderThreadId());
        if (switchedOff) {
            EXPECT_EQ(pulse->realtimeScheduling(), RealtimeScheduling::switchedOff);
            EXPECT_EQ(policy, SCHED_OTHER);
        } else if (permitted) {
            EXPECT_EQ(pulse->realtimeScheduling(), RealtimeScheduling::direct);
            EXPECT_EQ(policy, SCHED_FIFO);
        } else if (pulse->realtimeScheduling() == RealtimeScheduling::realtimeKit) {
            EXPECT_TRUE(policy == SCHED_RR || policy == SCHED_FIFO) << policy;
        } else {
            EXPECT_EQ(policy, SCHED_OTHER);
        }
    }
    qunsetenv("CALMCOVE_REALTIME_AUDIO");
}

// A full-scale 440 Hz sine of 8 s, and an engine on a private server to play it.
class PulseSineTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!PrivatePulseServer::isAvailable())
            GTEST_SKIP() << "pulseaudio is not installed";
        const QString path = writeSignal(m_folder, QStringLiteral("sine.wav"),
                                         QStringLiteral("sin(2*PI*440*t)"), qint64(8 * rate), rate,
                                         {QStringLiteral("-c:a"), QStringLiteral("pcm_f32le")});
        ASSERT_FALSE(path.isEmpty());
        m_sine = AudioFile::open(path, nullptr);
        ASSERT_TRUE(m_server.start());
        QString error;
        ASSERT_TRUE(m_engine.start(&error)) << error.toStdString();
    }
    static void wait(int ms)
    {
        waitUntil([] { return false; }, ms);
    }

    // The largest sample-to-sample step of the steady sine.
    const double steadyStep = 2 * std::sin(std::numbers::pi * 440 / rate);
    QTemporaryDir m_folder;
    std::shared_ptr<const AudioFile> m_sine;
    PrivatePulseServer m_server;
    AudioEngine m_engine{std::make_unique<PulseOutput>()};
};

// Interruptions through the sound server's buffer: a full-scale 440 Hz sine paused, resumed,
// moved to another position and closed. Each is heard within 50 ms of the call although the
// stream buffers more than that, and its fade steps no further from one sample to the next
// than the steady sine does.
TEST_F(PulseSineTest, PauseSeekAndCloseAreHeardAtOnceWithoutAClick)
{
    AudioEngine& engine = m_engine;
    const auto& file = m_sine;
    MonitorRecorder recorder;
    engine.player().scheduleSegment(file, 0, 8 * rate, [](PlayerNode::SegmentEnd) {});
    engine.player().play();
    wait(700);
    // What the monitor has delivered when a call is made is where it should be heard.
    const qint64 pausedAt = recorder.frames();
    engine.player().pause();
    wait(400);
    engine.player().play();
    wait(600);
    const qint64 movedAt = recorder.frames();
    engine.player().stop();
    engine.player().scheduleSegment(file, 3 * rate + 37, 4 * rate, [](PlayerNode::SegmentEnd) {});
    engine.player().play();
    wait(600);
    EXPECT_EQ(engine.underruns(), 0u) << "the stream ran dry while playing steadily";
    const qint64 closedAt = recorder.frames();
    engine.stop();
    wait(200);
    const std::vector<float> heard = recorder.finish().left;

    constexpr double stepTolerance = 1.06;
    constexpr std::size_t window = 100; // about one period
    const qint64 start = firstAbove(heard, 0.5f);
    ASSERT_GE(start, 0) << "nothing arrived";
    const std::size_t steadyFrom = std::size_t(start) + rate / 10;
    EXPECT_NEAR(largestStep(heard, steadyFrom, steadyFrom + rate / 4), steadyStep,
                steadyStep * 0.02);

    const struct
    {
        const char* boundary;
        qint64 calledAt;
        bool silentAfter; // a seek fades in again at once
    } boundaries[] = {
        {"pause", pausedAt, true}, {"seek", movedAt, false}, {"close", closedAt, true}};
    for (const auto& [boundary, calledAt, silentAfter] : boundaries) {
        SCOPED_TRACE(boundary);
        // The first period after full level that is no longer at full level.
        std::size_t fullUntil = std::size_t(std::max<qint64>(calledAt - rate / 10, start));
        while (fullUntil + window <= heard.size() && peakIn(heard, fullUntil, window) > 0.95f)
            fullUntil += window;
        ASSERT_LT(fullUntil + window, heard.size()) << "the sound went on";
        EXPECT_LE(double(qint64(fullUntil) - calledAt) * 1000 / rate, 50.0);
        if (silentAfter) {
            EXPECT_LT(peakIn(heard, fullUntil + rate / 25, rate / 10), 0.01f) << "faded out";
        }
        EXPECT_LE(largestStep(heard, fullUntil - rate / 100, fullUntil + rate / 10),
                  steadyStep * stepTolerance);
    }
}

// A setting changed while the stream holds far more than 150 ms: what it holds is rendered
// again, so the change is heard at once, and the crossfade into it does not click.
TEST_F(PulseSineTest, SettingsChangesAreHeardAtOnceWithoutAClick)
{
    AudioEngine& engine = m_engine;
    MonitorRecorder recorder;
    engine.player().scheduleSegment(m_sine, 0, 8 * rate, [](PlayerNode::SegmentEnd) {});
    engine.player().play();
    wait(1500);
    const qint64 loweredAt = recorder.frames();
    engine.setVolume(0.5);
    wait(1000);
    const qint64 raisedAt = recorder.frames();
    engine.setVolume(1.0);
    wait(1000);
    // A new speed is rendered again through fresh effects, warmed up on what came before.
    const qint64 slowedAt = recorder.frames();
    engine.setRate(0.85);
    wait(600);
    EXPECT_EQ(engine.underruns(), 0u);
    const std::vector<float> heard = recorder.finish().left;

    constexpr std::size_t window = 100; // about one period
    const struct
    {
        const char* change;
        qint64 calledAt;
        float before, after;
    } changes[] = {{"lower", loweredAt, 1.0f, 0.5f}, {"raise", raisedAt, 0.5f, 1.0f}};
    for (const auto& [change, calledAt, before, after] : changes) {
        SCOPED_TRACE(change);
        const auto calledFrom = std::size_t(calledAt - rate / 10);
        ASSERT_NEAR(peakIn(heard, calledFrom, window), before, 0.02) << "steady before";
        // The first period past the middle between the two levels.
        std::size_t changedAt = calledFrom;
        const auto isBefore = [&](float peak) {
            return before > after ? peak > (before + after) / 2 : peak < (before + after) / 2;
        };
        while (changedAt + window <= heard.size() && isBefore(peakIn(heard, changedAt, window)))
            changedAt += window;
        ASSERT_LT(changedAt + window, heard.size()) << "never changed";
        EXPECT_LE(double(qint64(changedAt) - calledAt) * 1000 / rate, 150.0);
        EXPECT_NEAR(peakIn(heard, changedAt + rate / 10, rate / 10), after, 0.02);
        EXPECT_LE(largestStep(heard, changedAt - rate / 20, changedAt + rate / 20),
                  steadyStep * 1.06);
    }
    // The stretched sine does not break off around the change (the crossfade into it may
    // dip a little where the two are out of phase).
    for (qint64 at = slowedAt - rate / 10; at < slowedAt + rate / 2; at += window)
        ASSERT_GT(peakIn(heard, std::size_t(at), window), 0.6f)
            << "at " << (at - slowedAt) * 1000 / rate << " ms after the change";
}

} // namespace
} // namespace calmcove
