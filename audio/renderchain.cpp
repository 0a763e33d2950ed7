#include "renderchain.h"

#include <algorithm>
#include <cmath>

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

namespace calmcove {

namespace {

constexpr double volumeRampSeconds = 0.02;
constexpr float silenceLevel = 1e-6f;
constexpr double serverMarginSeconds = 0.03;
// A render far ahead of the listener waits at most this long for the decoder in a block,
// and leaves the listener at least aheadMarginSeconds of sound meanwhile.
constexpr double maxWaitSeconds = 0.1;
constexpr double aheadMarginSeconds = 0.2;

// Decaying reverb and filter tails would otherwise end in denormal numbers, which cost
// the CPU up to a hundred times more; the caller's mode is restored afterwards.
class FlushDenormals
{
public:
#if defined(__SSE__)
    FlushDenormals() : m_saved(_mm_getcsr())
    {
        _mm_setcsr(m_saved | 0x8040);
    }
    ~FlushDenormals()
    {
        _mm_setcsr(m_saved);
    }

private:
    unsigned m_saved;
#endif
};

} // namespace

RenderChain::RenderChain(int sampleRate, Wakeup& decoderWakeup, bool keepSound)
    : m_sampleRate(sampleRate), m_player(sampleRate, maxBlockFrames, decoderWakeup),
      m_replay(m_player, keepSound ? int(keptSeconds * sampleRate) : 0), m_equaliser(sampleRate),
      m_source(m_replay, m_equaliser), m_stretch(sampleRate, maxBlockFrames), m_reverb(sampleRate),
      m_blockStarts(blockStartCapacity)
{}

void RenderChain::applyVolume(float* frames, int count)
{
    if (m_volumeRampLeft == 0 && m_volume == 1.0)
        return;
    for (int i = 0; i < count; ++i) {
        if (m_volumeRampLeft > 0)
            m_volume = --m_volumeRampLeft == 0 ? m_volumeTarget : m_volume + m_volumeStep;
        frames[2 * i] *= float(m_volume);
        frames[2 * i + 1] *= float(m_volume);
    }
}

void RenderChain::clearEffects()
{
    m_equaliser.clear();
    m_stretch.clear();
    m_reverb.clear();
    m_replayFloor = m_replay.position();
    m_blockStartCount = 0;
}

void RenderChain::setEffectTargets(Equaliser& equaliser, TimeStretchStage& stretch,
                                   Reverb& reverb) const
{
    equaliser.setTargetGains({m_parameters.lowGain.load(std::memory_order_relaxed),
                              m_parameters.midGain.load(std::memory_order_relaxed),
                              m_parameters.highGain.load(std::memory_order_relaxed)});
    stretch.setTargetRate(m_parameters.rate.load(std::memory_order_relaxed));
    reverb.setTargetMix(m_parameters.reverbMix.load(std::memory_order_relaxed));
}

void RenderChain::noteBlockStart(qint64 outputFrame)
{
    m_blockStarts[std::size_t(m_blockStartCount % blockStartCapacity)] = {outputFrame,
                                                                          m_replay.position()};
    ++m_blockStartCount;
}

bool RenderChain::render(float* buffer, int frames, const RenderTiming& timing)
{
    FlushDenormals flushDenormals;
    if (m_parameters.silenced.load(std::memory_order_acquire)) {
        std::fill_n(buffer, 2 * frames, 0.0f);
        if (m_volumeTarget != 0 || m_volume != 0)
            clearEffects();
        m_volume = m_volumeTarget = 0;
        m_volumeRampLeft = 0;
        return true;
    }
    m_player.processCommands();
    if (m_player.takeCut())
        clearEffects();

    setEffectTargets(m_equaliser, m_stretch, m_reverb);
    const bool muted = this->muted();
    const double volume =
        muted ? 0.0 : std::clamp(m_parameters.volume.load(std::memory_order_relaxed), 0.0, 1.0);
    if (volume != m_volumeTarget) {
        m_volumeTarget = volume;
        m_volumeRampLeft = std::max(1, int(std::lround(volumeRampSeconds * m_sampleRate)));
        m_volumeStep = (m_volumeTarget - m_volume) / m_volumeRampLeft;
    }

    double waited = 0;
    for (int done = 0; done < frames;) {
        const int n = std::min(maxBlockFrames, frames - done);
        float* block = buffer + 2 * done;
        noteBlockStart(m_rendered);
        // Waiting for the decoder must leave what is still to be heard a margin.
        const double aheadSeconds = (timing.aheadFrames + done) / m_sampleRate - waited;
        const double waitSeconds =
            timing.realTime ? std::clamp(aheadSeconds - aheadMarginSeconds, 0.0, maxWaitSeconds)
                            : PlayerStage::offlineWaitSeconds;
        // A segment's end is heard after what the output still holds, where it can tell.
        const double untilHeard =
            timing.aheadFrames > 0 ? timing.aheadFrames + done : timing.latencyFrames;
        m_player.beginBlock(m_rendered, m_stretch.latencyFrames() + untilHeard, waitSeconds);
        m_stretch.process(block, n, m_source);
        m_reverb.process(block, n);
        applyVolume(block, n);
        m_rendered += n;
        m_player.endBlock(m_rendered);
        waited += m_player.waitedSeconds();

        float peak = 0;
        for (int i = 0; i < 2 * n; ++i)
            peak = std::max(peak, std::fabs(block[i]));
        m_silentFrames = peak < silenceLevel && m_player.idle() ? m_silentFrames + n : 0;
        done += n;
    }
    m_mutedFrames = muted && m_volumeRampLeft == 0 ? m_mutedFrames + frames : 0;
    // Resting stops the output at once, so the sound still buffered must be silence too.
    const bool active =
        double(m_silentFrames) < idleAfterSeconds * m_sampleRate + timing.latencyFrames;
    // Beyond the stream's buffer the sound server keeps a little of its own.
    const double heardAfterFrames = timing.latencyFrames + serverMarginSeconds * m_sampleRate;
    m_fadedOut.store(muted && (!active || double(m_mutedFrames) >= heardAfterFrames),
                     std::memory_order_release);
    m_resting.store(!active, std::memory_order_release);
    return active;
}

AudioOutput::Renderer::Rerendered RenderChain::renderAgain(qint64 maxFramesBack, float* out,
                                                           int capacity)
{
    if (muted() || m_parameters.silenced.load(std::memory_order_acquire))
        return {};
    // The earliest block that began late enough, with the player's sound from there kept.
    const qint64 earliest = m_rendered - maxFramesBack;
    qint64 restart = std::max<qint64>(0, m_blockStartCount - blockStartCapacity);
    while (restart < m_blockStartCount &&
           m_blockStarts[std::size_t(restart % blockStartCapacity)].output < earliest)
        ++restart;
    if (restart == m_blockStartCount)
        return {};
    const BlockStart from = m_blockStarts[std::size_t(restart % blockStartCapacity)];
    if (from.player < m_replay.oldestKept())
        return {};

    FlushDenormals flushDenormals;
    // Fresh effects at the new settings, warmed up over the sound before that block (never
    // before the last cut, which the live effects forgot too).
    Equaliser equaliser(m_sampleRate);
    TimeStretchStage stretch(m_sampleRate, maxBlockFrames);
    Reverb reverb(m_sampleRate);
    setEffectTargets(equaliser, stretch, reverb);
    Equalised source(m_replay, equaliser);
    const qint64 resumeAt = m_replay.position();
    m_replay.setReplayOnly(true);
    m_replay.rewindTo(std::max({m_replay.oldestKept(), m_replayFloor,
                                from.player - qint64(warmUpSeconds * m_sampleRate)}));
    std::vector<float> scratch(std::size_t(2 * maxBlockFrames));
    while (m_replay.position() < from.player) {
        const int n = stretch.bypassed()
                          ? int(std::min<qint64>(maxBlockFrames, from.player - m_replay.position()))
                          : maxBlockFrames;
        stretch.process(scratch.data(), n, source);
        reverb.process(scratch.data(), n);
    }

    // Whole blocks while the kept sound surely covers what one pulls at the fastest rate;
    // the rest is replayed by the next render().
    constexpr qint64 reserve = 8 * maxBlockFrames;
    const double volume = std::clamp(m_parameters.volume.load(), 0.0, 1.0);
    const qint64 blockStartsBefore = m_blockStartCount;
    m_blockStartCount = restart;
    qint64 rendered = from.output;
    int produced = 0;
    while (produced + maxBlockFrames <= capacity &&
           m_replay.recordedEnd() - m_replay.position() >= reserve) {
        noteBlockStart(rendered);
        float* block = out + 2 * produced;
        stretch.process(block, maxBlockFrames, source);
        reverb.process(block, maxBlockFrames);
        for (int i = 0; i < 2 * maxBlockFrames; ++i)
            block[i] *= float(volume);
        produced += maxBlockFrames;
        rendered += maxBlockFrames;
    }
    m_replay.setReplayOnly(false);
    if (produced == 0) {
        m_replay.rewindTo(resumeAt);
        m_blockStartCount = blockStartsBefore;
        return {};
    }
    std::swap(m_equaliser, equaliser);
    std::swap(m_stretch, stretch);
    std::swap(m_reverb, reverb);
    const qint64 framesBack = m_rendered - from.output;
    m_rendered = rendered;
    m_volume = m_volumeTarget = volume;
    m_volumeRampLeft = 0;
    return {framesBack, produced};
}

} // namespace calmcove
