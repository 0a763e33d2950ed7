#include "playerstage.h"

#include "decoderthread.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

namespace calmcove {

namespace {
constexpr std::uint64_t frameMask = (std::uint64_t(1) << 48) - 1;
} // namespace

PlayerStage::PlayerStage(int sampleRate, int maxBlockFrames, Wakeup& decoderWakeup)
    : m_decoderWakeup(decoderWakeup),
      m_fadeStep(1.0f / float(std::max(1.0, std::round(fadeSeconds * sampleRate)))),
      m_glideFrames(std::max(1, int(std::round(gainGlideSeconds * sampleRate)))),
      m_refillFrames(std::size_t(DecoderThread::refillSeconds * sampleRate)),
      m_startFrames(qint64(startSeconds * sampleRate)), m_scratch(std::size_t(2 * maxBlockFrames))
{}

void PlayerStage::post(PlayerEvent::Type type, quint64 id)
{
    // The ring holds thousands of events and the decoder thread drains it continuously.
    m_events.push(PlayerEvent{type, id});
    m_wantDecoder = true;
}

void PlayerStage::publishSampleTime()
{
    qint64 frames = m_generationFrames;
    if (const PlayerSegment* segment = current())
        frames += segment->fileFramesPlayed(segment->framesRead);
    m_sampleTime.store(std::uint64_t(m_generation) << 48 | (std::uint64_t(frames) & frameMask),
                       std::memory_order_release);
}

void PlayerStage::processCommands()
{
    PlayerCommand command;
    while (m_commands.pop(command))
        apply(command);
}

void PlayerStage::apply(const PlayerCommand& command)
{
    switch (command.type) {
    case PlayerCommand::Type::schedule:
        if (m_queueSize == queueCapacity) {
            post(PlayerEvent::Type::finished, command.segment->id);
            break;
        }
        m_queue[(m_queueHead + m_queueSize++) % queueCapacity] = command.segment;
        m_wantDecoder = true;
        break;
    case PlayerCommand::Type::play:
        m_playing = true;
        break;
    case PlayerCommand::Type::pause:
        m_playing = false;
        if (command.cut) {
            releaseGhost();
            m_gain = 0;
            m_cut = true;
        }
        break;
    case PlayerCommand::Type::stop: {
        // The audible segment fades out as a ghost instead of being cut mid-waveform, unless
        // the output has faded it already.
        releaseGhost();
        m_cut = m_cut || command.cut;
        PlayerSegment* playing = current();
        if (!command.cut && playing && m_gain > 0 && playing->audio.readable() > 0) {
            m_ghost = playing;
            m_ghostGain = m_gain;
            m_ghostFileGain = m_fileGain;
            popCurrent();
        }
        while (PlayerSegment* segment = current()) {
            popCurrent();
            post(PlayerEvent::Type::released, segment->id);
        }
        for (int i = 0; i < m_finishingCount; ++i)
            post(PlayerEvent::Type::released, m_finishing[i].id);
        m_finishingCount = 0;
        m_gain = 0;
        m_generation = command.generation;
        m_generationFrames = 0;
        publishSampleTime();
        break;
    }
    }
}

void PlayerStage::popCurrent()
{
    m_queueHead = (m_queueHead + 1) % queueCapacity;
    --m_queueSize;
}

void PlayerStage::releaseGhost()
{
    if (m_ghost)
        post(PlayerEvent::Type::released, m_ghost->id);
    m_ghost = nullptr;
}

void PlayerStage::finishCurrent(const PlayerSegment& segment, int pulledSoFar)
{
    m_generationFrames += segment.fileFramesPlayed(segment.framesRead);
    popCurrent();
    const qint64 playedAt = m_blockStart + pulledSoFar + qint64(std::ceil(m_latency));
    if (m_finishingCount == finishingCapacity)
        post(PlayerEvent::Type::finished, segment.id);
    else
        m_finishing[m_finishingCount++] = Finishing{segment.id, playedAt};
}

void PlayerStage::beginBlock(qint64 outputFrames, double latencyFrames, double waitSeconds)
{
    m_blockStart = outputFrames;
    m_latency = latencyFrames;
    m_waitSeconds = waitSeconds;
    m_waited = 0;
    m_pulled = 0;
    m_underrunInBlock = false;
}

bool PlayerStage::waitForAudio(PlayerSegment* segment, double seconds, qint64 frames)
{
    const auto start = std::chrono::steady_clock::now();
    const auto wanted = std::size_t(
        std::clamp<qint64>(std::min(frames, segment->outputLength - segment->framesRead), 1,
                           qint64(segment->audio.capacity())));
    bool ready = false;
    for (int i = 0; i < int(seconds * 10000) && !ready; ++i) {
        ready = segment->audio.readable() >= wanted ||
                segment->decodeFinished.load(std::memory_order_acquire);
        if (!ready)
            std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    m_waited += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return ready;
}

void PlayerStage::addGhost(float* frames, int count)
{
    if (!m_ghost)
        return;
    const int fadeLeft = int(std::ceil(m_ghostGain / m_fadeStep));
    const int n = int(
        std::min<std::size_t>(std::size_t(std::min(count, fadeLeft)), m_ghost->audio.readable()));
    m_ghost->audio.read(reinterpret_cast<StereoFrame*>(m_scratch.data()), std::size_t(n));
    for (int i = 0; i < n; ++i) {
        m_ghostGain = std::max(0.0f, m_ghostGain - m_fadeStep);
        const float gain = m_ghostGain * m_ghostFileGain;
        frames[2 * i] += m_scratch[2 * i] * gain;
        frames[2 * i + 1] += m_scratch[2 * i + 1] * gain;
    }
    if (n < count || m_ghostGain <= 0)
        releaseGhost();
}

void PlayerStage::scale(const PlayerSegment& segment, float* frames, int count)
{
    const float fileGain = segment.gain.load(std::memory_order_relaxed);
    if (segment.id != m_fileGainSegmentID) {
        // A new segment starts at its own gain: the join between tracks is no place to glide.
        m_fileGainSegmentID = segment.id;
        m_fileGain = m_fileGainTarget = fileGain;
        m_fileGainStep = 0;
    } else if (fileGain != m_fileGainTarget) {
        m_fileGainTarget = fileGain;
        m_fileGainStep = (fileGain - m_fileGain) / float(m_glideFrames);
        if (m_fileGainStep == 0.0f)
            m_fileGain = fileGain;
    }
    const float fadeTarget = m_playing ? 1.0f : 0.0f;
    if (m_gain == fadeTarget && m_fileGain == m_fileGainTarget) {
        if (m_fileGain != 1.0f) {
            for (int i = 0; i < 2 * count; ++i)
                frames[i] *= m_fileGain;
        }
        return;
    }
    for (int i = 0; i < count; ++i) {
        m_gain =
            m_playing ? std::min(1.0f, m_gain + m_fadeStep) : std::max(0.0f, m_gain - m_fadeStep);
        if (m_fileGain != m_fileGainTarget) {
            m_fileGain += m_fileGainStep;
            if ((m_fileGainStep > 0) == (m_fileGain >= m_fileGainTarget))
                m_fileGain = m_fileGainTarget;
        }
        const float gain = m_gain * m_fileGain;
        frames[2 * i] *= gain;
        frames[2 * i + 1] *= gain;
    }
}

void PlayerStage::pull(float* frames, int count)
{
    std::fill_n(frames, 2 * count, 0.0f);
    int done = 0;
    while (done < count) {
        if (!m_playing && m_gain <= 0)
            break;
        PlayerSegment* segment = current();
        if (!segment) {
            m_gain = 0; // the next segment after a pause in the queue fades in
            break;
        }
        if (segment->framesRead >= segment->outputLength) {
            finishCurrent(*segment, m_pulled + done);
            continue;
        }
        std::size_t available = segment->audio.readable();
        if (available == 0) {
            if (segment->decodeFinished.load(std::memory_order_acquire)) {
                if (segment->audio.readable() > 0)
                    continue;
                finishCurrent(*segment, m_pulled + done); // the file ended early
                continue;
            }
            if (m_waitSeconds > m_waited && waitForAudio(segment, m_waitSeconds - m_waited, 1))
                continue;
            // A segment that has not begun is usually a file just scheduled and still being
            // opened: worth a short wait, once, for a good start of it, rather than a
            // buffer's worth of silence before it or gaps in it.
            if (segment->framesRead == 0 && m_startWaitedFor != segment->id) {
                m_startWaitedFor = segment->id;
                if (waitForAudio(segment, startWaitSeconds, m_startFrames))
                    continue;
            }
            if (segment->framesRead > 0 && m_gain > 0 && !m_underrunInBlock) {
                m_underrunInBlock = true;
                m_underruns.fetch_add(1, std::memory_order_relaxed);
                m_gain = 0; // come back with a fade rather than a click
            }
            m_wantDecoder = true;
            break;
        }
        int n = int(std::min<qint64>({qint64(available), qint64(count - done),
                                      segment->outputLength - segment->framesRead}));
        if (!m_playing)
            n = std::min(n, int(std::ceil(m_gain / m_fadeStep)));
        float* out = frames + 2 * done;
        segment->audio.read(reinterpret_cast<StereoFrame*>(out), std::size_t(n));
        scale(*segment, out, n);
        segment->framesRead += n;
        done += n;
        if (segment->audio.capacity() - segment->audio.readable() >= m_refillFrames &&
            !segment->decodeFinished.load(std::memory_order_relaxed))
            m_wantDecoder = true;
    }
    addGhost(frames, count);
    m_pulled += count;
}

void PlayerStage::endBlock(qint64 outputFrames)
{
    int kept = 0;
    for (int i = 0; i < m_finishingCount; ++i) {
        if (m_finishing[i].playedAt <= outputFrames)
            post(PlayerEvent::Type::finished, m_finishing[i].id);
        else
            m_finishing[kept++] = m_finishing[i];
    }
    m_finishingCount = kept;
    publishSampleTime();
    if (m_wantDecoder) {
        m_wantDecoder = false;
        m_decoderWakeup.notify();
    }
}

bool PlayerStage::idle() const
{
    return !m_ghost && m_finishingCount == 0 && (m_queueSize == 0 || (!m_playing && m_gain <= 0));
}

} // namespace calmcove
