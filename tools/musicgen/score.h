#pragma once

// The composed piece as timed events: notes per part, drum hits, stutters and slow
// automation. The composer writes it, the renderer plays it. Times are frames at 44.1 kHz
// from the start of the file.

#include <cstdint>
#include <vector>

namespace calmcove::musicgen {

struct NoteEvent
{
    std::int64_t start = 0;
    std::int64_t length = 0; // frames until the key is released
    float pitch = 60;        // MIDI note number
    float velocity = 0.7f;   // 0 … 1
    float pan = 0;           // -1 left … 1 right
};

enum class DrumSound
{
    kick,
    snare,
    rim,
    brush,
    closedHat,
    openHat,
    shaker,
    clap,
    click,
    blip
};
inline constexpr int drumSoundCount = 10;

struct DrumHit
{
    std::int64_t start = 0;
    DrumSound sound = DrumSound::kick;
    float velocity = 0.7f;
    float pan = 0;
    int variant = 0; // which of the pre-rendered takes of the sound
};

// Repeats the slice of the bell part that starts at `start`, `repeats` times in all.
struct StutterEvent
{
    std::int64_t start = 0;
    int sliceFrames = 0;
    int repeats = 0;
};

// A value that moves linearly from point to point; before the first point it holds the
// first value, after the last the last.
struct AutomationPoint
{
    std::int64_t frame = 0;
    float value = 1;
};

enum class Part
{
    keys,
    pad,
    bass,
    lead,
    pluck,
    arp,
    bells
};
inline constexpr int partCount = 7;

struct Score
{
    std::int64_t frames = 0;
    double bpm = 80;
    std::vector<NoteEvent> parts[partCount];
    std::vector<DrumHit> drums;
    std::vector<StutterEvent> stutters;
    // How far the master tone opens (0 muffled … 1 fully open), e.g. during the intro.
    std::vector<AutomationPoint> openness;
    // Frame where the closing fade begins.
    std::int64_t fadeOutStart = 0;

    std::vector<NoteEvent>& part(Part p) { return parts[static_cast<int>(p)]; }
    const std::vector<NoteEvent>& part(Part p) const { return parts[static_cast<int>(p)]; }
    // Sorts every list by start time, as the renderer expects.
    void sort();
};

// Value of an automation curve at a frame.
float automationAt(const std::vector<AutomationPoint>& curve, std::int64_t frame);

} // namespace calmcove::musicgen
