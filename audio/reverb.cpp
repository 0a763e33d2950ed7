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
    // Sample by sample through all lines at once, so that the eight combs' feedback chains
    // overlap in the CPU, in runs in which no line wraps around, so without branches.
    constexpr int chunk = 256;
    float input[chunk], wetShare[chunk];
    const float damp1 = m_damp, damp2 = 1.0f - m_damp, feedback = m_feedback;
    for (int done = 0; done < count; done += chunk) {
        const int n = std::min(chunk, count - done);
        float* block = frames + 2 * done;
        for (int i = 0; i < n; ++i) {
            if (m_rampLeft > 0)
                m_mix = --m_rampLeft == 0 ? m_targetMix : m_mix + m_mixStep;
            wetShare[i] = float(m_mix);
            input[i] = (block[2 * i] + block[2 * i + 1]) * fixedGain;
        }
        for (int ch = 0; ch < 2; ++ch) {
            auto& combs = m_combs[ch];
            auto& allpasses = m_allpasses[ch];
            for (int i = 0; i < n;) {
                std::size_t run = std::size_t(n - i);
                for (const Comb& comb : combs)
                    run = std::min(run, comb.buffer.size() - comb.index);
                for (const Allpass& allpass : allpasses)
                    run = std::min(run, allpass.buffer.size() - allpass.index);
                float* combLine[8];
                float store[8];
#pragma GCC unroll 8
                for (int k = 0; k < 8; ++k) {
                    combLine[k] = combs[k].buffer.data() + combs[k].index;
                    store[k] = combs[k].store;
                }
                float* allpassLine[4];
                for (int k = 0; k < 4; ++k)
                    allpassLine[k] = allpasses[k].buffer.data() + allpasses[k].index;
                for (std::size_t j = 0; j < run; ++j) {
                    const float in = input[i + int(j)];
                    float wet = 0;
#pragma GCC unroll 8
                    for (int k = 0; k < 8; ++k) {
                        const float out = combLine[k][j];
                        store[k] = out * damp2 + store[k] * damp1;
                        combLine[k][j] = in + store[k] * feedback;
                        wet += out;
                    }
#pragma GCC unroll 4
                    for (int k = 0; k < 4; ++k) {
                        const float delayed = allpassLine[k][j];
                        allpassLine[k][j] = wet + delayed * allpassFeedback;
                        wet = delayed - wet;
                    }
                    float& sample = block[2 * (i + int(j)) + ch];
                    const float share = wetShare[i + int(j)];
                    sample = (1.0f - share) * sample + share * wet;
                }
#pragma GCC unroll 8
                for (int k = 0; k < 8; ++k) {
                    combs[k].store = store[k];
                    if ((combs[k].index += run) == combs[k].buffer.size())
                        combs[k].index = 0;
                }
                for (Allpass& allpass : allpasses)
                    if ((allpass.index += run) == allpass.buffer.size())
                        allpass.index = 0;
                i += int(run);
            }
        }
    }
}

} // namespace calmcove
