#include "renderer.h"

#include "composer.h"
#include "drums.h"
#include "effects.h"
#include "instruments.h"
#include "loudness.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>

namespace calmcove::musicgen {

namespace {

constexpr int blockFrames = 256;

struct PartMix
{
    float gain;
    float reverb;
    float echo;
};

// Level and sends of each part (keys, pad, bass, lead, pluck, arp, bells) per kind.
std::array<PartMix, partCount> partMix(CalmKind kind)
{
    switch (kind) {
    case CalmKind::vaporwave:
        return {{{0.6f, 0.45f, 0.0f},
                 {0.5f, 0.5f, 0.0f},
                 {0.68f, 0.0f, 0.0f},
                 {0.7f, 0.6f, 0.15f},
                 {0.7f, 0.4f, 0.1f},
                 {0.5f, 0.3f, 0.3f},
                 {0.6f, 0.5f, 0.2f}}};
    case CalmKind::softGlitch:
        return {{{0.6f, 0.3f, 0.0f},
                 {0.6f, 0.35f, 0.0f},
                 {0.68f, 0.0f, 0.0f},
                 {0.6f, 0.35f, 0.2f},
                 {0.6f, 0.3f, 0.1f},
                 {0.5f, 0.3f, 0.3f},
                 {0.95f, 0.4f, 0.22f}}};
    case CalmKind::nightDrive:
        return {{{0.6f, 0.3f, 0.0f},
                 {0.7f, 0.4f, 0.0f},
                 {0.95f, 0.0f, 0.0f},
                 {0.7f, 0.35f, 0.28f},
                 {0.6f, 0.3f, 0.1f},
                 {0.78f, 0.25f, 0.32f},
                 {0.6f, 0.4f, 0.2f}}};
    case CalmKind::all:
    case CalmKind::dustyBeat:
        break;
    }
    return {{{1.0f, 0.22f, 0.0f},
             {0.55f, 0.35f, 0.0f},
             {0.72f, 0.0f, 0.0f},
             {0.75f, 0.35f, 0.12f},
             {0.85f, 0.3f, 0.1f},
             {0.55f, 0.3f, 0.3f},
             {0.6f, 0.4f, 0.2f}}};
}

struct DrumMix
{
    float gain;
    float reverb;
    double lowpassHz;
};

DrumMix drumMix(const Style& style)
{
    const double b = style.brightness;
    switch (style.kind) {
    case CalmKind::vaporwave:
        return {0.42f, 0.25f, 6000 + 4000 * b};
    case CalmKind::softGlitch:
        return {0.6f, 0.12f, 12000};
    case CalmKind::nightDrive:
        return {0.55f, 0.1f, 9000 + 4000 * b};
    case CalmKind::all:
    case CalmKind::dustyBeat:
        break;
    }
    return {0.64f, 0.06f, 8000 + 5000 * b};
}

// The finishing tone of the whole mix: where the highs roll off when fully open.
double masterCutoff(const Style& style)
{
    const double b = style.brightness;
    switch (style.kind) {
    case CalmKind::vaporwave:
        return 5500 + 5000 * b - 1500 * style.haze;
    case CalmKind::softGlitch:
        return 10000 + 6000 * b;
    case CalmKind::nightDrive:
        return 7000 + 6000 * b;
    case CalmKind::all:
    case CalmKind::dustyBeat:
        break;
    }
    return 6000 + 6000 * b;
}

double padCutoff(const Style& style)
{
    const double b = style.brightness;
    switch (style.kind) {
    case CalmKind::vaporwave:
        return 1000 + 1800 * b;
    case CalmKind::softGlitch:
        return 1400 + 1800 * b;
    case CalmKind::nightDrive:
        return 900 + 1500 * b;
    case CalmKind::all:
    case CalmKind::dustyBeat:
        break;
    }
    return 1200 + 1500 * b;
}

// A stereo bus buffer of one block.
struct Bus
{
    std::array<float, blockFrames> left{};
    std::array<float, blockFrames> right{};
    void clear()
    {
        left.fill(0.0f);
        right.fill(0.0f);
    }
};

class Mixer
{
public:
    Mixer(const TrackSpec& track, const Style& style, const Score& score)
        : style_(style), score_(score), parts_(partMix(style.kind)), drumMix_(drumMix(style)),
          drums_(style, hashText("drums", hashText(track.id))),
          reverb_(style.reverbSeconds, 4800 - 1500 * style.haze, 0.8 + 0.5 * style.haze,
                  0.02 + 0.02 * style.haze),
          echo_(0.75 * 60.0 / score.bpm, 0.35, 3000),
          wobble_(style.wobble, hashText("wobble", hashText(track.id))),
          keysTremolo_(style.kind == CalmKind::dustyBeat ? 4.2 : 3.0,
                       style.kind == CalmKind::dustyBeat ? 0.18 : 0.1),
          padChorus_(0.35, style.kind == CalmKind::vaporwave ? 5.0 : 3.5, 0.6),
          keysChorus_(0.5, 2.5, 0.45),
          crackle_(style.crackle,
                   static_cast<std::uint32_t>(hashText("crackle", hashText(track.id)))),
          rain_(style.rain * (0.8 + 0.2 * style.haze),
                static_cast<std::uint32_t>(hashText("rain", hashText(track.id)))),
          cutoff_(masterCutoff(style))
    {
        const auto seed = static_cast<std::uint32_t>(hashText("voices", hashText(track.id)));
        for (int p = 0; p < partCount; ++p) {
            if (!score.parts[p].empty())
                instruments_[static_cast<std::size_t>(p)] = makeInstrument(
                    static_cast<Part>(p), style, seed + static_cast<std::uint32_t>(p));
        }
        const double sendScale = style.reverbSend / 0.25;
        for (PartMix& mix : parts_)
            mix.reverb = static_cast<float>(mix.reverb * sendScale);
        drumMix_.reverb = static_cast<float>(drumMix_.reverb * sendScale);
        for (auto& filter : padFilters_)
            filter.set(padCutoff(style), 0.7);
        drumToneLeft_.setLowpass(drumMix_.lowpassHz, 0.7);
        drumToneRight_.setLowpass(drumMix_.lowpassHz, 0.7);
        for (Biquad& filter : dcFilters_)
            filter.setHighpass(28, 0.7);
        // Warm instruments leave the upper mids thin; a broad shelf restores presence.
        const double presence =
            (style.kind == CalmKind::dustyBeat ? 5.0 : 3.0) + 4.5 * style.brightness;
        presenceLeft_.setHighShelf(2200, presence);
        presenceRight_.setHighShelf(2200, presence);
        updateTone(0);
    }

