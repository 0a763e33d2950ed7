// The engine's file player: completions, gapless queues, stop, the sample time, landing
// of a start inside the file, and robustness (a busy main thread, no sound server).

#include "audio/nulloutput.h"
#include "audio/playerstage.h"
#include "audio/pulseoutput.h"
#include "audiotestsupport.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <mutex>
#include <QFile>
#include <QThread>

namespace calmcove {
namespace {

using namespace calmcove::test;
using SegmentEnd = PlayerNode::SegmentEnd;

constexpr int rate = 44100;

TEST(PlayerTest, CompletionFiresOnceAfterTheLastFrameIsPlayed)
{
    QTemporaryDir folder;
    const QString path = writeTone(folder, "short.wav", 440, 0.3);
    OfflineEngine offline;
    offline.neutral();
    int completions = 0;
    SegmentEnd end = SegmentEnd::discarded;
    offline.scheduleFile(path, &completions, &end);
    offline.player().play();
    ASSERT_TRUE(offline.renderUntil([&] { return completions > 0; }, rate));
    EXPECT_EQ(end, SegmentEnd::played);
    EXPECT_GE(offline.capture().audio().size() / 2, std::size_t(0.3 * rate));
    offline.render(rate / 2);
    offline.player().stop(); // nothing left to discard
    waitUntil([] { return false; }, 50);
    EXPECT_EQ(completions, 1);
}

// With nothing to play the chain lets the output rest once the reverb tail has died away,
// and it wakes for the next segment.
TEST(PlayerTest, OutputRestsWhileSilentAndWakesForPlayback)
{
    QTemporaryDir folder;
    const QString path = writeTone(folder, "tone.wav", 440, 0.2);
    OfflineEngine offline;
    offline.neutral();
    offline.engine().setReverbMix(30);
    EXPECT_FALSE(offline.capture().render(rate / 2));
    int completions = 0;
    offline.scheduleFile(path, &completions);
    offline.player().play();
    EXPECT_TRUE(offline.capture().render(rate / 2));
    ASSERT_TRUE(offline.renderUntil([&] { return completions == 1; }, rate));
    offline.player().pause();
    bool resting = false;
    for (int i = 0; i < 40 && !resting; ++i) // a medium room rings for about two seconds
        resting = !offline.capture().render(rate / 10);
    EXPECT_TRUE(resting);
}

TEST(PlayerTest, StopDiscardsEverySegmentOnceWhetherRunningOrNot)
{
    QTemporaryDir folder;
    const QString path = writeTone(folder, "tone.wav", 440, 1.0);
    for (const bool running : {true, false}) {
        SCOPED_TRACE(running ? "running" : "engine stopped");
        OfflineEngine offline;
        if (!running)
            offline.engine().stop();
        std::array<int, 2> completions{};
        std::array<SegmentEnd, 2> ends{};
        offline.scheduleFile(path, &completions[0], &ends[0]);
        offline.scheduleFile(path, &completions[1], &ends[1]);
        offline.player().play();
        offline.render(rate / 10);
        EXPECT_EQ(completions, (std::array<int, 2>{0, 0}));
        offline.player().stop();
        EXPECT_EQ(completions, (std::array<int, 2>{0, 0})) << "never from within stop()";
        waitUntil([&] { return completions[1] == 1; }, 1000);
        offline.render(rate / 5);
        waitUntil([] { return false; }, 50);
        EXPECT_EQ(completions, (std::array<int, 2>{1, 1}));
        EXPECT_EQ(ends[0], SegmentEnd::discarded);
        EXPECT_EQ(ends[1], SegmentEnd::discarded);
        EXPECT_FALSE(offline.player().isPlaying());
        EXPECT_EQ(offline.player().sampleTime(), std::nullopt);
    }
}

// A file deleted after it was opened cannot be decoded: its segment ends at once (the
// next one follows), offline and in real time, instead of hanging or going silent forever.
TEST(PlayerTest, ASegmentWhoseFileVanishedEndsAtOnce)
{
    QTemporaryDir folder;
    const QString doomed = writeTone(folder, "doomed.wav", 440, 1.0);
    const QString kept = writeTone(folder, "kept.wav", 440, 0.2);
    const auto gone = AudioFile::open(doomed, nullptr);
    ASSERT_TRUE(gone);
    QFile::remove(doomed);
    for (const bool offlineRender : {true, false}) {
        SCOPED_TRACE(offlineRender ? "offline" : "real time");
        std::unique_ptr<OfflineEngine> offline;
        std::unique_ptr<AudioEngine> realTime;
        if (offlineRender) {
            offline = std::make_unique<OfflineEngine>();
        } else {
            realTime = std::make_unique<AudioEngine>(std::make_unique<NullOutput>());
            realTime->start(nullptr);
        }
        AudioEngine& engine = offlineRender ? offline->engine() : *realTime;
        std::vector<SegmentEnd> ends;
        const auto record = [&ends](SegmentEnd end) { ends.push_back(end); };
        engine.player().scheduleSegment(gone, 0, gone->length(), record);
        engine.player().scheduleSegment(AudioFile::open(kept, nullptr), 0, rate / 5, record);
        engine.player().play();
        const auto bothDone = [&ends] { return ends.size() == 2; };
        if (offlineRender)
            EXPECT_TRUE(offline->renderUntil(bothDone, rate));
        else
            EXPECT_TRUE(waitUntil(bothDone, 2000));
        EXPECT_EQ(ends, (std::vector<SegmentEnd>{SegmentEnd::played, SegmentEnd::played}));
    }
}

TEST(PlayerTest, QueuedSegmentsPlayBackToBackWithoutAGap)
{
    QTemporaryDir folder;
    const QString path = writeTone(folder, "tone.wav", 441, 1.0); // whole periods per segment
    const auto file = AudioFile::open(path, nullptr);
    ASSERT_TRUE(file);
    OfflineEngine offline;
    offline.neutral();
    std::vector<int> order;
    for (int i = 0; i < 3; ++i)
        offline.player().scheduleSegment(file, 0, rate / 2, [&order, i](SegmentEnd end) {
            if (end == SegmentEnd::played)
                order.push_back(i);
        });
    offline.player().play();
    ASSERT_TRUE(offline.renderUntil([&] { return order.size() == 3; }, 3 * rate));
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
    const std::vector<float> left = offline.channel(0);
    // The three halves form one continuous tone: no sample is missing at the joins.
    const auto fadedIn = std::size_t(PlayerStage::fadeSeconds * rate) + 1;
    for (std::size_t i = fadedIn; i + 1 < std::size_t(1.5 * rate); ++i)
        ASSERT_NEAR(left[i],
                    0.5 * std::sin(2 * std::numbers::pi * 441 * double(i % (rate / 2)) / rate),
                    1e-3)
            << "frame " << i;
}

TEST(PlayerTest, SampleTimeCountsFileFramesSinceTheLastStop)
{
    QTemporaryDir folder;
    const QString path = writeTone(folder, "tone48k.wav", 440, 2.0, 48000);
    OfflineEngine offline;
    offline.neutral();
    EXPECT_EQ(offline.player().sampleTime(), std::nullopt);
    offline.scheduleFile(path);
    offline.player().play();
    offline.render(rate / 2);
    // Half a second of the 48 kHz file, counted in its own frames.
    EXPECT_NEAR(double(*offline.player().sampleTime()), 24000.0, 2.0);
    offline.player().pause();
    EXPECT_EQ(offline.player().sampleTime(), std::nullopt);
    offline.render(rate / 2);
    offline.player().play();
    const qint64 resumed = *offline.player().sampleTime();
    EXPECT_NEAR(double(resumed), 24000.0 + PlayerStage::fadeSeconds * 48000, 2.0)
        << "a pause keeps the time (and what faded out)";
    offline.player().stop();
    offline.scheduleFile(path);
    offline.player().play();
    EXPECT_EQ(offline.player().sampleTime(), 0);
    offline.render(rate / 4);
    EXPECT_NEAR(double(*offline.player().sampleTime()), 12000.0, 2.0);

    offline.engine().setRate(0.88); // at 0.88 the file advances 12 % slower than the clock
    offline.render(rate);
    EXPECT_NEAR(double(*offline.player().sampleTime()), 12000.0 + 0.88 * 48000, 0.1 * 48000);
}

// A tone that starts at a known frame: a segment scheduled from 100 ms before it must
// put the onset 100 ms into the output, within one 10 ms block.
TEST(PlayerTest, SchedulingFromAFrameLandsWithinTenMilliseconds)
{
    QTemporaryDir folder;
    const std::vector<std::tuple<const char*, QStringList, int>> formats = {
        {"onset.wav", {}, 44100},
        {"onset.flac", {}, 44100},
        {"onset.mp3", {"-b:a", "192k"}, 44100},
        {"onset.m4a", {"-c:a", "aac", "-b:a", "192k"}, 44100},
        {"onset48k.flac", {}, 48000},
    };
    for (const auto& [name, options, fileRate] : formats) {
        SCOPED_TRACE(name);
        const qint64 onset = 2 * fileRate + 777;
        const QString path =
            writeSignal(folder, name, QStringLiteral("0.8*sin(2*PI*1000*t)*gte(n,%1)").arg(onset),
                        3 * fileRate, fileRate, options);
        OfflineEngine offline;
        offline.neutral();
        offline.scheduleFile(path, nullptr, nullptr, onset - fileRate / 10);
        offline.player().play();
        offline.render(rate / 2);
        EXPECT_NEAR(double(firstAbove(offline.channel(0), 0.2f)), rate / 10, rate / 100);
    }
}

// The render and decoder threads never wait for the main thread: a main thread busy for a
// second (verifying files, say) leaves no hole in the sound.
TEST(PlayerTest, ABusyMainThreadDoesNotInterruptPlayback)
{
    QTemporaryDir folder;
    const QString path = writeTone(folder, "tone.flac", 1000, 2.5);
    std::vector<float> heard;
    heard.reserve(2 * 5 * rate); // the tap must not allocate on the render thread
    auto output = std::make_unique<NullOutput>([&heard](const float* buffer, int frames) {
        if (heard.size() + 2 * std::size_t(frames) <= heard.capacity())
            heard.insert(heard.end(), buffer, buffer + 2 * frames);
    });
    AudioEngine engine(std::move(output));
    QString error;
    ASSERT_TRUE(engine.start(&error));
    int completions = 0;
    engine.player().scheduleSegment(AudioFile::open(path, nullptr), 0, 2 * rate + rate / 2,
                                    [&completions](SegmentEnd) { ++completions; });
    engine.player().play();
    waitUntil([] { return false; }, 300);
    QThread::msleep(1200); // the main thread is blocked
    EXPECT_TRUE(waitUntil([&] { return completions == 1; }, 5000));
    engine.stop();
    EXPECT_EQ(engine.underruns(), 0u);

    std::vector<float> left(heard.size() / 2);
    for (std::size_t i = 0; i < left.size(); ++i)
        left[i] = heard[2 * i];
    const qint64 first = firstAbove(left, 0.01f), last = lastAbove(left, 0.01f);
    ASSERT_GE(first, 0);
    EXPECT_NEAR(double(last - first), 2.5 * rate, rate / 100);
    std::size_t quietRun = 0, longestQuietRun = 0;
    for (qint64 i = first; i <= last; ++i) {
        quietRun = std::fabs(left[std::size_t(i)]) < 1e-3f ? quietRun + 1 : 0;
        longestQuietRun = std::max(longestQuietRun, quietRun);
    }
    EXPECT_LE(longestQuietRun, 2u) << "a 1 kHz tone is never quiet for longer";
}

TEST(PlayerTest, StartWithoutASoundServerFailsWithAReasonAndKeepsWorking)
{
    const QByteArray saved = qgetenv("PULSE_SERVER");
    qputenv("PULSE_SERVER", "unix:/nonexistent/calmcove-test/native");
    QTemporaryDir folder;
    const QString path = writeTone(folder, "tone.wav", 440, 0.5);
    {
        AudioEngine engine(std::make_unique<PulseOutput>());
        QString error;
        EXPECT_FALSE(engine.start(&error));
        EXPECT_EQ(error, "Connection refused");
        EXPECT_FALSE(engine.isRunning());
        int completions = 0;
        engine.player().scheduleSegment(AudioFile::open(path, nullptr), 0, rate / 2,
                                        [&completions](SegmentEnd) { ++completions; });
        engine.player().play();
        EXPECT_EQ(engine.player().sampleTime(), std::nullopt);
        engine.player().stop();
        EXPECT_TRUE(waitUntil([&] { return completions == 1; }, 1000));
        EXPECT_FALSE(engine.start(&error)) << "a second attempt fails the same way";
    }
    if (saved.isNull())
        qunsetenv("PULSE_SERVER");
    else
        qputenv("PULSE_SERVER", saved);
}

} // namespace
} // namespace calmcove
