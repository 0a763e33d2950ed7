#include "reverb.h"

#include <algorithm>
#include <cmath>

namespace calmcove {

namespace {
// Freeverb's tunings at 44.1 kHz; the right channel's lines are longer by the stereo spread.
constexpr std::array<int, 8> combTunings = {1116, 1188, 1277, 1356, 1422, 1491, 1557, 1617};
constexpr std::array<int, 4> allpassTunings = {556, 441, 341, 225};
constexpr int stereoSpread = 23;
constexpr float fixedGain = 0.015f;
constexpr float allpassFeedback = 0.5f;
// A medium room: Freeverb room size 0.6 and damping 0.5 on its scales.
constexpr float roomSize = 0.6f;
constexpr float damping = 0.5f;
} // namespace

Reverb::Reverb(double sampleRate)
    : m_feedback(roomSize * 0.28f + 0.7f), m_damp(damping * 0.4f),
      m_rampFrames(std::max(1, int(std::lround(rampSeconds * sampleRate))))
{
    const double scale = sampleRate / 44100.0;
    for (int ch = 0; ch < 2; ++ch) {
        for (std::size_t i = 0; i < combTunings.size(); ++i)
            m_combs[ch][i].buffer.assign(
                std::size_t(std::lround((combTunings[i] + ch * stereoSpread) * scale)), 0.0f);
        for (std::size_t i = 0; i < allpassTunings.size(); ++i)
            m_allpasses[ch][i].buffer.assign(
                std::size_t(std::lround((allpassTunings[i] + ch * stereoSpread) * scale)), 0.0f);
    }
}

void Reverb::setTargetMix(double percent)
{
    const double target = std::clamp(percent, 0.0, 100.0) / 100.0;
    if (target == m_targetMix)
        return;
    m_targetMix = target;
    m_rampLeft = m_rampFrames;
    m_mixStep = (m_targetMix - m_mix) / m_rampFrames;
}

void Reverb::clear()
{
    for (auto& channel : m_combs)
        for (Comb& comb : channel) {
            std::fill(comb.buffer.begin(), comb.buffer.end(), 0.0f);
            comb.store = 0;
        }
    for (auto& channel : m_allpasses)
        for (Allpass& allpass : channel)
            std::fill(allpass.buffer.begin(), allpass.buffer.end(), 0.0f);
}

void Reverb::process(float* frames, int count)
{
    if (m_mix == 0.0 && m_rampLeft == 0) {
        m_active = false;
        return;
    }
    if (!m_active) {
        // Whatever the lines held when the reverb last went quiet is stale by now.
        clear();
        m_active = true;
    }
    const float damp1 = m_damp, damp2 = 1.0f - m_damp;
    for (int i = 0; i < count; ++i) {
        if (m_rampLeft > 0)
            m_mix = --m_rampLeft == 0 ? m_targetMix : m_mix + m_mixStep;
        const float wetShare = float(m_mix), dryShare = 1.0f - wetShare;
        const float input = (frames[2 * i] + frames[2 * i + 1]) * fixedGain;
        for (int ch = 0; ch < 2; ++ch) {
            float wet = 0;
            for (Comb& comb : m_combs[ch]) {
                const float out = comb.buffer[comb.index];
                comb.store = out * damp2 + comb.store * damp1;
                comb.buffer[comb.index] = input + comb.store * m_feedback;
                if (++comb.index == comb.buffer.size())
                    comb.index = 0;
                wet += out;
            }
            for (Allpass& allpass : m_allpasses[ch]) {
                const float delayed = allpass.buffer[allpass.index];
                allpass.buffer[allpass.index] = wet + delayed * allpassFeedback;
                if (++allpass.index == allpass.buffer.size())
                    allpass.index = 0;
                wet = delayed - wet;
            }
            float& sample = frames[2 * i + ch];
            sample = dryShare * sample + wetShare * wet;
        }
    }
}

} // namespace calmcove
