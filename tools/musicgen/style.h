#pragma once

// How a piece should sound, decided from its kind, its two moods and its id before a
// note is written: tempo, feel, tone colour and the amounts of each effect. The kind sets
// the genre; moods shift tempo, brightness and haze; the id picks among close variants.

#include "trackspec.h"

namespace calmcove::musicgen {

enum class LeadTimbre
{
    mellow,
    pluck,
    electricPiano,
    synth,
    bell
};
enum class BackbeatSound
{
    snare,
    rim,
    brush,
    clap
};

struct Style
{
    CalmKind kind = CalmKind::dustyBeat;
    double bpm = 80;         // before fitting whole bars into the duration
    double swing = 0.5;      // where off-beat 16ths fall: 0.5 straight … 0.64 lazy
    double brightness = 0.5; // 0 dark … 1 bright
    double haze = 0.3;       // 0 clear … 1 hazy: reverb, wobble, softer attacks
    double energy = 0.5;     // 0 sparse … 1 busy: drum density, note density
    bool minor = false;
    double crackle = 0;       // vinyl crackle and hiss, 0 … 1
    double rain = 0;          // rain bed, 0 … 1
    double wobble = 0;        // tape wow and flutter, 0 … 1
    double reverbSeconds = 2; // decay time (RT60)
    double reverbSend = 0.2;
    int chordBars = 1; // bars each chord lasts
    bool drums = true; // whether the main sections carry a beat at all
    LeadTimbre lead = LeadTimbre::mellow;
    BackbeatSound backbeat = BackbeatSound::snare;
};

Style styleFor(const TrackSpec& track);

} // namespace calmcove::musicgen
