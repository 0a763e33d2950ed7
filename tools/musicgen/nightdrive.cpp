// Night drive: a low pulsing synth bass, a steady filtered arpeggio with echoes, wide
// pads, light drums and, in some sections, a soft synth lead.

#include "arrangement.h"

#include <algorithm>

namespace calmcove::musicgen {

namespace {

class NightDrive final : public Arrangement
{
public:
    explicit NightDrive(Composer& composer)
        : Arrangement(composer), leadWriter_(composer.harmony().key, 62, 78)
    {
        Random& random = composer_.choices();
        motif_ = makeMotif(random, 2, 0.3, false);
        chorusMotif_ = makeMotif(random, 2, 0.3, true);
        arpShape_ = random.below(3);
    }

    void beginSection(const Section& section) override
    {
        Random& random = composer_.choices();
        const double energy = composer_.style().energy;
        bass_ = arp_ = drums_ = lead_ = longBass_ = backbeat_ = false;
        switch (section.type) {
        case SectionType::intro:
            arp_ = random.chance(0.5);
            break;
        case SectionType::verse:
            bass_ = arp_ = drums_ = true;
            lead_ = section.occurrence > 0 && random.chance(0.45);
            // The first verse builds up without a backbeat; later ones now and then drop
            // the arpeggio and let the lead speak.
            backbeat_ = section.occurrence > 0 && random.chance(0.85);
            if (lead_ && random.chance(0.35))
                arp_ = false;
            break;
        case SectionType::chorus:
            bass_ = arp_ = drums_ = backbeat_ = true;
            lead_ = random.chance(0.7);
            break;
        case SectionType::breakdown:
            longBass_ = true;
            arp_ = random.chance(0.6);
            break;
        case SectionType::outro:
            bass_ = arp_ = true;
            drums_ = section.bars > 1;
            backbeat_ = true;
            break;
        }
        fourOnFloor_ = energy > 0.6 && random.chance(0.6);
        sixteenthHats_ = random.chance(energy);
        if (random.chance(0.3))
            arpShape_ = random.below(3);
        current_ = section.type == SectionType::chorus ? &chorusMotif_ : &motif_;
        leadWriter_.reset();
    }

    void writeBar(const BarContext& bar) override
    {
        Random& random = composer_.choices();
        const Style& style = composer_.style();
        const Key& key = composer_.harmony().key;
        const bool outroTail =
            bar.section->type == SectionType::outro && bar.barInSection >= bar.section->bars / 2;

        if (bar.chordStarts) {
            for (std::size_t i = 0; i < bar.voicing.size(); ++i) {
                const float pan = (static_cast<float>(i) / 3.0f - 0.5f) * 0.6f;
                composer_.note(Part::pad, bar.bar, 0, 16.0 * style.chordBars - 0.5,
                               static_cast<float>(bar.voicing[i]), 0.42f, pan, 0);
            }
        }
        const int root = rootPitch(key, bar.chord, 33);
        if (bass_) {
            for (int step = 0; step < 16; step += 2) {
                const bool octave = (step == 6 || step == 14) && random.chance(0.35);
                composer_.note(Part::bass, bar.bar, step, 1.7,
                               static_cast<float>(root + (octave ? 12 : 0)),
                               step % 4 == 0 ? 0.74f : 0.6f, 0, 2);
            }
        } else if (longBass_ && bar.chordStarts) {
            composer_.note(Part::bass, bar.bar, 0, 16.0 * style.chordBars - 1,
                           static_cast<float>(root), 0.6f, 0, 0);
        }
        if (arp_)
            writeArp(bar);
        if (drums_ && !outroTail)
            writeDrums(bar, random);
        if (lead_)
            melodyPhrase(Part::lead, bar, leadWriter_, *current_, 0.5f, -0.1f);
    }

    void writeEnding(int bar, const std::vector<int>& voicing) override
    {
        for (const int pitch : voicing)
            composer_.note(Part::pad, bar, 0, 64, static_cast<float>(pitch), 0.45f, 0, 0);
        const Harmony& harmony = composer_.harmony();
        composer_.note(Part::bass, bar, 0, 24,
                       static_cast<float>(rootPitch(harmony.key, harmony.home, 33)), 0.6f, 0, 0);
        for (int step = 0; step < 8; ++step)
            composer_.note(
                Part::arp, bar, step * 2, 1.5,
                static_cast<float>(voicing[static_cast<std::size_t>(step) % voicing.size()]),
                0.45f * (1.0f - static_cast<float>(step) / 9.0f), 0, 0);
    }

private:
    void writeArp(const BarContext& bar)
    {
        std::vector<int> pool = bar.voicing;
        pool.push_back(bar.voicing.front() + 12);
        std::sort(pool.begin(), pool.end());
        const int size = static_cast<int>(pool.size());
        for (int step = 0; step < 16; ++step) {
            int index = 0;
            switch (arpShape_) {
            case 0: // up
                index = step % size;
                break;
            case 1: { // up and down
                const int period = 2 * size - 2;
                const int position = step % period;
                index = position < size ? position : period - position;
                break;
            }
            default: // broken: low, high, middle…
                index = (step * 3) % size;
                break;
            }
            const float velocity = step % 4 == 0 ? 0.55f : 0.42f;
            composer_.note(Part::arp, bar.bar, step, 1.1,
                           static_cast<float>(pool[static_cast<std::size_t>(index)]), velocity, 0,
                           1);
        }
    }

    void writeDrums(const BarContext& bar, Random& random)
    {
        const DrumSound backbeat =
            composer_.style().backbeat == BackbeatSound::clap ? DrumSound::clap : DrumSound::snare;
        composer_.drum(DrumSound::kick, bar.bar, 0, 0.8f);
        composer_.drum(DrumSound::kick, bar.bar, 8, 0.72f);
        if (fourOnFloor_) {
            composer_.drum(DrumSound::kick, bar.bar, 4, 0.62f);
            composer_.drum(DrumSound::kick, bar.bar, 12, 0.62f);
        } else if (random.chance(0.3)) {
            composer_.drum(DrumSound::kick, bar.bar, 10, 0.5f);
        }
        if (backbeat_) {
            composer_.drum(backbeat, bar.bar, 4, 0.52f, 0, random.below(2));
            composer_.drum(backbeat, bar.bar, 12, 0.55f, 0, random.below(2));
        }
        for (int step = 2; step < 16; step += 4)
            composer_.drum(DrumSound::closedHat, bar.bar, step, 0.36f, 0.2f, random.below(2));
        if (sixteenthHats_) {
            for (int step = 1; step < 16; step += 2)
                composer_.drum(DrumSound::closedHat, bar.bar, step, 0.14f, 0.25f, 1);
        }
        if (bar.barInSection % 4 == 3)
            composer_.drum(DrumSound::openHat, bar.bar, 14, 0.3f, 0.2f);
    }

    MelodyWriter leadWriter_;
    Motif motif_;
    Motif chorusMotif_;
    const Motif* current_ = &motif_;
    int arpShape_ = 0;
    bool bass_ = false;
    bool longBass_ = false;
    bool arp_ = false;
    bool drums_ = false;
    bool lead_ = false;
    bool backbeat_ = false;
    bool fourOnFloor_ = false;
    bool sixteenthHats_ = false;
};

} // namespace

std::unique_ptr<Arrangement> makeNightDriveArrangement(Composer& composer)
{
    return std::make_unique<NightDrive>(composer);
}

} // namespace calmcove::musicgen