    std::vector<float> render()
    {
        const std::int64_t frames = score_.frames;
        std::vector<float> out(static_cast<std::size_t>(frames * 2), 0.0f);
        for (std::int64_t start = 0; start < frames; start += blockFrames) {
            const int n = static_cast<int>(std::min<std::int64_t>(blockFrames, frames - start));
            renderBlock(start, n, out.data() + start * 2);
        }
        applyFades(out);
        return out;
    }

private:
    void updateTone(std::int64_t frame)
    {
        const double openness = automationAt(score_.openness, frame);
        const double cutoff = 500.0 * std::pow(cutoff_ / 500.0, openness);
        toneLeft_.setLowpass(cutoff, 0.6);
        toneRight_.setLowpass(cutoff, 0.6);
    }

    void renderBlock(std::int64_t start, int n, float* out)
    {
        for (Bus& bus : buses_)
            bus.clear();
        drumBus_.clear();
        music_.clear();
        send_.clear();
        echoSend_.clear();

        for (int p = 0; p < partCount; ++p) {
            auto& instrument = instruments_[static_cast<std::size_t>(p)];
            if (instrument) {
                Bus& bus = buses_[static_cast<std::size_t>(p)];
                instrument->render(score_.parts[p], start, n, bus.left.data(), bus.right.data());
            }
        }
        drums_.render(score_.drums, start, n, drumBus_.left.data(), drumBus_.right.data());

        Bus& keys = buses_[static_cast<int>(Part::keys)];
        keysTremolo_.process(keys.left.data(), keys.right.data(), n);
        if (style_.kind == CalmKind::vaporwave)
            keysChorus_.process(keys.left.data(), keys.right.data(), n);
        Bus& pad = buses_[static_cast<int>(Part::pad)];
        for (int i = 0; i < n; ++i) {
            pad.left[static_cast<std::size_t>(i)] = padFilters_[1].lowpass(
                padFilters_[0].lowpass(pad.left[static_cast<std::size_t>(i)]));
            pad.right[static_cast<std::size_t>(i)] = padFilters_[3].lowpass(
                padFilters_[2].lowpass(pad.right[static_cast<std::size_t>(i)]));
        }
        padChorus_.process(pad.left.data(), pad.right.data(), n);
        if (style_.kind == CalmKind::nightDrive) {
            ducker_.process(score_.drums, start, duck_.data(), n);
            for (const Part part : {Part::pad, Part::bass}) {
                Bus& bus = buses_[static_cast<int>(part)];
                for (int i = 0; i < n; ++i) {
                    bus.left[static_cast<std::size_t>(i)] *= duck_[static_cast<std::size_t>(i)];
                    bus.right[static_cast<std::size_t>(i)] *= duck_[static_cast<std::size_t>(i)];
                }
            }
        }
        Bus& bells = buses_[static_cast<int>(Part::bells)];
        stutter_.process(score_.stutters, start, bells.left.data(), bells.right.data(), n);
        for (int i = 0; i < n; ++i) {
            const auto k = static_cast<std::size_t>(i);
            drumBus_.left[k] = softClip(drumToneLeft_.process(drumBus_.left[k]) * drumMix_.gain);
            drumBus_.right[k] = softClip(drumToneRight_.process(drumBus_.right[k]) * drumMix_.gain);
        }

        for (int p = 0; p < partCount; ++p) {
            const PartMix& mix = parts_[static_cast<std::size_t>(p)];
            const Bus& bus = buses_[static_cast<std::size_t>(p)];
            for (int i = 0; i < n; ++i) {
                const auto k = static_cast<std::size_t>(i);
                music_.left[k] += mix.gain * bus.left[k];
                music_.right[k] += mix.gain * bus.right[k];
                send_.left[k] += mix.gain * mix.reverb * bus.left[k];
                send_.right[k] += mix.gain * mix.reverb * bus.right[k];
                echoSend_.left[k] += mix.gain * mix.echo * bus.left[k];
                echoSend_.right[k] += mix.gain * mix.echo * bus.right[k];
            }
        }
        for (int i = 0; i < n; ++i) {
            const auto k = static_cast<std::size_t>(i);
            music_.left[k] += drumBus_.left[k];
            music_.right[k] += drumBus_.right[k];
            send_.left[k] += drumMix_.reverb * drumBus_.left[k];
            send_.right[k] += drumMix_.reverb * drumBus_.right[k];
        }
        echoOut_.clear();
        echo_.process(echoSend_.left.data(), echoSend_.right.data(), echoOut_.left.data(),
                      echoOut_.right.data(), n);
        for (int i = 0; i < n; ++i) {
            // The echoes are heard both dry and through the room.
            const auto k = static_cast<std::size_t>(i);
            music_.left[k] += echoOut_.left[k];
            music_.right[k] += echoOut_.right[k];
            send_.left[k] += 0.5f * echoOut_.left[k];
            send_.right[k] += 0.5f * echoOut_.right[k];
        }
        reverb_.process(send_.left.data(), send_.right.data(), music_.left.data(),
                        music_.right.data(), n);
        if (style_.wobble > 0)
            wobble_.process(music_.left.data(), music_.right.data(), n);

        updateTone(start);
        const float bedGain =
            static_cast<float>(std::min(1.0, static_cast<double>(start) / (1.5 * sampleRate)));
        if (style_.crackle > 0)
            crackle_.process(music_.left.data(), music_.right.data(), n, bedGain);
        if (style_.rain > 0)
            rain_.process(music_.left.data(), music_.right.data(), n, bedGain);
        for (int i = 0; i < n; ++i) {
            const auto k = static_cast<std::size_t>(i);
            out[2 * i] = dcFilters_[1].process(
                dcFilters_[0].process(presenceLeft_.process(toneLeft_.process(music_.left[k]))));
            out[2 * i + 1] = dcFilters_[3].process(
                dcFilters_[2].process(presenceRight_.process(toneRight_.process(music_.right[k]))));
        }
    }

