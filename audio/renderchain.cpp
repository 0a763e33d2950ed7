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

RenderChain::RenderChain(int sampleRate, Wakeup& decoderWakeup)
    : m_sampleRate(sampleRate), m_player(sampleRate, maxBlockFrames, decoderWakeup),
      m_equaliser(sampleRate), m_source(m_player, m_equaliser),
      m_stretch(sampleRate, maxBlockFrames), m_reverb(sampleRate)
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

    m_equaliser.setTargetGains({m_parameters.lowGain.load(std::memory_order_relaxed),
                                m_parameters.midGain.load(std::memory_order_relaxed),
                                m_parameters.highGain.load(std::memory_order_relaxed)});
    m_stretch.setTargetRate(m_parameters.rate.load(std::memory_order_relaxed));
    m_reverb.setTargetMix(m_parameters.reverbMix.load(std::memory_order_relaxed));
    const bool muted = m_parameters.muted.load(std::memory_order_acquire);
    const double volume =
        muted ? 0.0 : std::clamp(m_parameters.volume.load(std::memory_order_relaxed), 0.0, 1.0);
    if (volume != m_volumeTarget) {
        m_volumeTarget = volume;
        m_volumeRampLeft = std::max(1, int(std::lround(volumeRampSeconds * m_sampleRate)));
        m_volumeStep = (m_volumeTarget - m_volume) / m_volumeRampLeft;
    }

    for (int done = 0; done < frames;) {
        const int n = std::min(maxBlockFrames, frames - done);
        float* block = buffer + 2 * done;
        m_player.beginBlock(m_rendered, m_stretch.latencyFrames() + timing.latencyFrames,
                            timing.realTime);
        m_stretch.process(block, n, m_source);
        m_reverb.process(block, n);
        applyVolume(block, n);
        m_rendered += n;
        m_player.endBlock(m_rendered);

        float peak = 0;
        for (int i = 0; i < 2 * n; ++i)
            peak = std::max(peak, std::fabs(block[i]));
        m_silentFrames = peak < silenceLevel && m_player.idle() ? m_silentFrames + n : 0;
        done += n;
    }
    m_mutedFrames = muted && m_volumeRampLeft == 0 ? m_mutedFrames + frames : 0;
    const bool active = m_silentFrames < qint64(idleAfterSeconds * m_sampleRate);
    // Beyond the stream's buffer the sound server keeps a little of its own.
    const double heardAfterFrames = timing.latencyFrames + serverMarginSeconds * m_sampleRate;
    m_fadedOut.store(muted && (!active || double(m_mutedFrames) >= heardAfterFrames),
                     std::memory_order_release);
    m_resting.store(!active, std::memory_order_release);
    return active;
}

} // namespace calmcove
