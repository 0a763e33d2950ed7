#pragma once

// The "null" output backend: no device, a clock thread of its own pulls 10 ms blocks in
// real time and drops them, so the player runs on machines without sound. For start-up
// benchmarks, with CALMCOVE_REPORT_FIRST_AUDIO_FRAME set in the environment it prints the
// moment the first block carrying sound was rendered, once, on standard error:
// "calmcove: first audio frame at monotonic <nanoseconds> ns".

#include "audiooutput.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace calmcove {

class NullOutput : public AudioOutput
{
public:
    // Called on the render thread with every block rendered (frames × 2 floats), before it
    // is dropped. Must not block; tests use it to look at what would have been heard.
    using Tap = std::function<void(const float* buffer, int frames)>;

    explicit NullOutput(Tap tap = {});
    ~NullOutput() override;

    QString name() const override { return QStringLiteral("null"); }
    bool start(const AudioFormat& format, Renderer* renderer, QString* errorMessage) override;
    void stop() override;
    void wake() override;

private:
    void run(AudioFormat format, Renderer* renderer);

    Tap m_tap;
    const bool m_reportFirstFrame;
    std::thread m_thread;
    std::mutex m_mutex; // guards the two flags below for the idle wait only
    std::condition_variable m_condition;
    bool m_stopping = false;
    bool m_woken = false;
};

} // namespace calmcove
