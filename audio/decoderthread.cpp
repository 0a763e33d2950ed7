#include "decoderthread.h"

#include <algorithm>

namespace calmcove {

namespace {
constexpr int chunkFrames = 4096;
// Decoding in small pieces wakes the codec too often; wait until this much room is free.
constexpr std::size_t minimumRoom = 1024;
} // namespace

DecoderThread::DecoderThread(int outputRate, SpscRing<PlayerEvent>& events, Wakeup& wakeup,
                             EventSink sink)
    : m_outputRate(outputRate), m_events(events), m_wakeup(wakeup), m_sink(std::move(sink)),
      m_scratch(2 * chunkFrames)
{
    m_thread = std::thread([this] { run(); });
}

DecoderThread::~DecoderThread()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wakeup.notify();
    m_thread.join();
}

void DecoderThread::add(std::shared_ptr<PlayerSegment> segment)
{
    {
        std::lock_guard lock(m_mutex);
        m_inbox.push_back(std::move(segment));
    }
    m_wakeup.notify();
}

bool DecoderThread::decodeStep(Job& job)
{
    PlayerSegment& segment = *job.segment;
    const std::size_t room = segment.audio.writable();
    if (room < std::min<std::size_t>(minimumRoom, segment.audio.capacity()))
        return false;
    if (!job.decoder) {
        job.decoder = std::make_unique<AudioDecoder>(segment.file, m_outputRate);
        if (!job.decoder->open(segment.startFrame, segment.frameCount, nullptr)) {
            // The file went away or turned unreadable: the segment simply ends.
            segment.decodeFinished.store(true, std::memory_order_release);
            return true;
        }
    }
    const int frames =
        job.decoder->read(m_scratch.data(), int(std::min<std::size_t>(room, chunkFrames)));
    segment.audio.write(reinterpret_cast<const StereoFrame*>(m_scratch.data()),
                        std::size_t(frames));
    if (frames == 0)
        segment.decodeFinished.store(true, std::memory_order_release);
    return true;
}

void DecoderThread::run()
{
    for (;;) {
        const auto ticket = m_wakeup.ticket();
        {
            std::lock_guard lock(m_mutex);
            if (m_stopping)
                return;
            for (auto& segment : m_inbox)
                m_jobs.push_back(Job{std::move(segment), nullptr});
            m_inbox.clear();
        }

        PlayerEvent event;
        while (m_events.pop(event))
            m_sink(event);

        std::erase_if(m_jobs, [](const Job& job) {
            return job.segment->discarded.load(std::memory_order_relaxed) ||
                   job.segment->decodeFinished.load(std::memory_order_relaxed);
        });

        // The earliest scheduled segment first: it plays first.
        bool worked = false;
        for (Job& job : m_jobs)
            if ((worked = decodeStep(job)))
                break;
        if (!worked)
            m_wakeup.wait(ticket);
    }
}

} // namespace calmcove
