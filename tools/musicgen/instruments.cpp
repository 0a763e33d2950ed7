#include "instruments.h"

#include "dsp.h"
#include "random.h"

#include <algorithm>
#include <array>

namespace calmcove::musicgen {

namespace {

constexpr float twoPi = 6.2831853f;
constexpr float inverseTwoPi = 1.0f / twoPi;

// What every voice shares: a start offset inside the first block, a countdown to the
// key release, an amplitude envelope and stereo gains.
struct VoiceState
{
    int delay = 0;
    std::int64_t held = 0; // frames until release
    Envelope envelope;
    PanGains pan;
    float gain = 0;

    void begin(const NoteEvent& event, int offset, float amplitude)
    {
        delay = offset;
        held = std::max<std::int64_t>(1, event.length);
        pan = PanGains::at(event.pan);
        gain = amplitude;
        envelope.start();
    }
    // The first frame of this block the voice sounds in.
    int firstFrame()
    {
        const int first = delay;
        delay = 0;
        return first;
    }
    // Advances the envelope by one frame, releasing the key when its time has come.
    float step()
    {
        if (held > 0 && --held == 0)
            envelope.release();
        return envelope.next();
    }
    bool active() const { return envelope.active(); }
};

// Tone settings shared by the voices of one instrument.
struct Tone
{
    float brightness = 0.5f;
    float decay = 2.5f;       // seconds to -60 dB at middle C (struck sounds)
    float attack = 0.01f;     // seconds
    float release = 0.3f;     // seconds
    float detune = 0.0f;      // cents
    float cutoff = 1000;      // Hz
    float filterEnvelope = 0; // Hz added at the attack, decaying
    float filterDecay = 0.2f; // seconds
    float harmonics = 0;      // 0 … 1 extra overtones
    float ratio = 1;          // FM modulator ratio
    float index = 1;          // FM index at full velocity
    float vibrato = 0;        // cents
    LeadTimbre timbre = LeadTimbre::mellow;
};

// One-pole low-pass coefficient for a cutoff, cheap enough per sample below 5 kHz.
inline float onePoleCoefficient(float hz)
{
    const float x = std::min(twoPi * hz / static_cast<float>(sampleRate), 1.2f);
    return x * (1.0f - 0.5f * x + x * x * (1.0f / 6.0f));
}

// A Rhodes-like electric piano: a 1:1 FM pair whose index falls after the strike, plus a
// quickly fading high tine partial. Low notes ring longer than high ones.
struct ElectricPianoVoice
{
    VoiceState state;
    std::uint32_t carrier = 0, modulator = 0, tine = 0;
    std::uint32_t carrierStep = 0, modulatorStep = 0, tineStep = 0;
    float index = 0, indexFloor = 0, indexDecay = 1;
    float tineLevel = 0, tineDecay = 0;

    void start(const NoteEvent& e, const Tone& tone, int offset, FastNoise&)
    {
        const double hz = midiToHz(e.pitch);
        carrierStep = phaseIncrement(hz);
        // Exactly 1:1: a detuned modulator would put a sideband near 0 Hz.
        modulatorStep = carrierStep;
        tineStep = phaseIncrement(hz * 14.0);
        carrier = modulator = tine = 0;
        const float v = e.velocity;
        index = v * (2.4f + 2.8f * tone.brightness);
        indexFloor = 0.45f + 0.45f * tone.brightness;
        indexDecay = decayCoefficient(1.2);
        tineLevel = v * v * (0.16f + 0.22f * tone.brightness);
        tineDecay = decayCoefficient(0.7);
        const double ring = tone.decay * std::exp2(-(e.pitch - 60.0) / 18.0);
        state.envelope.configure(0.0025, ring, 0.0, tone.release);
        const float scaling = 1.0f - std::clamp((e.pitch - 60.0f) * 0.012f, -0.2f, 0.35f);
        state.begin(e, offset, 0.44f * std::pow(v, 1.3f) * scaling);
    }

