#include "effects.h"

#include <algorithm>
#include <cmath>

namespace calmcove::musicgen {

// ---- Reverb ---------------------------------------------------------------------------

namespace {

constexpr std::array<int, 8> reverbLines = {1123, 1361, 1601, 1847, 2113, 2381, 2647, 2953};
constexpr std::array<int, 4> diffuserLines = {142, 107, 379, 277};
constexpr float diffusion = 0.62f;

// In-place fast Walsh–Hadamard transform of eight values, scaled to stay lossless.
inline void hadamard(std::array<float, 8>& x)
{
    for (int width = 1; width < 8; width *= 2) {
        for (int i = 0; i < 8; i += 2 * width) {
            for (int j = i; j < i + width; ++j) {
                const float a = x[static_cast<std::size_t>(j)];
                const float b = x[static_cast<std::size_t>(j + width)];
                x[static_cast<std::size_t>(j)] = a + b;
                x[static_cast<std::size_t>(j + width)] = a - b;
            }
        }
    }
    for (float& v : x)
        v *= 0.35355339f;
}

} // namespace

Reverb::Reverb(double decaySeconds, double dampingHz, double size, double predelaySeconds)
    : predelay_(static_cast<int>(0.2 * sampleRate))
{
    for (int i = 0; i < lines; ++i) {
        const auto index = static_cast<std::size_t>(i);
        const double length = reverbLines[index] * size;
        length_[index] = static_cast<float>(length);
        delay_[index] = DelayLine(static_cast<int>(length) + 32);
        feedback_[index] =
            static_cast<float>(std::pow(10.0, -3.0 * length / (decaySeconds * sampleRate)));
        damping_[index].setCutoff(dampingHz);
    }
    for (std::size_t i = 0; i < diffuser_.size(); ++i) {
        diffuserLength_[i] = static_cast<int>(diffuserLines[i] * std::sqrt(size));
        diffuser_[i] = DelayLine(diffuserLength_[i] + 2);
    }
    predelayFrames_ = std::clamp(static_cast<int>(predelaySeconds * sampleRate), 1,
                                 static_cast<int>(0.19 * sampleRate));
    // Low end in a reverb turns to boom; keep it dry.
    inputHighpass_.setHighpass(200, 0.7);
    lfoStep_ = phaseIncrement(0.23);
}

void Reverb::process(const float* inLeft, const float* inRight, float* outLeft, float* outRight,
                     int frames)
{
    const SineTable& sine = SineTable::instance();
    std::array<float, 8> state{};
    for (int i = 0; i < frames; ++i) {
        float x = inputHighpass_.process(0.5f * (inLeft[i] + inRight[i]));
        predelay_.write(x);
        x = predelay_.read(predelayFrames_);
        for (std::size_t d = 0; d < diffuser_.size(); ++d) {
            const float delayed = diffuser_[d].read(diffuserLength_[d] - 1);
            const float w = x + diffusion * delayed;
            diffuser_[d].write(w);
            x = delayed - diffusion * w;
        }

        // Two lines drift slowly in length, which breaks up metallic ringing.
        const float wander = 5.0f * sine(lfo_);
        const float wander2 = 5.0f * sine(lfo_ + 0x40000000u);
        lfo_ += lfoStep_;
        for (std::size_t l = 0; l < state.size(); ++l) {
            float tap;
            if (l == 1)
                tap = delay_[l].readFractional(length_[l] - 1 + wander);
            else if (l == 6)
                tap = delay_[l].readFractional(length_[l] - 1 + wander2);
            else
                tap = delay_[l].read(static_cast<int>(length_[l]) - 1);
            state[l] = damping_[l].process(tap) * feedback_[l];
        }
        outLeft[i] += 0.5f * (state[0] - state[1] + state[2] + state[3] - state[4] + state[5] -
                              state[6] + state[7]);
        outRight[i] += 0.5f * (state[0] + state[1] - state[2] + state[3] + state[4] - state[5] -
                               state[6] - state[7]);
        hadamard(state);
        for (std::size_t l = 0; l < state.size(); ++l)
            delay_[l].write(state[l] + ((l & 1) ? -x : x));
    }
}

// ---- Chorus ---------------------------------------------------------------------------

Chorus::Chorus(double rateHz, double depthMs, double mix)
    : left_(static_cast<int>(0.05 * sampleRate)), right_(static_cast<int>(0.05 * sampleRate)),
      step_(phaseIncrement(rateHz)), base_(static_cast<float>(0.011 * sampleRate)),
      depth_(static_cast<float>(depthMs * 0.001 * sampleRate)), mix_(static_cast<float>(mix))
{}

void Chorus::process(float* left, float* right, int frames)
{
    const SineTable& sine = SineTable::instance();
    const float dry = 1.0f - 0.35f * mix_;
    const float wet = 0.75f * mix_;
    for (int i = 0; i < frames; ++i) {
        const float lfo = sine(phase_);
        const float lfo2 = sine(phase_ + 0x55555555u);
        phase_ += step_;
        left_.write(left[i]);
        right_.write(right[i]);
        // Each side hears the other's modulated copy, which widens without hollowing.
        const float wetLeft = right_.readFractional(base_ + depth_ * (0.5f + 0.5f * lfo));
        const float wetRight = left_.readFractional(base_ + depth_ * (0.5f + 0.5f * lfo2));
        left[i] = dry * left[i] + wet * wetLeft;
        right[i] = dry * right[i] + wet * wetRight;
    }
}

// ---- Tape wobble ----------------------------------------------------------------------

TapeWobble::TapeWobble(double amount, std::uint64_t seed)
    : left_(static_cast<int>(0.03 * sampleRate)), right_(static_cast<int>(0.03 * sampleRate)),
      random_(seed)
{
    // Depths in frames: about 10 cents of wow and 2 cents of flutter at full amount.
    wowStep_ = phaseIncrement(random_.uniform(0.3, 0.5));
    flutterStep_ = phaseIncrement(random_.uniform(5.5, 7.0));
    wowDepth_ = static_cast<float>(amount * 0.0023 * sampleRate);
    flutterDepth_ = static_cast<float>(amount * 0.00003 * sampleRate);
    driftDepth_ = static_cast<float>(amount * 0.0015 * sampleRate);
    base_ = wowDepth_ + flutterDepth_ + driftDepth_ + static_cast<float>(0.002 * sampleRate);
}

void TapeWobble::process(float* left, float* right, int frames)
{
    const SineTable& sine = SineTable::instance();
    // The drift wanders toward a new random point every few seconds.
    if (random_.chance(static_cast<double>(frames) / (2.5 * sampleRate)))
        driftTarget_ = static_cast<float>(random_.uniform(-1, 1));
    const float driftStep =
        (driftTarget_ - drift_) * (static_cast<float>(frames) / (1.5f * sampleRate));
    const float driftPerFrame = driftStep / static_cast<float>(frames);
    for (int i = 0; i < frames; ++i) {
        drift_ += driftPerFrame;
        const float delay =
            base_ + wowDepth_ * sine(wow_) + flutterDepth_ * sine(flutter_) + driftDepth_ * drift_;
        wow_ += wowStep_;
        flutter_ += flutterStep_;
        left_.write(left[i]);
        right_.write(right[i]);
        left[i] = left_.readFractional(delay);
        right[i] = right_.readFractional(delay);
    }
}

// ---- Echo -----------------------------------------------------------------------------

Echo::Echo(double delaySeconds, double feedback, double toneHz)
    : left_(static_cast<int>(delaySeconds * sampleRate) + 4),
      right_(static_cast<int>(delaySeconds * sampleRate) + 4),
      delay_(std::max(1, static_cast<int>(delaySeconds * sampleRate))),
      feedback_(static_cast<float>(feedback))
{
    toneLeft_.setCutoff(toneHz);
    toneRight_.setCutoff(toneHz);
}

void Echo::process(const float* inLeft, const float* inRight, float* outLeft, float* outRight,
                   int frames)
{
    for (int i = 0; i < frames; ++i) {
        const float delayedLeft = left_.read(delay_ - 1);
        const float delayedRight = right_.read(delay_ - 1);
        const float input = 0.5f * (inLeft[i] + inRight[i]);
        left_.write(toneLeft_.process(input + feedback_ * delayedRight));
        right_.write(toneRight_.process(feedback_ * delayedLeft));
        outLeft[i] += delayedLeft;
        outRight[i] += delayedRight;
    }
}

// ---- Stutter --------------------------------------------------------------------------

namespace {
constexpr std::int64_t historyFrames = 1 << 17;
constexpr std::int64_t historyMask = historyFrames - 1;
constexpr float stutterFade = 96;
} // namespace

Stutter::Stutter()
    : historyLeft_(static_cast<std::size_t>(historyFrames), 0.0f),
      historyRight_(static_cast<std::size_t>(historyFrames), 0.0f)
{}

void Stutter::process(const std::vector<StutterEvent>& events, std::int64_t blockStart, float* left,
                      float* right, int frames)
{
    for (int i = 0; i < frames; ++i) {
        const std::int64_t t = blockStart + i;
        historyLeft_[static_cast<std::size_t>(t & historyMask)] = left[i];
        historyRight_[static_cast<std::size_t>(t & historyMask)] = right[i];
        if (!active_ && next_ < events.size() && events[next_].start <= t) {
            current_ = events[next_++];
            active_ = current_.sliceFrames > 2 * stutterFade && current_.repeats > 1 &&
                      current_.sliceFrames < historyFrames / 2;
        }
        if (!active_)
            continue;
        const std::int64_t offset = t - current_.start;
        const std::int64_t slice = current_.sliceFrames;
        const std::int64_t repeat = offset / slice;
        const std::int64_t position = offset % slice;
        if (repeat >= current_.repeats) {
            // Back to the live signal, faded in.
            const float fadeIn =
                std::min(1.0f, static_cast<float>(offset - slice * current_.repeats) / stutterFade);
            left[i] *= fadeIn;
            right[i] *= fadeIn;
            if (fadeIn >= 1.0f)
                active_ = false;
            continue;
        }
        const float edge = std::min({1.0f, static_cast<float>(position) / stutterFade,
                                     static_cast<float>(slice - position) / stutterFade});
        if (repeat == 0) {
            // The slice plays live; only its end fades, into the first repeat.
            const float tail = std::min(1.0f, static_cast<float>(slice - position) / stutterFade);
            left[i] *= tail;
            right[i] *= tail;
            continue;
        }
        const float gain = edge * std::pow(0.82f, static_cast<float>(repeat));
        const auto source = static_cast<std::size_t>((current_.start + position) & historyMask);
        left[i] = historyLeft_[source] * gain;
        right[i] = historyRight_[source] * gain;
    }
}

// ---- Tremolo --------------------------------------------------------------------------

Tremolo::Tremolo(double rateHz, double depth)
    : step_(phaseIncrement(rateHz)), depth_(static_cast<float>(depth))
{}

void Tremolo::process(float* left, float* right, int frames)
{
    const SineTable& sine = SineTable::instance();
    for (int i = 0; i < frames; ++i) {
        const float s = sine(phase_);
        phase_ += step_;
        left[i] *= 1.0f - depth_ * (0.5f + 0.5f * s);
        right[i] *= 1.0f - depth_ * (0.5f - 0.5f * s);
    }
}

// ---- Kick ducker ----------------------------------------------------------------------

KickDucker::KickDucker(double depth, double recoverySeconds)
    : depth_(static_cast<float>(depth)),
      recovery_(static_cast<float>(std::exp(-1.0 / (recoverySeconds * sampleRate)))),
      attack_(static_cast<float>(1.0 - std::exp(-1.0 / (0.004 * sampleRate))))
{}

void KickDucker::process(const std::vector<DrumHit>& hits, std::int64_t blockStart, float* gain,
                         int frames)
{
    for (int i = 0; i < frames; ++i) {
        const std::int64_t t = blockStart + i;
        while (next_ < hits.size() && hits[next_].start <= t) {
            if (hits[next_].sound == DrumSound::kick)
                target_ = std::max(target_, hits[next_].velocity);
            ++next_;
        }
        // A quick (4 ms) dip rather than a jump, then a slow recovery.
        envelope_ += attack_ * (target_ - envelope_);
        if (envelope_ >= target_ - 0.01f)
            target_ = 0;
        envelope_ *= target_ > 0 ? 1.0f : recovery_;
        gain[i] = 1.0f - depth_ * envelope_;
    }
}

// ---- Vinyl crackle --------------------------------------------------------------------

VinylCrackle::VinylCrackle(double level, std::uint32_t seed) : noise_(seed)
{
    const double ticksPerSecond = 4 + 14 * level;
    tickChance_ = static_cast<float>(ticksPerSecond / sampleRate);
    tickLevel_ = static_cast<float>(0.8 * level);
    hissLevel_ = static_cast<float>(0.008 * level);
    tickLeft_.set(2600, 0.8);
    tickRight_.set(2900, 0.8);
    hissLeft_.setCutoff(5000);
    hissRight_.setCutoff(5000);
    hissHighLeft_.setCutoff(400);
    hissHighRight_.setCutoff(400);
}

void VinylCrackle::process(float* left, float* right, int frames, float gain)
{
    for (int i = 0; i < frames; ++i) {
        float impulseLeft = 0;
        float impulseRight = 0;
        if (noise_.unit() < tickChance_) {
            const float u = noise_.unit();
            // Mostly faint ticks, now and then a louder one.
            float amplitude = tickLevel_ * (0.1f + 0.9f * u * u * u);
            if (noise_.unit() < 0.04f)
                amplitude *= 2.5f;
            const float pan = noise_.unit();
            impulseLeft = amplitude * (1.0f - 0.6f * pan) * (noise_.next() < 0 ? -1.0f : 1.0f);
            impulseRight = amplitude * (0.4f + 0.6f * pan) * (noise_.next() < 0 ? -1.0f : 1.0f);
        }
        const float hissL = hissHighLeft_.process(hissLeft_.process(noise_.next())) * hissLevel_;
        const float hissR = hissHighRight_.process(hissRight_.process(noise_.next())) * hissLevel_;
        left[i] += gain * (tickLeft_.bandpass(impulseLeft) + hissL);
        right[i] += gain * (tickRight_.bandpass(impulseRight) + hissR);
    }
}

// ---- Rain -----------------------------------------------------------------------------

namespace {

// Paul Kellet's refined pink-noise filter.
inline float pink(std::array<float, 7>& b, float white)
{
    b[0] = 0.99886f * b[0] + white * 0.0555179f;
    b[1] = 0.99332f * b[1] + white * 0.0750759f;
    b[2] = 0.96900f * b[2] + white * 0.1538520f;
    b[3] = 0.86650f * b[3] + white * 0.3104856f;
    b[4] = 0.55000f * b[4] + white * 0.5329522f;
    b[5] = -0.7616f * b[5] - white * 0.0168980f;
    const float out = b[0] + b[1] + b[2] + b[3] + b[4] + b[5] + b[6] + white * 0.5362f;
    b[6] = white * 0.115926f;
    return out * 0.11f;
}

} // namespace

RainBed::RainBed(double level, std::uint32_t seed) : noise_(seed), level_(static_cast<float>(level))
{
    toneLeft_.setLowpass(3800, 0.6);
    toneRight_.setLowpass(4200, 0.6);
    highLeft_.setHighpass(350, 0.6);
    highRight_.setHighpass(330, 0.6);
    dropLeft_.set(3200, 2.5);
    dropRight_.set(2700, 2.5);
    dropChance_ = static_cast<float>(22.0 / sampleRate);
}

void RainBed::process(float* left, float* right, int frames, float gain)
{
    if (noise_.unit() < static_cast<float>(frames) / (3.0f * sampleRate))
        gustTarget_ = 0.25f + 0.75f * noise_.unit();
    for (int i = 0; i < frames; ++i) {
        gust_ += 0.00002f * (gustTarget_ - gust_);
        const float amount = gain * level_ * (0.55f + 0.45f * gust_);
        float dropLeft = 0;
        float dropRight = 0;
        if (noise_.unit() < dropChance_) {
            const float a = 0.5f * noise_.unit();
            const float pan = noise_.unit();
            dropLeft = a * (1 - pan);
            dropRight = a * pan;
        }
        const float l = highLeft_.process(toneLeft_.process(pink(pinkLeft_, noise_.next())));
        const float r = highRight_.process(toneRight_.process(pink(pinkRight_, noise_.next())));
        left[i] += amount * (0.1f * l + dropLeft_.bandpass(dropLeft) * 0.5f);
        right[i] += amount * (0.1f * r + dropRight_.bandpass(dropRight) * 0.5f);
    }
}

} // namespace calmcove::musicgen
