#include "timestretch.h"

#include <algorithm>
#include <cmath>
#include <soundtouch/SoundTouch.h>

namespace calmcove {

namespace {

class SoundTouchStretcher final : public TimeStretcher
{
public:
    explicit SoundTouchStretcher(int sampleRate)
    {
        m_soundTouch.setSampleRate(unsigned(sampleRate));
        m_soundTouch.setChannels(2);
        m_soundTouch.setSetting(SETTING_USE_QUICKSEEK, 1);
        m_soundTouch.setSetting(SETTING_USE_AA_FILTER, 0);
        // Grow every internal buffer now: a few seconds at the extreme tempi.
        std::vector<float> silence(2 * 8192, 0.0f);
        std::vector<float> sink(2 * 8192);
        for (double tempo : {0.5, 2.0}) {
            m_soundTouch.setTempo(tempo);
            for (int i = 0; i < 3; ++i) {
                m_soundTouch.putSamples(silence.data(), 8192);
                while (m_soundTouch.receiveSamples(sink.data(), 8192) > 0) {
                }
            }
        }
        m_soundTouch.clear();
    }

    void setTempo(double tempo) override { m_soundTouch.setTempo(tempo); }
    void put(const float* frames, int count) override
    {
        m_soundTouch.putSamples(frames, unsigned(count));
    }
    int available() const override { return int(m_soundTouch.numSamples()); }
    int take(float* frames, int count) override
    {
        return int(m_soundTouch.receiveSamples(frames, unsigned(count)));
    }
    int pendingInput() const override { return int(m_soundTouch.numUnprocessedSamples()); }
    void clear() override { m_soundTouch.clear(); }

private:
    mutable soundtouch::SoundTouch m_soundTouch;
};

// Input is fed to the stretcher in chunks of this many frames.
constexpr int feedChunk = 256;

} // namespace

std::unique_ptr<TimeStretcher> createSoundTouchStretcher(int sampleRate)
{
    return std::make_unique<SoundTouchStretcher>(sampleRate);
}

TimeStretchStage::TimeStretchStage(int sampleRate, int maxBlockFrames,
                                   std::unique_ptr<TimeStretcher> stretcher)
    : m_stretcher(stretcher ? std::move(stretcher) : createSoundTouchStretcher(sampleRate)),
      m_direct(std::size_t(2 * maxBlockFrames)), m_stretched(std::size_t(2 * maxBlockFrames)),
      m_input(std::size_t(2 * std::max(maxBlockFrames, feedChunk))),
      m_crossfadeFrames(std::max(1, int(std::lround(crossfadeSeconds * sampleRate))))
{}

double TimeStretchStage::latencyFrames() const
{
    if (m_state == State::bypassed)
        return 0;
    return m_stretcher->pendingInput() / m_tempo + m_stretcher->available();
}

void TimeStretchStage::crossfade(float* out, const float* direct, const float* stretched, int count,
                                 bool towardsStretched)
{
    for (int i = 0; i < count; ++i) {
        const float position =
            float(std::min(m_crossfadeDone + i, m_crossfadeFrames)) / float(m_crossfadeFrames);
        const float stretchedShare = towardsStretched ? position : 1.0f - position;
        for (int ch = 0; ch < 2; ++ch)
            out[2 * i + ch] = stretched[2 * i + ch] * stretchedShare +
                              direct[2 * i + ch] * (1.0f - stretchedShare);
    }
    m_crossfadeDone += count;
}

void TimeStretchStage::process(float* out, int count, FrameSource& source)
{
    const bool wantStretch = m_targetRate != 1.0;
    if (wantStretch && m_targetRate != m_tempo && m_state != State::leaving) {
        m_tempo = m_targetRate;
        m_stretcher->setTempo(m_tempo);
    }

    switch (m_state) {
    case State::bypassed:
        if (!wantStretch) {
            source.pull(out, count);
            m_silentSoFar = std::all_of(out, out + 2 * count, [](float x) { return x == 0.0f; });
            return;
        }
        m_stretcher->clear();
        m_stretcher->setTempo(m_tempo);
        m_crossfadeDone = 0;
        if (m_silentSoFar) {
            // Nothing is sounding that would have to go on during the stretcher's start-up
            // (its latency), so there is nothing to fade from: the audio starts stretched.
            m_state = State::stretching;
            process(out, count, source);
            return;
        }
        m_state = State::entering;
        [[fallthrough]];
    case State::entering: {
        // The direct signal plays on until the stretcher has output to fade over to; the
        // stretcher hears the same input, so nothing is skipped and nothing goes silent.
        source.pull(m_direct.data(), count);
        m_stretcher->put(m_direct.data(), count);
        if (!wantStretch) {
            m_state = State::bypassed;
            std::copy_n(m_direct.data(), 2 * count, out);
            return;
        }
        if (m_stretcher->available() < count) {
            std::copy_n(m_direct.data(), 2 * count, out);
            return;
        }
        m_stretcher->take(m_stretched.data(), count);
        crossfade(out, m_direct.data(), m_stretched.data(), count, true);
        if (m_crossfadeDone >= m_crossfadeFrames)
            m_state = State::stretching;
        return;
    }
    case State::stretching:
        if (!wantStretch) {
            m_crossfadeDone = 0;
            m_state = State::leaving;
            break;
        }
        while (m_stretcher->available() < count) {
            source.pull(m_input.data(), feedChunk);
            m_stretcher->put(m_input.data(), feedChunk);
        }
        m_stretcher->take(out, count);
        return;
    case State::leaving:
        break;
    }

    // Leaving: the stretcher's output fades into the direct signal; its buffered tail is
    // dropped, which the crossfade hides.
    source.pull(m_direct.data(), count);
    m_stretcher->put(m_direct.data(), count);
    const int got = m_stretcher->take(m_stretched.data(), count);
    std::fill(m_stretched.begin() + 2 * got, m_stretched.begin() + 2 * count, 0.0f);
    crossfade(out, m_direct.data(), m_stretched.data(), count, false);
    if (m_crossfadeDone >= m_crossfadeFrames) {
        m_stretcher->clear();
        m_state = State::bypassed;
        m_silentSoFar = false;
    }
}

} // namespace calmcove
