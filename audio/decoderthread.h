#pragma once

// The engine's worker thread: decodes every scheduled segment ahead into its ring (at least
// 2 s of audio), in schedule order, and carries the render thread's events on to whoever
// delivers them to the main thread. All file I/O of playback happens here.

#include "playersegment.h"
#include "wakeup.h"

#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace calmcove {

class DecoderThread
{
public:
    // Called on the decoder thread for every event, in order.
    using EventSink = std::function<void(const PlayerEvent&)>;

    // Starts the thread. events and wakeup are shared with the render side's PlayerStage.
    DecoderThread(int outputRate, SpscRing<PlayerEvent>& events, Wakeup& wakeup, EventSink sink);
    // Stops and joins the thread; segments still held are let go.
    ~DecoderThread();

    // Main thread: decode this segment from now on (until it is discarded or complete).
    void add(std::shared_ptr<PlayerSegment> segment);

    // Decoded audio kept ready ahead of the render position, in seconds of output: enough
    // to ride out a decoder thread held up on a busy machine.
    static constexpr double aheadSeconds = 2.0;
    // The render side asks for more once this much room is free in a segment's ring:
    // decoding in worthwhile pieces, and never less than aheadSeconds left.
    static constexpr double refillSeconds = 0.5;
    // Smallest ring the decoder fills for a segment, in seconds of output (about 1 MB of
    // audio at 44.1 kHz; two segments are filled at once near the end of a track).
    static constexpr double bufferSeconds = aheadSeconds + refillSeconds;

private:
    struct Job
    {
        std::shared_ptr<PlayerSegment> segment;
        std::unique_ptr<AudioDecoder> decoder;
    };

    void run();
    bool decodeStep(Job& job);

    int m_outputRate;
    SpscRing<PlayerEvent>& m_events;
    Wakeup& m_wakeup;
    EventSink m_sink;
    std::mutex m_mutex; // guards m_inbox and m_stopping; held only to move pointers
    std::vector<std::shared_ptr<PlayerSegment>> m_inbox;
    bool m_stopping = false;
    std::vector<Job> m_jobs; // decoder thread only
    std::vector<float> m_scratch;
    std::thread m_thread;
};

} // namespace calmcove
