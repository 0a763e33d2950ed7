// Dusty beat: a lazy swung boom-bap under warm electric-piano chords, a round bass and
// now and then a short tune on a plucked string, a soft lead or the piano itself.

#include "arrangement.h"

#include <array>

namespace calmcove::musicgen {

namespace {

struct Hit
{
    double step;
    float velocity;
};

const std::vector<std::vector<Hit>> kickPatterns = {
    {{0, 0.9f}, {10, 0.75f}},
    {{0, 0.9f}, {7, 0.5f}, {10, 0.72f}},
    {{0, 0.9f}, {6, 0.45f}, {10, 0.75f}, {15, 0.35f}},
    {{0, 0.9f}, {3, 0.4f}, {10, 0.72f}},
};

class DustyBeat final : public Arrangement
{
public:
    explicit DustyBeat(Composer& composer)
        : Arrangement(composer),
          leadWriter_(composer.harmony().key,
                      composer.style().lead == LeadTimbre::electricPiano ? 65 : 62,
                      composer.style().lead == LeadTimbre::electricPiano ? 81 : 78)
    {
        Random& random = composer_.choices();
        const double density = 0.25 + 0.3 * composer_.style().energy;
        verseMotif_ = makeMotif(random, 2, density, composer_.style().energy < 0.3);
        chorusMotif_ = makeMotif(random, 2, density + 0.05, false);
        kickPattern_ = random.below(static_cast<int>(kickPatterns.size()));
    }

    void beginSection(const Section& section) override
    {
        Random& random = composer_.choices();
        const Style& style = composer_.style();
        const double energy = style.energy;
        drums_ = bass_ = lead_ = pad_ = hatsOnly_ = false;
        comp_ = random.below(3);
        switch (section.type) {
        case SectionType::intro:
            bass_ = section.bars > 2 && random.chance(0.4);
            break;
        case SectionType::verse:
            drums_ = bass_ = true;
            // Now and then a verse rides on hats alone, which makes the beat's return land.
            if (section.occurrence > 0 && random.chance(0.2)) {
                drums_ = false;
                hatsOnly_ = true;
            }
            lead_ =
                section.occurrence > 0 ? random.chance(0.55 + 0.3 * energy) : random.chance(0.25);
            pad_ = random.chance(0.25);
            if (section.occurrence > 0 && random.chance(0.5))
                verseMotif_ = answerMotif(verseMotif_, random);
            kickPattern_ = random.chance(0.3) ? random.below(static_cast<int>(kickPatterns.size()))
                                              : kickPattern_;
            break;
        case SectionType::chorus:
            drums_ = bass_ = true;
            lead_ = random.chance(0.8);
            pad_ = random.chance(0.5);
            break;
        case SectionType::breakdown:
            hatsOnly_ = random.chance(0.5);
            bass_ = random.chance(0.4);
            lead_ = random.chance(0.6);
            pad_ = random.chance(0.6);
            breakMotif_ = makeMotif(random, 2, 0.2, true);
            break;
        case SectionType::outro:
            drums_ = section.bars > 1;
            bass_ = true;
            break;
        }
        motif_ = section.type == SectionType::chorus      ? &chorusMotif_
                 : section.type == SectionType::breakdown ? &breakMotif_
                                                          : &verseMotif_;
        leadWriter_.reset();
    }

