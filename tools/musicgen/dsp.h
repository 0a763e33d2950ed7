#pragma once

// Small signal-processing building blocks shared by the instruments and effects: phase
// accumulators, a sine table, band-limited saws, filters, envelopes and delay lines.
// Everything here is inline and allocation-free so voices can run it per sample.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

namespace calmcove::musicgen {

inline constexpr int sampleRate = 44100;
inline constexpr double pi = 3.14159265358979323846;

inline double midiToHz(double note)
{
    return 440.0 * std::exp2((note - 69.0) / 12.0);
}
inline float dbToGain(double db)
{
    return static_cast<float>(std::pow(10.0, db / 20.0));
}
// Per-sample multiplier that decays by 60 dB in `seconds`.
inline float decayCoefficient(double seconds)
{
    return seconds <= 0 ? 0.0f : static_cast<float>(std::exp(-6.907755 / (seconds * sampleRate)));
}
// Phase increment of a 32-bit accumulator for a frequency in Hz.
inline std::uint32_t phaseIncrement(double hz)
{
    double cycles = hz / sampleRate;
    cycles -= std::floor(cycles);
    return static_cast<std::uint32_t>(cycles * 4294967296.0);
}

// One period of a sine in 2048 steps; linear interpolation keeps errors near -130 dB.
class SineTable
{
public:
    static constexpr int bits = 11;
    static constexpr int size = 1 << bits;

    static const SineTable& instance()
    {
        static const SineTable table;
        return table;
    }
    // Sine of a 32-bit phase (a full turn is 2^32).
    float operator()(std::uint32_t phase) const
    {
        const std::uint32_t index = phase >> (32 - bits);
        const float fraction = static_cast<float>(phase & ((1u << (32 - bits)) - 1)) *
                               (1.0f / static_cast<float>(1u << (32 - bits)));
        return values_[index] + fraction * (values_[index + 1] - values_[index]);
    }

private:
    SineTable()
    {
        for (int i = 0; i <= size; ++i)
            values_[static_cast<std::size_t>(i)] = static_cast<float>(std::sin(2 * pi * i / size));
    }
    std::array<float, size + 1> values_{};
};

// Turns a phase offset in turns (may be negative or above one) into accumulator units.
inline std::uint32_t turnsToPhase(float turns)
{
    return static_cast<std::uint32_t>(static_cast<std::int64_t>(turns * 4294967296.0f));
}

inline float phaseToUnit(std::uint32_t phase)
{
    return static_cast<float>(phase) * (1.0f / 4294967296.0f);
}

// PolyBLEP correction for a naive saw; t and dt in turns.
inline float polyBlep(float t, float dt)
{
    if (t < dt) {
        t /= dt;
        return t + t - t * t - 1.0f;
    }
    if (t > 1.0f - dt) {
        t = (t - 1.0f) / dt;
        return t * t + t + t + 1.0f;
    }
    return 0.0f;
}

// A band-limited sawtooth on a 32-bit phase.
inline float sawAt(std::uint32_t phase, std::uint32_t increment)
{
    const float t = phaseToUnit(phase);
    return 2.0f * t - 1.0f - polyBlep(t, phaseToUnit(increment));
}

// Soft saturation, unity slope at zero, bounded by ±1.
inline float softClip(float x)
{
    if (x > 3.0f)
        return 1.0f;
    if (x < -3.0f)
        return -1.0f;
    const float x2 = x * x;
    return x * (27.0f + x2) / (27.0f + 9.0f * x2);
}

// First-order low-pass; cutoff set per block, not per sample.
struct OnePoleLowpass
{
    float coefficient = 1.0f;
    float state = 0.0f;

    void setCutoff(double hz)
    {
        coefficient =
            static_cast<float>(1.0 - std::exp(-2 * pi * std::min(hz, 20000.0) / sampleRate));
    }
    float process(float x)
    {
        state += coefficient * (x - state);
        return state;
    }
};

// Blocks DC and sub-sonic rumble (first-order high-pass).
struct DcBlocker
{
    float coefficient = 0.9957f; // about 30 Hz
    float previousIn = 0.0f;
    float previousOut = 0.0f;

    void setCutoff(double hz)
    {
        coefficient = static_cast<float>(std::exp(-2 * pi * hz / sampleRate));
    }
    float process(float x)
    {
        const float y = x - previousIn + coefficient * previousOut;
        previousIn = x;
        previousOut = y;
        return y;
    }
};

// Trapezoidal state-variable filter (Cytomic); low-pass and band-pass outputs.
struct StateVariableFilter
{
    float g = 0, k = 1.4f, a1 = 0, a2 = 0, a3 = 0;
    float ic1 = 0, ic2 = 0;

