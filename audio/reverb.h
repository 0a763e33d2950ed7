#pragma once

// The room reverb of the sound chain: a Freeverb-style network (eight damped combs and four
// allpasses per channel) tuned as a medium room. Output = (1 − mix) · dry + mix · wet.

#include <array>
#include <vector>

namespace calmcove {

class Reverb
{
public:
    // Allocates all delay lines; scaled from Freeverb's 44.1 kHz tunings.
    explicit Reverb(double sampleRate);

    // Render thread. Wet share in percent, 0…100 (clamped); glides over rampSeconds.
    void setTargetMix(double percent);
    // Render thread. Interleaved stereo float, in place. At a mix of 0 the network is not
    // run at all; it starts from silence again when the mix rises.
    void process(float* frames, int count);
    void clear();

    static constexpr double rampSeconds = 0.02;

private:
    struct Comb
    {
        std::vector<float> buffer;
        std::size_t index = 0;
        float store = 0;
    };
    struct Allpass
    {
        std::vector<float> buffer;
        std::size_t index = 0;
    };

    std::array<std::array<Comb, 8>, 2> m_combs;
    std::array<std::array<Allpass, 4>, 2> m_allpasses;
    float m_feedback;
    float m_damp;
    double m_mix = 0, m_targetMix = 0, m_mixStep = 0;
    int m_rampFrames;
    int m_rampLeft = 0;
    bool m_active = false;
};

} // namespace calmcove
