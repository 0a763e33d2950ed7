#include "arrangement.h"

#include <algorithm>

namespace calmcove::musicgen {

void Arrangement::writeEnding(int bar, const std::vector<int>& voicing)
{
    strum(Part::keys, bar, 0, 48, voicing, 0.5f, 70);
    const Harmony& harmony = composer_.harmony();
    composer_.note(Part::bass, bar, 0, 32,
                   static_cast<float>(rootPitch(harmony.key, harmony.home, 36)), 0.6f, 0, 0);
}

void Arrangement::strum(Part part, int bar, double step, double lengthSteps,
                        const std::vector<int>& pitches, float velocity, double spreadMs, float pan)
{
    if (pitches.empty())
        return;
    const double msPerStep = composer_.timeline().secondsPerStep() * 1000;
    const double spreadSteps = spreadMs / msPerStep;
    const double jitter = composer_.humanize().uniform(-0.004, 0.004) * 1000 / msPerStep;
    const std::size_t count = pitches.size();
    for (std::size_t i = 0; i < count; ++i) {
        const double offset =
            count > 1 ? spreadSteps * static_cast<double>(i) / static_cast<double>(count - 1) : 0;
        // The top voice sings a little over the others.
        const float weight = i + 1 == count ? 1.0f : 0.86f;
        const float v =
            velocity * weight * static_cast<float>(composer_.humanize().uniform(0.94, 1.04));
        composer_.note(part, bar, step + offset + jitter, std::max(lengthSteps - offset, 0.5),
                       static_cast<float>(pitches[i]), v, pan, 0);
    }
}

void Arrangement::walkingRoot(const BarContext& bar, int low, float velocity, bool push,
                              bool approach)
{
    const Key& key = composer_.harmony().key;
    const int root = rootPitch(key, bar.chord, low);
    const bool changes = !(bar.nextChord == bar.chord);
    const double firstLength = push ? 7 : (approach && changes ? 13 : 15);
    composer_.note(Part::bass, bar.bar, 0, firstLength, static_cast<float>(root), velocity);
    if (push) {
        const int second = composer_.choices().chance(0.6) ? root : fifthPitch(key, bar.chord, low);
        composer_.note(Part::bass, bar.bar, 10, approach && changes ? 3.5 : 5.5,
                       static_cast<float>(second), velocity * 0.8f);
    }
    if (approach && changes) {
        const int target = rootPitch(key, bar.nextChord, low);
        const int from = composer_.choices().chance(0.5) ? target - 1 : target + 2;
        composer_.note(Part::bass, bar.bar, 14, 1.8, static_cast<float>(from), velocity * 0.7f);
    }
}

void Arrangement::melodyPhrase(Part part, const BarContext& bar, MelodyWriter& writer,
                               const Motif& motif, float velocity, float pan)
{
    if (bar.barInSection % motif.bars != 0)
        return;
    const int phrase = bar.barInSection / motif.bars;
    const bool lastPhrase = bar.barInSection + motif.bars >= bar.section->bars;
    Motif played = motif;
    if (phrase % 2 == 1) {
        Random& random = composer_.choices();
        played = answerMotif(motif, random);
    }
    if (lastPhrase)
        played = closingMotif(played);
    // Do not write past the section: a motif longer than what is left gets cut.
    const int barsLeft = bar.section->bars - bar.barInSection;
    if (played.bars > barsLeft) {
        const double end = barsLeft * 16.0;
        std::erase_if(played.notes, [end](const MotifNote& n) { return n.step >= end - 1; });
        for (MotifNote& n : played.notes)
            n.length = std::min(n.length, end - n.step);
        played.bars = barsLeft;
        if (played.notes.empty())
            return;
    }
    const int first = bar.bar;
    writer.write(
        played, first, [this, first](int i) { return composer_.chordAt(first + i); },
        composer_.timeline(), velocity, pan, composer_.humanize(), composer_.score().part(part));
}

} // namespace calmcove::musicgen