    // A short raised-cosine fade in, and the closing fade from fadeOutStart to silence at
    // the very last frame.
    void applyFades(std::vector<float>& out) const
    {
        const auto frames = static_cast<std::int64_t>(out.size() / 2);
        const std::int64_t fadeIn =
            std::min<std::int64_t>(frames / 2, static_cast<std::int64_t>(0.02 * sampleRate));
        for (std::int64_t i = 0; i < fadeIn; ++i) {
            const auto g = static_cast<float>(
                0.5 - 0.5 * std::cos(pi * static_cast<double>(i) / static_cast<double>(fadeIn)));
            out[static_cast<std::size_t>(2 * i)] *= g;
            out[static_cast<std::size_t>(2 * i + 1)] *= g;
        }
        const std::int64_t fadeStart =
            std::clamp<std::int64_t>(score_.fadeOutStart, fadeIn, frames - 1);
        const std::int64_t fadeLength = frames - 1 - fadeStart;
        for (std::int64_t i = fadeStart; i < frames; ++i) {
            const double t = fadeLength > 0 ? static_cast<double>(i - fadeStart) /
                                                  static_cast<double>(fadeLength)
                                            : 1.0;
            // Slow at first, then falling away: a listener hears the music recede.
            const auto g = static_cast<float>(std::pow(0.5 + 0.5 * std::cos(pi * t), 1.5));
            out[static_cast<std::size_t>(2 * i)] *= g;
            out[static_cast<std::size_t>(2 * i + 1)] *= g;
        }
    }