    void render(const Tone&, float* left, float* right, int frames)
    {
        const SineTable& sine = SineTable::instance();
        for (int i = state.firstFrame(); i < frames; ++i) {
            const float env = state.step();
            if (!state.active())
                break;
            const float mod = sine(modulator) * (indexFloor + index) * inverseTwoPi;
            index *= indexDecay;
            float y = sine(carrier + turnsToPhase(mod)) + tineLevel * sine(tine);
            tineLevel *= tineDecay;
            carrier += carrierStep;
            modulator += modulatorStep;
            tine += tineStep;
            y *= env * state.gain;
            left[i] += y * state.pan.left;
            right[i] += y * state.pan.right;
        }
    }
};

// Three detuned band-limited saws spread across the stereo field; the pad bus filters them.
struct PadVoice
{
    VoiceState state;
    std::array<std::uint32_t, 3> phase{};
    std::array<std::uint32_t, 3> increment{};

    void start(const NoteEvent& e, const Tone& tone, int offset, FastNoise& noise)
    {
        for (int k = 0; k < 3; ++k) {
            const double cents = (k - 1) * tone.detune;
            increment[static_cast<std::size_t>(k)] =
                phaseIncrement(midiToHz(e.pitch + cents / 100.0));
            phase[static_cast<std::size_t>(k)] = noise.nextBits();
        }
        state.envelope.configure(tone.attack, 4.0, 0.8, tone.release);
        state.begin(e, offset, 0.25f * e.velocity);
    }

    void render(const Tone&, float* left, float* right, int frames)
    {
        for (int i = state.firstFrame(); i < frames; ++i) {
            const float env = state.step();
            if (!state.active())
                break;
            const float a = sawAt(phase[0], increment[0]);
            const float b = sawAt(phase[1], increment[1]);
            const float c = sawAt(phase[2], increment[2]);
            phase[0] += increment[0];
            phase[1] += increment[1];
            phase[2] += increment[2];
            const float g = env * state.gain;
            left[i] += g * state.pan.left * (0.62f * a + 0.45f * b + 0.2f * c);
            right[i] += g * state.pan.right * (0.2f * a + 0.45f * b + 0.62f * c);
        }
    }
};

// A round bass: a sine with a measure of filtered saw for edge, gently saturated.
struct BassVoice
{
    VoiceState state;
    std::uint32_t phase = 0, increment = 0;
    float lowpass = 0, lowpass2 = 0;
    float filterEnvelope = 0, filterDecay = 0;

    void start(const NoteEvent& e, const Tone& tone, int offset, FastNoise&)
    {
        increment = phaseIncrement(midiToHz(e.pitch));
        phase = 0;
        filterEnvelope = tone.filterEnvelope * e.velocity;
        filterDecay = decayCoefficient(tone.filterDecay);
        state.envelope.configure(0.006, tone.decay, 0.55, 0.07);
        state.begin(e, offset, 0.42f * e.velocity);
    }

    void render(const Tone& tone, float* left, float* right, int frames)
    {
        const SineTable& sine = SineTable::instance();
        for (int i = state.firstFrame(); i < frames; ++i) {
            const float env = state.step();
            if (!state.active())
                break;
            const float body = sine(phase);
            const float edge = sawAt(phase, increment);
            phase += increment;
            const float c = onePoleCoefficient(tone.cutoff + filterEnvelope);
            filterEnvelope *= filterDecay;
            lowpass += c * (edge - lowpass);
            lowpass2 += c * (lowpass - lowpass2);
            const float y =
                softClip(1.4f * (body + tone.harmonics * lowpass2)) * (env * state.gain);
            left[i] += y * state.pan.left;
            right[i] += y * state.pan.right;
        }
    }
};

// A soft lead: a breathy low-index FM tone (mellow) or two detuned filtered saws (synth),
// with vibrato that grows in after the attack.
struct LeadVoice
{
    VoiceState state;
    std::uint32_t phase = 0, phase2 = 0, lfo = 0;
    float increment = 0, lfoStep = 0;
    float vibratoDepth = 0, vibratoRamp = 0, vibratoStep = 0;
    float lowpass = 0, lowpass2 = 0;

