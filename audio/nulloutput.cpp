#include "nulloutput.h"

#include <QtGlobal>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace calmcove {

namespace {

void reportFirstFrame()
{
    const auto now = std::chrono::steady_clock::now().time_since_epoch(); // CLOCK_MONOTONIC
    std::fprintf(
        stderr, "calmcove: first audio frame at monotonic %lld ns\n",
        static_cast<long long>(std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()));
}

} // namespace

NullOutput::NullOutput(Tap tap)
    : m_tap(std::move(tap)),
      m_reportFirstFrame(qEnvironmentVariableIsSet("CALMCOVE_REPORT_FIRST_AUDIO_FRAME"))
{}

NullOutput::~NullOutput()
{
    stop();
}

bool NullOutput::start(const AudioFormat& format, Renderer* renderer, QString*)
{
    stop();
    m_stopping = false;
    m_thread = std::thread([this, format, renderer] { run(format, renderer); });
    return true;
}

void NullOutput::stop()
{
    if (!m_thread.joinable())
        return;
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_condition.notify_one();
    m_thread.join();
}

void NullOutput::wake()
{
    {
        std::lock_guard lock(m_mutex);
        m_woken = true;
    }
    m_condition.notify_one();
}

void NullOutput::run(AudioFormat format, Renderer* renderer)
{
    using Clock = std::chrono::steady_clock;
    const int blockFrames = format.sampleRate / 100;
    const auto period = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(double(blockFrames) / format.sampleRate));
    std::vector<float> buffer(std::size_t(blockFrames * format.channels));
    bool firstFramePending = m_reportFirstFrame;
    auto due = Clock::now();
    for (;;) {
        {
            std::lock_guard lock(m_mutex);
            if (m_stopping)
                return;
            m_woken = false;
        }
        const bool active = renderer->render(buffer.data(), blockFrames, RenderTiming{});
        if (m_tap)
            m_tap(buffer.data(), blockFrames);
        if (firstFramePending &&
            std::any_of(buffer.cbegin(), buffer.cend(), [](float sample) { return sample != 0; })) {
            firstFramePending = false;
            reportFirstFrame();
        }
        if (!active) {
            std::unique_lock lock(m_mutex);
            m_condition.wait(lock, [this] { return m_stopping || m_woken; });
            due = Clock::now();
            continue;
        }
        due += period;
        const auto now = Clock::now();
        if (due < now - std::chrono::milliseconds(200))
            due = now; // after a long stall the clock does not try to catch up
        std::unique_lock lock(m_mutex);
        m_condition.wait_until(lock, due, [this] { return m_stopping; });
    }
}

} // namespace calmcove
