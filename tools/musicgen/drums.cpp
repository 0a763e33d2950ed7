#include "drums.h"

#include "dsp.h"
#include "random.h"

#include <algorithm>
#include <cmath>

namespace calmcove::musicgen {

namespace {

using Sample = std::vector<float>;

int framesFor(double seconds)
{
    return static_cast<int>(seconds * sampleRate);
}

// Scales a sample to a peak and shapes its edges: a short rise (1 ms unless given) so a
// hit never starts on a step, and a 10 ms fade to exactly zero so playback never stops on one.
void finish(Sample& sample, float peak, double riseSeconds = 0.001)
{
    float largest = 0;
    for (const float x : sample)
        largest = std::max(largest, std::abs(x));
    const float scale = largest > 0 ? peak / largest : 0;
    const auto size = static_cast<int>(sample.size());
    const int rise = std::min(size / 4, std::max(2, framesFor(riseSeconds)));
    const int fade = std::min(size / 2, framesFor(0.01));
    for (int i = 0; i < size; ++i) {
        float g = scale;
        if (i < rise)
            g *= static_cast<float>(0.5 - 0.5 * std::cos(pi * i / rise));
        const int fromEnd = size - 1 - i;
        if (fromEnd < fade)
            g *= static_cast<float>(fromEnd) / static_cast<float>(fade);
        sample[static_cast<std::size_t>(i)] *= g;
    }
}

Sample kick(Random& random, const Style& style)
{
    Sample s(static_cast<std::size_t>(framesFor(0.55)));
    const double startHz = random.uniform(105, 135);
    const double endHz = random.uniform(46, 56);
    const double body = style.kind == CalmKind::dustyBeat ? 0.2 : 0.26;
    FastNoise noise(static_cast<std::uint32_t>(random.next()));
    OnePoleLowpass clickFilter;
    clickFilter.setCutoff(2500);
    double phase = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const double t = static_cast<double>(i) / sampleRate;
        const double hz = endHz + (startHz - endHz) * std::exp(-t / 0.03);
        phase += 2 * pi * hz / sampleRate;
        const double tone = std::sin(phase) * std::exp(-t / body) * std::min(1.0, t / 0.0008);
        const double click = clickFilter.process(noise.next()) * std::exp(-t / 0.004) * 0.5;
        s[i] = softClip(static_cast<float>(1.5 * (tone + click)));
    }
    finish(s, 1.0f);
    return s;
}

// Filtered noise with a decay; the workhorse of snares, hats and shakers.
Sample noiseHit(Random& random, double seconds, double attack, double decay, double bandHz,
                double q, double highpassHz)
{
    Sample s(static_cast<std::size_t>(framesFor(seconds)));
    FastNoise noise(static_cast<std::uint32_t>(random.next()));
    StateVariableFilter band;
    band.set(bandHz, q);
    Biquad highpass;
    highpass.setHighpass(highpassHz, 0.7);
    for (std::size_t i = 0; i < s.size(); ++i) {
        const double t = static_cast<double>(i) / sampleRate;
        const double env = std::min(1.0, t / attack) * std::exp(-t / decay);
        s[i] = highpass.process(band.bandpass(noise.next())) * static_cast<float>(env);
    }
    return s;
}

Sample snare(Random& random, const Style& style, int variant)
{
    Sample s = noiseHit(random, 0.45, 0.0008, 0.085 + 0.02 * variant, random.uniform(2200, 3200),
                        0.6, 600);
    const double hz = random.uniform(175, 205);
    double phase = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const double t = static_cast<double>(i) / sampleRate;
        phase += 2 * pi * (hz + 60 * std::exp(-t / 0.01)) / sampleRate;
        s[i] = 0.8f * s[i] + 0.5f * static_cast<float>(std::sin(phase) * std::exp(-t / 0.05) *
                                                       std::min(1.0, t / 0.0008));
    }
    // Dusty snares lose their top end like a sampled record.
    OnePoleLowpass tone;
    tone.setCutoff(style.kind == CalmKind::dustyBeat ? 7000 : 9000);
    for (float& x : s)
        x = tone.process(x);
    finish(s, 0.9f);
    return s;
}