    void start(const NoteEvent& e, const Tone& tone, int offset, FastNoise& noise)
    {
        increment = static_cast<float>(phaseIncrement(midiToHz(e.pitch)));
        lfo = noise.nextBits();
        lfoStep = static_cast<float>(phaseIncrement(5.0));
        vibratoDepth = tone.vibrato / 1731.2f; // cents to a frequency ratio offset
        vibratoRamp = 0;
        vibratoStep = 1.0f / (0.35f * sampleRate);
        state.envelope.configure(tone.attack, 3.0, 0.7, tone.release);
        state.begin(e, offset, (tone.timbre == LeadTimbre::synth ? 0.28f : 0.32f) * e.velocity);
    }

    void render(const Tone& tone, float* left, float* right, int frames)
    {
        const SineTable& sine = SineTable::instance();
        const float c = onePoleCoefficient(tone.cutoff);
        const bool synth = tone.timbre == LeadTimbre::synth;
        const auto detune = static_cast<float>(tone.detune / 1731.2f);
        for (int i = state.firstFrame(); i < frames; ++i) {
            const float env = state.step();
            if (!state.active())
                break;
            vibratoRamp = std::min(1.0f, vibratoRamp + vibratoStep);
            const float wobble = 1.0f + vibratoDepth * vibratoRamp * sine(lfo);
            lfo += static_cast<std::uint32_t>(lfoStep);
            const auto step = static_cast<std::uint32_t>(increment * wobble);
            float y;
            if (synth) {
                const auto step2 = static_cast<std::uint32_t>(increment * wobble * (1.0f + detune));
                const float raw = sawAt(phase, step) + sawAt(phase2, step2);
                phase2 += step2;
                lowpass += c * (raw - lowpass);
                lowpass2 += c * (lowpass - lowpass2);
                y = lowpass2;
            } else {
                const float mod =
                    sine(phase) * (0.7f + 0.7f * tone.brightness) * env * inverseTwoPi;
                y = sine(phase + turnsToPhase(mod));
            }
            phase += step;
            y *= env * state.gain;
            left[i] += y * state.pan.left;
            right[i] += y * state.pan.right;
        }
    }
};

// A nylon-like plucked string (Karplus–Strong): a burst of filtered noise circulating in
// a tuned delay loop that loses its highs a little on every pass.
struct PluckVoice
{
    static constexpr int capacity = 2048;
    VoiceState state;
    std::array<float, capacity> loop{};
    int write = 0;
    float delay = 100;
    float feedback = 0.99f;
    float previous = 0;
    float body = 0;

    void start(const NoteEvent& e, const Tone& tone, int offset, FastNoise& noise)
    {
        const double hz = midiToHz(e.pitch);
        delay = static_cast<float>(std::clamp(sampleRate / hz - 0.5, 2.0, capacity - 4.0));
        const double ring = tone.decay * std::exp2(-(e.pitch - 60.0) / 24.0);
        feedback = static_cast<float>(std::pow(10.0, -3.0 / (ring * hz)));
        // Excite with softened noise: a duller pick for low velocities.
        float smooth = 0;
        const float softness = 0.25f + 0.5f * tone.brightness * e.velocity;
        const int length = static_cast<int>(delay) + 2;
        for (int k = 0; k < capacity; ++k)
            loop[static_cast<std::size_t>(k)] = 0;
        for (int k = 0; k < length; ++k) {
            smooth += softness * (noise.next() - smooth);
            loop[static_cast<std::size_t>(k)] = smooth;
        }
        write = length;
        previous = 0;
        body = 0;
        state.envelope.configure(0.001, 30.0, 1.0, tone.release);
        state.begin(e, offset, 0.55f * e.velocity);
    }

