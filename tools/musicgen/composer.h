#pragma once

// Writes a whole piece as a Score: fits whole bars of the style's tempo into the
// requested duration, plans sections (intro, verses, choruses, breakdowns, outro), walks
// the harmony bar by bar with voice leading and lets the arrangement of the piece's kind
// write each bar's parts.

#include "harmony.h"
#include "melody.h"
#include "random.h"
#include "score.h"
#include "style.h"
#include "timeline.h"

#include <string>
#include <vector>

namespace calmcove::musicgen {

enum class SectionType
{
    intro,
    verse,
    chorus,
    breakdown,
    outro
};

struct Section
{
    SectionType type = SectionType::verse;
    int firstBar = 0;
    int bars = 8;
    int occurrence = 0; // how many sections of this type came before
};

// The harmonic situation of one bar, handed to the arrangement.
struct BarContext
{
    int bar = 0; // from the first bar of the piece
    int barInSection = 0;
    const Section* section = nullptr;
    Chord chord;
    Chord nextChord;          // the chord of the following bar
    bool chordStarts = false; // this bar is the first of its chord
    std::vector<int> voicing; // keys and pads, sorted MIDI pitches
    bool lastBarOfSection() const { return barInSection == section->bars - 1; }
};

class Composer
{
public:
    // durationSeconds: the length of the rendered file.
    Composer(const TrackSpec& track, const Style& style, double durationSeconds);

    Score compose();

    // For the arrangements.
    const Style& style() const { return style_; }
    const Harmony& harmony() const { return harmony_; }
    const Timeline& timeline() const { return timeline_; }
    const std::vector<Section>& sections() const { return sections_; }
    int totalBars() const { return bars_; }
    Random& choices() { return choices_; }
    Random& humanize() { return humanize_; }
    // The chord under a bar (the home chord from the end of the music on).
    Chord chordAt(int bar) const;

    // step and lengthSteps in sixteenths; jitterMs: random timing spread.
    void note(Part part, int bar, double step, double lengthSteps, float pitch, float velocity,
              float pan = 0, double jitterMs = 4);
    void drum(DrumSound sound, int bar, double step, float velocity, float pan = 0, int variant = 0,
              double jitterMs = 3);
    void stutter(int bar, double step, double sliceSteps, int repeats);
    Score& score() { return score_; }

private:
    void planSections(const std::string& trackId);
    const Section& sectionOf(int bar) const;

    TrackSpec track_;
    Style style_;
    Harmony harmony_;
    Timeline timeline_;
    Random choices_;
    Random humanize_;
    Score score_;
    std::vector<Section> sections_;
    int bars_ = 1;
    std::int64_t tailStart_ = 0;
};

} // namespace calmcove::musicgen