    // resonance: Q of the filter (0.5 … 5).
    void set(double hz, double q)
    {
        g = static_cast<float>(std::tan(pi * std::min(hz, 0.45 * sampleRate) / sampleRate));
        k = static_cast<float>(1.0 / q);
        a1 = 1.0f / (1.0f + g * (g + k));
        a2 = g * a1;
        a3 = g * a2;
    }
    // Returns the low-pass output; band-pass lands in `band`.
    float process(float x, float& band)
    {
        const float v3 = x - ic2;
        const float v1 = a1 * ic1 + a2 * v3;
        const float v2 = ic2 + a2 * ic1 + a3 * v3;
        ic1 = 2.0f * v1 - ic1;
        ic2 = 2.0f * v2 - ic2;
        band = v1;
        return v2;
    }
    float lowpass(float x)
    {
        float band;
        return process(x, band);
    }
    float bandpass(float x)
    {
        float band;
        process(x, band);
        return band;
    }
};

// RBJ biquad, transposed direct form II.
struct Biquad
{
    float b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
    float z1 = 0, z2 = 0;

    float process(float x)
    {
        const float y = b0 * x + z1;
        z1 = b1 * x - a1 * y + z2;
        z2 = b2 * x - a2 * y;
        return y;
    }
    void setLowpass(double hz, double q) { design(hz, q, 0, Shape::lowpass); }
    void setHighpass(double hz, double q) { design(hz, q, 0, Shape::highpass); }
    void setPeak(double hz, double q, double gainDb) { design(hz, q, gainDb, Shape::peak); }
    void setLowShelf(double hz, double gainDb) { design(hz, 0.7071, gainDb, Shape::lowShelf); }
    void setHighShelf(double hz, double gainDb) { design(hz, 0.7071, gainDb, Shape::highShelf); }

private:
    enum class Shape
    {
        lowpass,
        highpass,
        peak,
        lowShelf,
        highShelf
    };
    void design(double hz, double q, double gainDb, Shape shape);
};

// A fixed-capacity delay line (power-of-two ring) with fractional reads.
class DelayLine
{
public:
    explicit DelayLine(int capacity = 1)
    {
        int size = 1;
        while (size < capacity + 4)
            size <<= 1;
        buffer_.assign(static_cast<std::size_t>(size), 0.0f);
        mask_ = size - 1;
    }
    void write(float x)
    {
        position_ = (position_ + 1) & mask_;
        buffer_[static_cast<std::size_t>(position_)] = x;
    }
    // The sample written `delay` samples ago (0 = the latest); delay below capacity.
    float read(int delay) const
    {
        return buffer_[static_cast<std::size_t>((position_ - delay) & mask_)];
    }
    float readFractional(float delay) const
    {
        const int whole = static_cast<int>(delay);
        const float fraction = delay - static_cast<float>(whole);
        const float a = read(whole);
        return a + fraction * (read(whole + 1) - a);
    }

private:
    std::vector<float> buffer_;
    int mask_ = 0;
    int position_ = 0;
};

// Attack–decay–sustain–release envelope: linear attack, exponential decay and release.
struct Envelope
{
    enum class Stage
    {
        idle,
        attack,
        decay,
        release
    };
    Stage stage = Stage::idle;
    float level = 0.0f;
    float attackStep = 1.0f;
    float decayCoefficient = 1.0f; // per sample, toward sustain
    float sustain = 1.0f;
    float releaseCoefficient = 0.999f;

    void configure(double attackSeconds, double decaySeconds, double sustainLevel,
                   double releaseSeconds)
    {
        attackStep = static_cast<float>(1.0 / std::max(1.0, attackSeconds * sampleRate));
        decayCoefficient = musicgen::decayCoefficient(decaySeconds);
        sustain = static_cast<float>(sustainLevel);
        releaseCoefficient = musicgen::decayCoefficient(releaseSeconds);
    }
    void start()
    {
        stage = Stage::attack;
        level = 0.0f;
    }
    void release()
    {
        if (stage != Stage::idle)
            stage = Stage::release;
    }
    bool active() const { return stage != Stage::idle; }
    float next()
    {
        switch (stage) {
        case Stage::attack:
            level += attackStep;
            if (level >= 1.0f) {
                level = 1.0f;
                stage = Stage::decay;
            }
            break;
        case Stage::decay:
            level = sustain + (level - sustain) * decayCoefficient;
            break;
        case Stage::release:
            level *= releaseCoefficient;
            if (level < 1e-4f) {
                level = 0.0f;
                stage = Stage::idle;
            }
            break;
        case Stage::idle:
            break;
        }
        return level;
    }
};

// Equal-power stereo gains for a pan position in [-1, 1].
struct PanGains
{
    float left = 0.7071f;
    float right = 0.7071f;

    static PanGains at(double pan)
    {
        const double angle = (std::clamp(pan, -1.0, 1.0) + 1.0) * pi / 4;
        return {static_cast<float>(std::cos(angle)), static_cast<float>(std::sin(angle))};
    }
};

} // namespace calmcove::musicgen