    void render(const Tone&, float* left, float* right, int frames)
    {
        const int whole = static_cast<int>(delay);
        const float fraction = delay - static_cast<float>(whole);
        for (int i = state.firstFrame(); i < frames; ++i) {
            const float env = state.step();
            if (!state.active())
                break;
            const int a = (write - whole + capacity) & (capacity - 1);
            const int b = (a - 1 + capacity) & (capacity - 1);
            const float x = loop[static_cast<std::size_t>(a)] * (1 - fraction) +
                            loop[static_cast<std::size_t>(b)] * fraction;
            const float y = feedback * 0.5f * (x + previous);
            previous = x;
            loop[static_cast<std::size_t>(write)] = y;
            write = (write + 1) & (capacity - 1);
            body += 0.35f * (y - body);
            const float out = body * env * state.gain;
            left[i] += out * state.pan.left;
            right[i] += out * state.pan.right;
        }
    }
};

// FM bells and kalimba-like plucks: a non-integer modulator ratio gives the bell.
struct BellVoice
{
    VoiceState state;
    std::uint32_t carrier = 0, modulator = 0, carrierStep = 0, modulatorStep = 0;
    float index = 0, indexDecay = 1;

    void start(const NoteEvent& e, const Tone& tone, int offset, FastNoise&)
    {
        const double hz = midiToHz(e.pitch);
        carrierStep = phaseIncrement(hz);
        modulatorStep = phaseIncrement(hz * tone.ratio);
        carrier = modulator = 0;
        index = tone.index * (0.4f + 0.6f * e.velocity);
        indexDecay = decayCoefficient(0.5);
        const double ring = tone.decay * std::exp2(-(e.pitch - 72.0) / 18.0);
        state.envelope.configure(0.0015, ring, 0.0, tone.release);
        state.begin(e, offset, 0.26f * e.velocity);
    }

    void render(const Tone&, float* left, float* right, int frames)
    {
        const SineTable& sine = SineTable::instance();
        for (int i = state.firstFrame(); i < frames; ++i) {
            const float env = state.step();
            if (!state.active())
                break;
            const float mod = sine(modulator) * index * inverseTwoPi;
            index *= indexDecay;
            const float y = sine(carrier + turnsToPhase(mod)) * env * state.gain;
            carrier += carrierStep;
            modulator += modulatorStep;
            left[i] += y * state.pan.left;
            right[i] += y * state.pan.right;
        }
    }
};

// A short filtered saw pluck for arpeggios.
struct ArpVoice
{
    VoiceState state;
    std::uint32_t phase = 0, increment = 0;
    float lowpass = 0, lowpass2 = 0;
    float filterEnvelope = 0, filterDecay = 0;

    void start(const NoteEvent& e, const Tone& tone, int offset, FastNoise& noise)
    {
        increment = phaseIncrement(midiToHz(e.pitch));
        phase = noise.nextBits();
        filterEnvelope = tone.filterEnvelope * e.velocity;
        filterDecay = decayCoefficient(tone.filterDecay);
        state.envelope.configure(0.003, tone.decay, 0.0, 0.08);
        state.begin(e, offset, 0.6f * e.velocity);
    }

