#pragma once

// Melodies from motifs: a short rhythm with a contour in scale steps, written over the
// chords of a passage so that strong beats land on chord tones. Repeating a motif with
// small changes gives phrases a listener can follow without them turning into a loop.

#include "harmony.h"
#include "score.h"
#include "timeline.h"

#include <functional>
#include <vector>

namespace calmcove::musicgen {

class Random;

struct MotifNote
{
    double step = 0;   // sixteenths from the motif's start
    double length = 2; // sixteenths
    int contour = 0;   // scale steps from the motif's anchor
    bool accent = false;
};

struct Motif
{
    int bars = 2;
    std::vector<MotifNote> notes;
};

// density 0 … 1: how busy the rhythm is; longNotes favours held notes (slow pieces).
Motif makeMotif(Random& random, int bars, double density, bool longNotes);
// The same motif with a changed ending, an answer to the original.
Motif answerMotif(const Motif& motif, Random& random);
// A motif whose last note is held to the end of its last bar and falls to a chord tone.
Motif closingMotif(const Motif& motif);

class MelodyWriter
{
public:
    // low, high: MIDI range of the melody.
    MelodyWriter(const Key& key, int low, int high);

    // Writes `motif` from `firstBar`; chordAt(i) is the chord under the motif's bar i.
    void write(const Motif& motif, int firstBar, const std::function<Chord(int)>& chordAt,
               const Timeline& timeline, float velocity, float pan, Random& humanize,
               std::vector<NoteEvent>& out);
    // Forgets the last note, so the next motif starts near the register's centre.
    void reset() { last_ = (low_ + high_) / 2; }

private:
    Key key_;
    int low_;
    int high_;
    int last_;
    std::vector<int> scale_; // every melody-scale pitch around the range, rising
};

} // namespace calmcove::musicgen
