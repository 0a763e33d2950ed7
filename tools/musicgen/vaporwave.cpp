// Vaporwave: slow-motion chords on hazy, chorused pads, lazily strummed electric piano, a
// deep round bass and, in some sections, a soft beat and a long-breathed melody drowned
// in reverb.

#include "arrangement.h"

namespace calmcove::musicgen {

namespace {

class Vaporwave final : public Arrangement
{
public:
    explicit Vaporwave(Composer& composer)
        : Arrangement(composer), leadWriter_(composer.harmony().key, 64, 79)
    {
        Random& random = composer_.choices();
        motif_ = makeMotif(random, 2, 0.15, true);
        chorusMotif_ = makeMotif(random, 2, 0.2, true);
    }

    void beginSection(const Section& section) override
    {
        Random& random = composer_.choices();
        const Style& style = composer_.style();
        keys_ = bass_ = drums_ = lead_ = false;
        switch (section.type) {
        case SectionType::intro:
            keys_ = random.chance(0.5);
            break;
        case SectionType::verse:
            keys_ = random.chance(0.7);
            bass_ = true;
            drums_ = style.drums && (section.occurrence > 0 || random.chance(0.5));
            lead_ = section.occurrence > 0 && random.chance(0.6);
            break;
        case SectionType::chorus:
            keys_ = true;
            bass_ = true;
            drums_ = style.drums;
            lead_ = random.chance(0.85);
            break;
        case SectionType::breakdown:
            keys_ = true;
            lead_ = random.chance(0.4);
            break;
        case SectionType::outro:
            keys_ = random.chance(0.6);
            bass_ = true;
            break;
        }
        current_ = section.type == SectionType::chorus ? &chorusMotif_ : &motif_;
        leadWriter_.reset();
    }

    void writeBar(const BarContext& bar) override
    {
        Random& random = composer_.choices();
        const int chordBars = composer_.style().chordBars;
        const double chordSteps = 16.0 * chordBars;
        const bool secondBarOfChord = !bar.chordStarts;

        if (bar.chordStarts) {
            for (std::size_t i = 0; i < bar.voicing.size(); ++i) {
                const float pan = (static_cast<float>(i) / 3.0f - 0.5f) * 0.5f;
                composer_.note(Part::pad, bar.bar, 0, chordSteps - 0.5,
                               static_cast<float>(bar.voicing[i]), 0.5f, pan, 0);
            }
        }
        if (keys_) {
            if (bar.chordStarts)
                strum(Part::keys, bar.bar, 0, chordSteps - 2, bar.voicing, 0.46f, 140);
            else if (random.chance(0.5)) {
                const std::vector<int> upper(bar.voicing.begin() + 1, bar.voicing.end());
                strum(Part::keys, bar.bar, 8, 7.5, upper, 0.34f, 110);
            }
        }
        if (bass_) {
            const int root = rootPitch(composer_.harmony().key, bar.chord, 33);
            if (bar.chordStarts)
                composer_.note(Part::bass, bar.bar, 0, secondBarOfChord ? 15 : 16.0 * chordBars - 1,
                               static_cast<float>(root), 0.68f);
            if (secondBarOfChord && random.chance(0.5))
                composer_.note(Part::bass, bar.bar, 8, 7,
                               static_cast<float>(root + (random.chance(0.5) ? 12 : 7)), 0.5f);
        }
        if (drums_)
            writeDrums(bar, random);
        if (lead_)
            melodyPhrase(Part::lead, bar, leadWriter_, *current_, 0.5f, 0.1f);
    }

    void writeEnding(int bar, const std::vector<int>& voicing) override
    {
        for (const int pitch : voicing)
            composer_.note(Part::pad, bar, 0, 64, static_cast<float>(pitch), 0.5f, 0, 0);
        strum(Part::keys, bar, 0, 48, voicing, 0.4f, 160);
        const Harmony& harmony = composer_.harmony();
        composer_.note(Part::bass, bar, 0, 40,
                       static_cast<float>(rootPitch(harmony.key, harmony.home, 33)), 0.6f, 0, 0);
    }

private:
    void writeDrums(const BarContext& bar, Random& random)
    {
        const DrumSound backbeat =
            composer_.style().backbeat == BackbeatSound::clap ? DrumSound::clap : DrumSound::snare;
        composer_.drum(DrumSound::kick, bar.bar, 0, 0.78f);
        if (random.chance(0.6))
            composer_.drum(DrumSound::kick, bar.bar, 10, 0.6f);
        composer_.drum(backbeat, bar.bar, 4, 0.55f, 0, random.below(2));
        composer_.drum(backbeat, bar.bar, 12, 0.58f, 0, random.below(2));
        for (int step = 2; step < 16; step += 4)
            composer_.drum(DrumSound::shaker, bar.bar, step, 0.3f, 0.3f, random.below(2));
    }

    MelodyWriter leadWriter_;
    Motif motif_;
    Motif chorusMotif_;
    const Motif* current_ = &motif_;
    bool keys_ = false;
    bool bass_ = false;
    bool drums_ = false;
    bool lead_ = false;
};

} // namespace

std::unique_ptr<Arrangement> makeVaporwaveArrangement(Composer& composer)
{
    return std::make_unique<Vaporwave>(composer);
}

} // namespace calmcove::musicgen
