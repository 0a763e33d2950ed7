#include "style.h"

#include "random.h"

#include <algorithm>

namespace calmcove::musicgen {

namespace {

// What one mood asks of the sound; a piece averages its two moods.
struct MoodColour
{
    double tempo; // multiplier of the kind's tempo
    double brightness;
    double haze;
    double energy;
    double minorChance;
    double crackle;
    double rain;
};

MoodColour colourOf(Mood mood)
{
    switch (mood) {
    case Mood::focus:
        return {1.00, 0.50, 0.30, 0.50, 0.40, 0.35, 0.0};
    case Mood::cozy:
        return {0.96, 0.45, 0.35, 0.45, 0.20, 0.80, 0.0};
    case Mood::rainy:
        return {0.93, 0.32, 0.80, 0.35, 0.65, 0.40, 1.0};
    case Mood::night:
        return {0.96, 0.25, 0.55, 0.45, 0.80, 0.30, 0.0};
    case Mood::sleepy:
        return {0.84, 0.18, 0.65, 0.12, 0.50, 0.30, 0.0};
    case Mood::boost:
        return {1.12, 0.82, 0.20, 0.85, 0.15, 0.20, 0.0};
    }
    return {1, 0.5, 0.3, 0.5, 0.5, 0.3, 0};
}

} // namespace

Style styleFor(const TrackSpec& track)
{
    Random random = Random::stream(track.id, "style");
    Style style;
    style.kind = track.kind;

    MoodColour mix{0, 0, 0, 0, 0, 0, 0};
    const double count = std::max<std::size_t>(1, track.moods.size());
    for (const Mood mood : track.moods) {
        const MoodColour c = colourOf(mood);
        mix.tempo += c.tempo / count;
        mix.brightness += c.brightness / count;
        mix.haze += c.haze / count;
        mix.energy += c.energy / count;
        mix.minorChance += c.minorChance / count;
        mix.crackle += c.crackle / count;
        mix.rain = std::max(mix.rain, c.rain);
    }
    if (track.moods.empty())
        mix = {1, 0.5, 0.3, 0.5, 0.4, 0.3, 0};

    style.brightness = std::clamp(mix.brightness + random.uniform(-0.06, 0.06), 0.0, 1.0);
    style.haze = std::clamp(mix.haze + random.uniform(-0.05, 0.05), 0.0, 1.0);
    style.energy = std::clamp(mix.energy + random.uniform(-0.05, 0.05), 0.0, 1.0);
    style.minor = random.chance(mix.minorChance);
    style.rain = mix.rain;

    double baseBpm = 80;
    switch (track.kind) {
    case CalmKind::all:
    case CalmKind::dustyBeat:
        baseBpm = random.uniform(76, 86);
        style.swing = random.uniform(0.56, 0.62);
        style.crackle = 0.55 + 0.45 * mix.crackle;
        style.wobble = 0.55 + 0.2 * style.haze;
        style.reverbSeconds = 1.6 + 1.2 * style.haze;
        style.reverbSend = 0.14 + 0.12 * style.haze;
        style.chordBars = 1;
        style.lead = random.pick(std::vector{LeadTimbre::pluck, LeadTimbre::mellow,
                                             LeadTimbre::electricPiano, LeadTimbre::pluck});
        style.backbeat = style.energy < 0.3
                             ? BackbeatSound::brush
                             : random.pick(std::vector{BackbeatSound::snare, BackbeatSound::rim,
                                                       BackbeatSound::snare});
        break;
    case CalmKind::vaporwave:
        baseBpm = random.uniform(66, 76);
        style.swing = 0.5;
        style.crackle = 0.25 * mix.crackle;
        style.wobble = 0.8 + 0.2 * style.haze;
        style.reverbSeconds = 3.6 + 1.6 * style.haze;
        style.reverbSend = 0.32 + 0.12 * style.haze;
        style.chordBars = 2;
        style.drums = style.energy > 0.2 || random.chance(0.3);
        style.lead = LeadTimbre::mellow;
        style.backbeat = random.chance(0.5) ? BackbeatSound::snare : BackbeatSound::clap;
        break;
    case CalmKind::softGlitch:
        baseBpm = random.uniform(84, 94);
        style.swing = random.uniform(0.5, 0.54);
        style.crackle = 0.15 * mix.crackle;
        style.wobble = 0.15;
        style.reverbSeconds = 2.2 + 1.5 * style.haze;
        style.reverbSend = 0.2 + 0.1 * style.haze;
        style.chordBars = random.chance(0.5) ? 1 : 2;
        style.lead = LeadTimbre::bell;
        style.backbeat = random.chance(0.5) ? BackbeatSound::rim : BackbeatSound::clap;
        break;
    case CalmKind::nightDrive:
        baseBpm = random.uniform(92, 102);
        style.swing = 0.5;
        style.crackle = 0;
        style.wobble = 0.12;
        style.reverbSeconds = 2.6 + 1.4 * style.haze;
        style.reverbSend = 0.2 + 0.1 * style.haze;
        style.chordBars = random.chance(0.6) ? 2 : 1;
        style.lead = LeadTimbre::synth;
        style.backbeat = random.chance(0.6) ? BackbeatSound::clap : BackbeatSound::snare;
        style.brightness = std::clamp(style.brightness - 0.08, 0.0, 1.0);
        break;
    }
    style.bpm = baseBpm * mix.tempo;
    return style;
}

} // namespace calmcove::musicgen