    const Style& style_;
    const Score& score_;
    std::array<PartMix, partCount> parts_;
    DrumMix drumMix_;
    std::array<std::unique_ptr<Instrument>, partCount> instruments_;
    DrumKit drums_;
    Reverb reverb_;
    Echo echo_;
    TapeWobble wobble_;
    Tremolo keysTremolo_;
    Chorus padChorus_;
    Chorus keysChorus_;
    Stutter stutter_;
    KickDucker ducker_{0.3, 0.16};
    std::array<float, blockFrames> duck_{};
    VinylCrackle crackle_;
    RainBed rain_;
    double cutoff_;
    std::array<StateVariableFilter, 4> padFilters_;
    Biquad drumToneLeft_, drumToneRight_;
    Biquad toneLeft_, toneRight_;
    Biquad presenceLeft_, presenceRight_;
    std::array<Biquad, 4> dcFilters_;
    std::array<Bus, partCount> buses_;
    Bus drumBus_, music_, send_, echoSend_, echoOut_;
};

} // namespace

std::vector<float> renderScore(const TrackSpec& track, const Style& style, const Score& score)
{
    Mixer mixer(track, style, score);
    return mixer.render();
}

std::vector<float> renderMix(const TrackSpec& track, double durationSeconds)
{
    const Style style = styleFor(track);
    Composer composer(track, style, durationSeconds);
    const Score score = composer.compose();
    return renderScore(track, composer.style(), score);
}

Rendering renderTrack(const TrackSpec& track, const RenderOptions& options)
{
    const double duration =
        options.durationSeconds > 0 ? options.durationSeconds : track.durationSeconds;
    Rendering rendering;
    rendering.samples = renderMix(track, duration);
    const MasteringResult result =
        master(rendering.samples, options.targetLufs, options.ceilingDbtp);
    rendering.loudness = result.loudness;
    rendering.truePeak = result.truePeak;
    return rendering;
}

} // namespace calmcove::musicgen
