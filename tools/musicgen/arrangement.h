#pragma once

// The part of composition that differs between kinds: which instruments play in which
// section and what each of them plays in a bar. One subclass per kind, each in its own
// file; the shared helpers here cover what several kinds do alike.

#include "composer.h"

#include <memory>

namespace calmcove::musicgen {

class Arrangement
{
public:
    explicit Arrangement(Composer& composer) : composer_(composer) {}
    virtual ~Arrangement() = default;
    Arrangement(const Arrangement&) = delete;
    Arrangement& operator=(const Arrangement&) = delete;

    // Called before the first bar of every section.
    virtual void beginSection(const Section& section) = 0;
    virtual void writeBar(const BarContext& bar) = 0;
    // The closing chord at the start of the tail, ringing out while the piece fades.
    virtual void writeEnding(int bar, const std::vector<int>& voicing);

protected:
    // Plays the pitches as a strum, low to high (or high to low), spread over spreadMs.
    void strum(Part part, int bar, double step, double lengthSteps, const std::vector<int>& pitches,
               float velocity, double spreadMs, float pan = 0);
    // A melody phrase of `bars` bars, built from the section's motif and its answer.
    void melodyPhrase(Part part, const BarContext& bar, MelodyWriter& writer, const Motif& motif,
                      float velocity, float pan);
    // A standard one-bar bass figure: root on the one, an optional push, and an approach
    // note into the next chord.
    void walkingRoot(const BarContext& bar, int low, float velocity, bool push, bool approach);

    Composer& composer_;
};

std::unique_ptr<Arrangement> makeDustyBeatArrangement(Composer& composer);
std::unique_ptr<Arrangement> makeVaporwaveArrangement(Composer& composer);
std::unique_ptr<Arrangement> makeSoftGlitchArrangement(Composer& composer);
std::unique_ptr<Arrangement> makeNightDriveArrangement(Composer& composer);

} // namespace calmcove::musicgen
