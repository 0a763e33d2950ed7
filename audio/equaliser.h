#pragma once

// The three-band equaliser of the sound chain: RBJ peaking biquads at the bands of
// soundpreset.h, one octave wide. Gain changes glide so that no zipper noise is heard.

#include <array>

namespace calmcove {

class Equaliser
{
public:
    static constexpr int bandCount = 3;

    explicit Equaliser(double sampleRate);

    // Render thread. Gains in dB, band 1 first. A change glides linearly to the new value
    // over rampSeconds; the call itself is cheap and may come before every block.
    void setTargetGains(const std::array<double, bandCount>& gainsDb);
    // Render thread. Interleaved stereo float, in place.
    void process(float* frames, int count);
    // Render thread. Forgets the filters' state (the sound cut off there is not to ring on).
    void clear();
    // Gain of a band right now, in dB (the gliding value).
    double currentGain(int band) const { return m_bands[band].gain; }

    static constexpr double rampSeconds = 0.02;

private:
    struct Band
    {
        double frequency = 0;
        double gain = 0, target = 0, step = 0;
        int stepsLeft = 0;
        int settleLeft = 0; // sub-blocks still run at 0 dB before the band is bypassed
        double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
        double z1[2] = {0, 0}, z2[2] = {0, 0};
    };

    void updateCoefficients(Band& band) const;
    void runBand(Band& band, float* frames, int count);

    double m_sampleRate;
    int m_rampSteps;
    int m_settleSteps;
    std::array<Band, bandCount> m_bands;
};

} // namespace calmcove