Sample rim(Random& random, int variant)
{
    Sample s(static_cast<std::size_t>(framesFor(0.12)));
    const double hz = random.uniform(480, 560) * (variant ? 1.03 : 1.0);
    Sample click = noiseHit(random, 0.12, 0.0003, 0.008, 3200, 1.2, 1500);
    for (std::size_t i = 0; i < s.size(); ++i) {
        const double t = static_cast<double>(i) / sampleRate;
        const double wood = std::sin(2 * pi * hz * t) * std::exp(-t / 0.025) +
                            0.4 * std::sin(2 * pi * hz * 3.1 * t) * std::exp(-t / 0.01);
        s[i] = static_cast<float>(0.6 * wood * std::min(1.0, t / 0.0005)) + click[i];
    }
    finish(s, 0.75f);
    return s;
}

Sample brush(Random& random, int variant)
{
    Sample s = noiseHit(random, 0.35, 0.012, 0.1 + 0.03 * variant, 3500, 0.5, 900);
    OnePoleLowpass tone;
    tone.setCutoff(7000);
    for (float& x : s)
        x = tone.process(x);
    finish(s, 0.6f);
    return s;
}

// Inharmonic square partials through a high-pass: the metallic shimmer of a hat.
Sample hat(Random& random, double decay, int variant)
{
    Sample s(static_cast<std::size_t>(framesFor(decay * 6)));
    const double ratios[] = {1.0, 1.483, 1.932, 2.546, 2.63, 3.897};
    const double base = random.uniform(300, 360);
    FastNoise noise(static_cast<std::uint32_t>(random.next()));
    Biquad highpass;
    highpass.setHighpass(7000, 0.7);
    Biquad highpass2;
    highpass2.setHighpass(7000, 0.7);
    OnePoleLowpass soft;
    soft.setCutoff(variant ? 9000 : 12000);
    for (std::size_t i = 0; i < s.size(); ++i) {
        const double t = static_cast<double>(i) / sampleRate;
        double metal = 0;
        for (const double r : ratios)
            metal += std::sin(2 * pi * base * r * t) > 0 ? 1 : -1;
        const double raw = 0.5 * metal / 6 + 0.6 * noise.next();
        const double env = std::exp(-t / decay) * std::min(1.0, t / 0.0005);
        s[i] = soft.process(highpass2.process(highpass.process(static_cast<float>(raw * env))));
    }
    finish(s, variant ? 0.5f : 0.62f);
    return s;
}

Sample clap(Random& random, int variant)
{
    Sample s(static_cast<std::size_t>(framesFor(0.4)));
    Sample noise = noiseHit(random, 0.4, 0.0003, 10.0, random.uniform(1100, 1500), 1.1, 400);
    const double bursts[] = {0.0, 0.011, 0.023 + 0.003 * variant};
    for (std::size_t i = 0; i < s.size(); ++i) {
        const double t = static_cast<double>(i) / sampleRate;
        double env = 0;
        for (const double b : bursts) {
            if (t >= b)
                env = std::max(env, std::exp(-(t - b) / 0.006));
        }
        if (t >= bursts[2])
            env = std::max(env, 0.6 * std::exp(-(t - bursts[2]) / 0.09));
        s[i] = noise[i] * static_cast<float>(env);
    }
    finish(s, 0.7f);
    return s;
}

// A ringing tick from a resonant filter struck by an impulse: digital, but soft.
Sample click(double hz)
{
    Sample s(static_cast<std::size_t>(framesFor(0.04)));
    StateVariableFilter ring;
    ring.set(hz, 6);
    for (std::size_t i = 0; i < s.size(); ++i) {
        const float impulse = i < 3 ? 1.0f : 0.0f;
        const double t = static_cast<double>(i) / sampleRate;
        s[i] = ring.bandpass(impulse) * static_cast<float>(std::exp(-t / 0.006));
    }
    finish(s, 0.35f, 0.0002); // a tick must stay sharp, just not a step
    return s;
}

