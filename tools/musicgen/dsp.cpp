#include "dsp.h"

namespace calmcove::musicgen {

void Biquad::design(double hz, double q, double gainDb, Shape shape)
{
    const double w0 = 2 * pi * std::min(hz, 0.45 * sampleRate) / sampleRate;
    const double cosW = std::cos(w0);
    const double alpha = std::sin(w0) / (2 * q);
    const double a = std::pow(10.0, gainDb / 40);
    double nb0 = 1, nb1 = 0, nb2 = 0, na0 = 1, na1 = 0, na2 = 0;
    switch (shape) {
    case Shape::lowpass:
        nb0 = (1 - cosW) / 2;
        nb1 = 1 - cosW;
        nb2 = nb0;
        na0 = 1 + alpha;
        na1 = -2 * cosW;
        na2 = 1 - alpha;
        break;
    case Shape::highpass:
        nb0 = (1 + cosW) / 2;
        nb1 = -(1 + cosW);
        nb2 = nb0;
        na0 = 1 + alpha;
        na1 = -2 * cosW;
        na2 = 1 - alpha;
        break;
    case Shape::peak:
        nb0 = 1 + alpha * a;
        nb1 = -2 * cosW;
        nb2 = 1 - alpha * a;
        na0 = 1 + alpha / a;
        na1 = -2 * cosW;
        na2 = 1 - alpha / a;
        break;
    case Shape::lowShelf: {
        const double s = 2 * std::sqrt(a) * alpha;
        nb0 = a * ((a + 1) - (a - 1) * cosW + s);
        nb1 = 2 * a * ((a - 1) - (a + 1) * cosW);
        nb2 = a * ((a + 1) - (a - 1) * cosW - s);
        na0 = (a + 1) + (a - 1) * cosW + s;
        na1 = -2 * ((a - 1) + (a + 1) * cosW);
        na2 = (a + 1) + (a - 1) * cosW - s;
        break;
    }
    case Shape::highShelf: {
        const double s = 2 * std::sqrt(a) * alpha;
        nb0 = a * ((a + 1) + (a - 1) * cosW + s);
        nb1 = -2 * a * ((a - 1) + (a + 1) * cosW);
        nb2 = a * ((a + 1) + (a - 1) * cosW - s);
        na0 = (a + 1) - (a - 1) * cosW + s;
        na1 = 2 * ((a - 1) - (a + 1) * cosW);
        na2 = (a + 1) - (a - 1) * cosW - s;
        break;
    }
    }
    b0 = static_cast<float>(nb0 / na0);
    b1 = static_cast<float>(nb1 / na0);
    b2 = static_cast<float>(nb2 / na0);
    a1 = static_cast<float>(na1 / na0);
    a2 = static_cast<float>(na2 / na0);
}

} // namespace calmcove::musicgen