    void render(const Tone& tone, float* left, float* right, int frames)
    {
        for (int i = state.firstFrame(); i < frames; ++i) {
            const float env = state.step();
            if (!state.active())
                break;
            const float raw = sawAt(phase, increment);
            phase += increment;
            const float c = onePoleCoefficient(tone.cutoff + filterEnvelope);
            filterEnvelope *= filterDecay;
            lowpass += c * (raw - lowpass);
            lowpass2 += c * (lowpass - lowpass2);
            const float y = lowpass2 * env * state.gain;
            left[i] += y * state.pan.left;
            right[i] += y * state.pan.right;
        }
    }
};

template <typename Voice, int Capacity> class VoicePool final : public Instrument
{
public:
    VoicePool(const Tone& tone, std::uint32_t seed) : tone_(tone), noise_(seed) {}

    void render(const std::vector<NoteEvent>& events, std::int64_t blockStart, int frames,
                float* left, float* right) override
    {
        while (next_ < events.size() && events[next_].start < blockStart + frames) {
            const NoteEvent& event = events[next_++];
            const int offset =
                static_cast<int>(std::max<std::int64_t>(0, event.start - blockStart));
            // A voice started in this block renders from its offset on; one that ended
            // earlier in the block has already been mixed.
            free().start(event, tone_, offset, noise_);
        }
        for (Voice& voice : voices_) {
            if (voice.state.active())
                voice.render(tone_, left, right, frames);
        }
    }

private:
    // An idle voice, or else the quietest one.
    Voice& free()
    {
        Voice* quietest = &voices_[0];
        for (Voice& voice : voices_) {
            if (!voice.state.active())
                return voice;
            if (voice.state.envelope.level * voice.state.gain <
                quietest->state.envelope.level * quietest->state.gain)
                quietest = &voice;
        }
        return *quietest;
    }

    Tone tone_;
    FastNoise noise_;
    std::array<Voice, Capacity> voices_{};
    std::size_t next_ = 0;
};

} // namespace

std::unique_ptr<Instrument> makeInstrument(Part part, const Style& style, std::uint32_t seed)
{
    Tone tone;
    const auto bright = static_cast<float>(style.brightness);
    const auto haze = static_cast<float>(style.haze);
    tone.brightness = bright;
    switch (part) {
    case Part::keys:
        tone.decay = 3.2f + 1.5f * haze;
        tone.release = style.kind == CalmKind::vaporwave ? 0.9f : 0.35f;
        tone.brightness = style.kind == CalmKind::vaporwave ? 0.6f * bright : bright;
        return std::make_unique<VoicePool<ElectricPianoVoice, 16>>(tone, seed);
    case Part::pad:
        tone.detune = style.kind == CalmKind::vaporwave ? 14.0f : 8.0f;
        tone.attack = style.kind == CalmKind::nightDrive ? 0.5f : 0.9f + 0.9f * haze;
        tone.release = 1.6f + 1.4f * haze;
        return std::make_unique<VoicePool<PadVoice, 12>>(tone, seed);
    case Part::bass:
        if (style.kind == CalmKind::nightDrive) {
            tone.harmonics = 0.55f;
            tone.cutoff = 260 + 260 * bright;
            tone.filterEnvelope = 900 + 600 * bright;
            tone.filterDecay = 0.18f;
            tone.decay = 0.5f;
        } else {
            tone.harmonics = 0.18f;
            tone.cutoff = 380 + 300 * bright;
            tone.filterEnvelope = 300;
            tone.filterDecay = 0.12f;
            tone.decay = style.kind == CalmKind::vaporwave ? 4.0f : 1.6f;
        }
        return std::make_unique<VoicePool<BassVoice, 4>>(tone, seed);
    case Part::lead:
        tone.timbre = style.lead == LeadTimbre::synth ? LeadTimbre::synth : LeadTimbre::mellow;
        tone.attack = style.kind == CalmKind::vaporwave ? 0.12f : 0.04f;
        tone.release = style.kind == CalmKind::vaporwave ? 0.6f : 0.25f;
        tone.vibrato = 14;
        tone.detune = 7;
        tone.cutoff = 1100 + 1300 * bright;
        return std::make_unique<VoicePool<LeadVoice, 6>>(tone, seed);
    case Part::pluck:
        tone.decay = 2.2f;
        tone.release = 0.18f;
        return std::make_unique<VoicePool<PluckVoice, 6>>(tone, seed);
    case Part::arp:
        tone.cutoff = 500 + 500 * bright;
        tone.filterEnvelope = 1400 + 1400 * bright;
        tone.filterDecay = 0.12f;
        tone.decay = 0.45f;
        return std::make_unique<VoicePool<ArpVoice, 8>>(tone, seed);
    case Part::bells:
        tone.ratio = (seed & 1u) ? 3.5f : 2.0f;
        tone.index = 1.2f + 1.2f * bright;
        tone.decay = 1.6f;
        tone.release = 0.9f;
        return std::make_unique<VoicePool<BellVoice, 16>>(tone, seed);
    }
    return nullptr;
}

} // namespace calmcove::musicgen
