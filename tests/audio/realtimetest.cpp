// The render thread never allocates: every operator new of this test program is counted
// while the chain renders, through starts, pauses, stops, queued segments and every kind
// of setting change.

#include "audio/soundpreset.h"
#include "audiotestsupport.h"

#include <atomic>
#include <cstdlib>
#include <gtest/gtest.h>
#include <new>

namespace {
thread_local bool t_rendering = false;
std::atomic<int> g_renderAllocations{0};
} // namespace

void* operator new(std::size_t size)
{
    if (t_rendering)
        ++g_renderAllocations;
    if (void* memory = std::malloc(size ? size : 1))
        return memory;
    throw std::bad_alloc();
}

void operator delete(void* memory) noexcept
{
    std::free(memory);
}

void operator delete(void* memory, std::size_t) noexcept
{
    std::free(memory);
}

namespace calmcove {
namespace {

using namespace calmcove::test;

constexpr int rate = 44100;

TEST(RealTimeTest, RenderingNeverAllocates)
{
    QTemporaryDir folder;
    const QString path = writeTone(folder, "tone.flac", 330, 3.0);
    const auto file = AudioFile::open(path, nullptr);
    ASSERT_TRUE(file);
    auto capture = std::make_unique<CaptureOutput>(false);
    CaptureOutput& output = *capture;
    AudioEngine engine(std::move(capture));
    QString error;
    ASSERT_TRUE(engine.start(&error));
    const auto render = [&output](int frames) {
        t_rendering = true;
        output.render(frames);
        t_rendering = false;
    };

    engine.player().scheduleSegment(file, 0, rate, [](PlayerNode::SegmentEnd) {});
    engine.player().scheduleSegment(file, rate, rate, [](PlayerNode::SegmentEnd) {});
    engine.player().play();
    render(rate / 4);
    for (Mood mood : allMoods) {
        const SoundPreset preset = soundPreset(mood);
        engine.setEqualiserGains(preset.lowGain, preset.midGain, preset.highGain);
        engine.setReverbMix(preset.reverbMix);
        engine.setRate(preset.playbackRate);
        engine.setVolume(preset.reverbMix / 30);
        render(rate / 5);
    }
    engine.player().pause();
    render(rate / 10);
    engine.player().play();
    render(rate / 10);
    engine.player().stop();
    engine.player().scheduleSegment(file, 2 * rate, rate / 2, [](PlayerNode::SegmentEnd) {});
    engine.player().play();
    engine.setRate(1.0);
    render(rate);
    EXPECT_EQ(g_renderAllocations.load(), 0);
}

} // namespace
} // namespace calmcove