Sample blip(double hz)
{
    Sample s(static_cast<std::size_t>(framesFor(0.09)));
    double phase = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const double t = static_cast<double>(i) / sampleRate;
        phase += 2 * pi * hz * (1 + 0.06 * std::exp(-t / 0.01)) / sampleRate;
        s[i] =
            static_cast<float>(std::sin(phase) * std::exp(-t / 0.025) * std::min(1.0, t / 0.002));
    }
    finish(s, 0.3f);
    return s;
}

} // namespace

DrumKit::DrumKit(const Style& style, std::uint64_t seed)
{
    Random random(seed);
    auto& kit = samples_;
    kit[static_cast<int>(DrumSound::kick)] = {kick(random, style)};
    kit[static_cast<int>(DrumSound::snare)] = {snare(random, style, 0), snare(random, style, 1)};
    kit[static_cast<int>(DrumSound::rim)] = {rim(random, 0), rim(random, 1)};
    kit[static_cast<int>(DrumSound::brush)] = {brush(random, 0), brush(random, 1)};
    kit[static_cast<int>(DrumSound::closedHat)] = {hat(random, 0.022, 0), hat(random, 0.014, 1)};
    kit[static_cast<int>(DrumSound::openHat)] = {hat(random, 0.16, 0)};
    Sample shaker1 = noiseHit(random, 0.2, 0.006, 0.035, 6500, 1.0, 3000);
    Sample shaker2 = noiseHit(random, 0.2, 0.01, 0.045, 5800, 1.0, 3000);
    finish(shaker1, 0.35f);
    finish(shaker2, 0.3f);
    kit[static_cast<int>(DrumSound::shaker)] = {shaker1, shaker2};
    kit[static_cast<int>(DrumSound::clap)] = {clap(random, 0), clap(random, 1)};
    auto& clicks = kit[static_cast<int>(DrumSound::click)];
    for (const double hz : {1500.0, 2100.0, 2900.0, 3700.0, 4800.0, 6200.0})
        clicks.push_back(click(hz * random.uniform(0.95, 1.05)));
    auto& blips = kit[static_cast<int>(DrumSound::blip)];
    for (const double hz : {1760.0, 2349.0, 2637.0, 3136.0})
        blips.push_back(blip(hz));
}

const std::vector<float>& DrumKit::sample(DrumSound sound, int variant) const
{
    const auto& takes = samples_[static_cast<std::size_t>(sound)];
    return takes[static_cast<std::size_t>(variant) % takes.size()];
}

void DrumKit::render(const std::vector<DrumHit>& hits, std::int64_t blockStart, int frames,
                     float* left, float* right)
{
    while (next_ < hits.size() && hits[next_].start < blockStart + frames) {
        const DrumHit& hit = hits[next_++];
        const std::vector<float>& data = sample(hit.sound, hit.variant);
        // The voice that has played longest relative to its length is the one to reuse.
        Voice* target = &voices_[0];
        for (Voice& voice : voices_) {
            if (voice.data == nullptr) {
                target = &voice;
                break;
            }
            if (voice.length - voice.position < target->length - target->position)
                target = &voice;
        }
        const PanGains pan = PanGains::at(hit.pan);
        const float gain = hit.velocity * hit.velocity;
        *target = Voice{data.data(),
                        static_cast<int>(data.size()),
                        0,
                        static_cast<int>(std::max<std::int64_t>(0, hit.start - blockStart)),
                        gain * pan.left,
                        gain * pan.right};
    }
    for (Voice& voice : voices_) {
        if (voice.data == nullptr)
            continue;
        const int first = voice.delay;
        voice.delay = 0;
        const int count = std::min(frames - first, voice.length - voice.position);
        const float* source = voice.data + voice.position;
        for (int i = 0; i < count; ++i) {
            left[first + i] += source[i] * voice.left;
            right[first + i] += source[i] * voice.right;
        }
        voice.position += count;
        if (voice.position >= voice.length)
            voice.data = nullptr;
    }
}

} // namespace calmcove::musicgen