    void writeBar(const BarContext& bar) override
    {
        Random& random = composer_.choices();
        const Style& style = composer_.style();
        const bool outroTail =
            bar.section->type == SectionType::outro && bar.barInSection >= bar.section->bars / 2;

        writeKeys(bar, random);
        if (pad_ && bar.chordStarts) {
            for (const int pitch : bar.voicing)
                composer_.note(Part::pad, bar.bar, 0, 16.0 * style.chordBars - 0.5,
                               static_cast<float>(pitch), 0.32f, 0, 0);
        }
        if (bass_)
            walkingRoot(bar, 36, 0.72f, comp_ != 0 || random.chance(0.3), random.chance(0.35));
        if (drums_ && !outroTail)
            writeDrums(bar, random);
        else if (hatsOnly_)
            writeHats(bar, random, 0.7f);
        if (lead_ && !outroTail) {
            switch (style.lead) {
            case LeadTimbre::pluck:
                melodyPhrase(Part::pluck, bar, leadWriter_, *motif_, 0.62f, -0.2f);
                break;
            case LeadTimbre::electricPiano:
                melodyPhrase(Part::keys, bar, leadWriter_, *motif_, 0.55f, 0.1f);
                break;
            default:
                melodyPhrase(Part::lead, bar, leadWriter_, *motif_, 0.5f, 0.15f);
                break;
            }
        }
    }

private:
    void writeKeys(const BarContext& bar, Random& random)
    {
        const float velocity = 0.5f + 0.12f * static_cast<float>(composer_.style().brightness);
        const double spread = random.uniform(20, 45);
        switch (comp_) {
        case 0:
            strum(Part::keys, bar.bar, 0, 15.5, bar.voicing, velocity, spread);
            break;
        case 1: {
            strum(Part::keys, bar.bar, 0, 7, bar.voicing, velocity, spread);
            const std::vector<int> upper(bar.voicing.begin() + 1, bar.voicing.end());
            strum(Part::keys, bar.bar, 10, 5.5, upper, velocity * 0.72f, spread * 0.6);
            break;
        }
        default:
            strum(Part::keys, bar.bar, 0, 5, bar.voicing, velocity, spread);
            strum(Part::keys, bar.bar, 6, 9.5, bar.voicing, velocity * 0.8f, spread);
            break;
        }
    }

    void writeHats(const BarContext& bar, Random& random, float level)
    {
        const double energy = composer_.style().energy;
        for (int step = 0; step < 16; step += 2) {
            const float v = (step % 4 == 0 ? 0.5f : 0.4f) * level;
            if (step == 14 && bar.barInSection % 4 == 3 && random.chance(0.5))
                composer_.drum(DrumSound::openHat, bar.bar, step, v * 0.8f, 0.25f);
            else
                composer_.drum(DrumSound::closedHat, bar.bar, step,
                               v * static_cast<float>(random.uniform(0.85, 1.1)), 0.25f,
                               random.below(2));
            if (random.chance(0.15 + 0.4 * energy))
                composer_.drum(DrumSound::closedHat, bar.bar, step + 1, 0.22f * level, 0.3f, 1);
        }
    }

    void writeDrums(const BarContext& bar, Random& random)
    {
        const Style& style = composer_.style();
        const DrumSound backbeat = style.backbeat == BackbeatSound::brush ? DrumSound::brush
                                   : style.backbeat == BackbeatSound::rim ? DrumSound::rim
                                                                          : DrumSound::snare;
        const bool phraseEnd = bar.barInSection % 4 == 3;
        for (const Hit& hit : kickPatterns[static_cast<std::size_t>(kickPattern_)]) {
            if (phraseEnd && hit.step == 10 && random.chance(0.5)) {
                composer_.drum(DrumSound::kick, bar.bar, 11, hit.velocity * 0.9f);
                continue;
            }
            composer_.drum(DrumSound::kick, bar.bar, hit.step, hit.velocity);
        }
        composer_.drum(backbeat, bar.bar, 4, 0.7f, -0.05f, random.below(2));
        composer_.drum(backbeat, bar.bar, 12, 0.72f, -0.05f, random.below(2));
        if (random.chance(0.15 + 0.25 * style.energy))
            composer_.drum(backbeat, bar.bar, random.chance(0.5) ? 7 : 15, 0.2f, -0.05f, 1);
        if (bar.lastBarOfSection() && random.chance(0.6)) {
            composer_.drum(backbeat, bar.bar, 14, 0.3f, -0.05f, 1);
            composer_.drum(backbeat, bar.bar, 15, 0.42f, -0.05f, 0);
        }
        writeHats(bar, random, 1.0f);
    }

    MelodyWriter leadWriter_;
    Motif verseMotif_;
    Motif chorusMotif_;
    Motif breakMotif_;
    const Motif* motif_ = &verseMotif_;
    int kickPattern_ = 0;
    int comp_ = 0;
    bool drums_ = false;
    bool hatsOnly_ = false;
    bool bass_ = false;
    bool lead_ = false;
    bool pad_ = false;
};

} // namespace

std::unique_ptr<Arrangement> makeDustyBeatArrangement(Composer& composer)
{
    return std::make_unique<DustyBeat>(composer);
}

} // namespace calmcove::musicgen
