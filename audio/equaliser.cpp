#include "equaliser.h"

#include "soundpreset.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace calmcove {

namespace {
// Coefficients are recomputed once per sub-block while a gain glides.
constexpr int subBlock = 32;
} // namespace

Equaliser::Equaliser(double sampleRate)
    : m_sampleRate(sampleRate),
      m_rampSteps(std::max(1, int(std::lround(rampSeconds * sampleRate / subBlock)))),
      m_settleSteps(int(std::lround(0.1 * sampleRate / subBlock)))
{
    for (int i = 0; i < bandCount; ++i) {
        m_bands[i].frequency = equaliserBandFrequencies[i];
        updateCoefficients(m_bands[i]);
    }
}

void Equaliser::setTargetGains(const std::array<double, bandCount>& gainsDb)
{
    for (int i = 0; i < bandCount; ++i) {
        Band& band = m_bands[i];
        if (gainsDb[i] == band.target)
            continue;
        band.target = gainsDb[i];
        band.stepsLeft = m_rampSteps;
        band.step = (band.target - band.gain) / m_rampSteps;
    }
}

void Equaliser::clear()
{
    for (Band& band : m_bands) {
        band.z1[0] = band.z1[1] = 0;
        band.z2[0] = band.z2[1] = 0;
    }
}

void Equaliser::updateCoefficients(Band& band) const
{
    // Robert Bristow-Johnson's cookbook peaking filter, bandwidth in octaves.
    const double a = std::pow(10.0, band.gain / 40.0);
    const double w0 = 2.0 * std::numbers::pi * band.frequency / m_sampleRate;
    const double sinW0 = std::sin(w0);
    const double alpha =
        sinW0 * std::sinh(std::numbers::ln2 / 2.0 * equaliserBandwidthOctaves * w0 / sinW0);
    const double cosW0 = std::cos(w0);
    const double a0 = 1.0 + alpha / a;
    band.b0 = (1.0 + alpha * a) / a0;
    band.b1 = -2.0 * cosW0 / a0;
    band.b2 = (1.0 - alpha * a) / a0;
    band.a1 = band.b1;
    band.a2 = (1.0 - alpha / a) / a0;
}

void Equaliser::runBand(Band& band, float* frames, int count)
{
    // Both channels in one pass: two independent recursions keep the CPU busy.
    const double b0 = band.b0, b1 = band.b1, b2 = band.b2, a1 = band.a1, a2 = band.a2;
    double leftZ1 = band.z1[0], leftZ2 = band.z2[0], rightZ1 = band.z1[1], rightZ2 = band.z2[1];
    for (int i = 0; i < count; ++i) {
        const double left = frames[2 * i], right = frames[2 * i + 1];
        const double leftOut = b0 * left + leftZ1;
        const double rightOut = b0 * right + rightZ1;
        leftZ1 = b1 * left - a1 * leftOut + leftZ2;
        rightZ1 = b1 * right - a1 * rightOut + rightZ2;
        leftZ2 = b2 * left - a2 * leftOut;
        rightZ2 = b2 * right - a2 * rightOut;
        frames[2 * i] = float(leftOut);
        frames[2 * i + 1] = float(rightOut);
    }
    band.z1[0] = leftZ1;
    band.z2[0] = leftZ2;
    band.z1[1] = rightZ1;
    band.z2[1] = rightZ2;
}

void Equaliser::process(float* frames, int count)
{
    for (int done = 0; done < count; done += subBlock) {
        const int n = std::min(subBlock, count - done);
        float* block = frames + 2 * done;
        for (Band& band : m_bands) {
            if (band.stepsLeft > 0) {
                band.gain = --band.stepsLeft == 0 ? band.target : band.gain + band.step;
                updateCoefficients(band);
                if (band.stepsLeft == 0 && band.gain == 0.0)
                    band.settleLeft = m_settleSteps;
            }
            // A flat band is left out of the signal path entirely, once the transient of its
            // last non-flat setting has died away, so a flat equaliser is exactly transparent.
            if (band.gain == 0.0 && band.stepsLeft == 0) {
                if (band.settleLeft == 0)
                    continue;
                if (--band.settleLeft == 0) {
                    band.z1[0] = band.z1[1] = band.z2[0] = band.z2[1] = 0;
                    continue;
                }
            }
            runBand(band, block, n);
        }
    }
}

} // namespace calmcove
