// Soft glitch: soft pad chords and gentle electric piano under fragments of bell
// arpeggios that now and then stutter, little digital clicks and blips in place of hats, a
// quiet kick and a sine bass.

#include "arrangement.h"

#include <algorithm>

namespace calmcove::musicgen {

namespace {

class SoftGlitch final : public Arrangement
{
public:
    explicit SoftGlitch(Composer& composer) : Arrangement(composer) {}

    void beginSection(const Section& section) override
    {
        Random& random = composer_.choices();
        const double energy = composer_.style().energy;
        keys_ = bells_ = clicks_ = kick_ = backbeat_ = bass_ = stutters_ = false;
        switch (section.type) {
        case SectionType::intro:
            bells_ = random.chance(0.6);
            keys_ = random.chance(0.5);
            break;
        case SectionType::verse:
            bells_ = clicks_ = bass_ = true;
            kick_ = section.occurrence > 0 || random.chance(0.5);
            keys_ = random.chance(0.5);
            backbeat_ = random.chance(0.3 + 0.5 * energy);
            stutters_ = random.chance(0.7);
            break;
        case SectionType::chorus:
            bells_ = clicks_ = kick_ = bass_ = stutters_ = true;
            keys_ = random.chance(0.7);
            backbeat_ = random.chance(0.5 + 0.4 * energy);
            break;
        case SectionType::breakdown:
            bells_ = true;
            clicks_ = random.chance(0.5);
            keys_ = true;
            break;
        case SectionType::outro:
            bells_ = true;
            clicks_ = true;
            bass_ = true;
            break;
        }
        octave_ = random.chance(0.5) ? -12 : 0;
    }

    void writeBar(const BarContext& bar) override
    {
        Random& random = composer_.choices();
        const Style& style = composer_.style();
        const double chordSteps = 16.0 * style.chordBars;
        if (bar.chordStarts) {
            for (const int pitch : bar.voicing)
                composer_.note(Part::pad, bar.bar, 0, chordSteps - 0.5, static_cast<float>(pitch),
                               0.42f, 0, 0);
            if (keys_)
                strum(Part::keys, bar.bar, 0, chordSteps - 2, bar.voicing, 0.42f, 18);
        }
        if (bells_)
            writeBells(bar, random);
        if (clicks_)
            writeClicks(bar, random);
        if (kick_) {
            composer_.drum(DrumSound::kick, bar.bar, 0, 0.72f);
            if (random.chance(0.45))
                composer_.drum(DrumSound::kick, bar.bar, 10, 0.5f);
        }
        if (backbeat_) {
            const DrumSound sound =
                style.backbeat == BackbeatSound::clap ? DrumSound::clap : DrumSound::rim;
            composer_.drum(sound, bar.bar, 12, 0.5f, 0.1f, random.below(2));
            if (style.energy > 0.5)
                composer_.drum(sound, bar.bar, 4, 0.42f, 0.1f, random.below(2));
        }
        if (bass_) {
            const Key& key = composer_.harmony().key;
            const int root = rootPitch(key, bar.chord, 36);
            composer_.note(Part::bass, bar.bar, 0, 7.5, static_cast<float>(root), 0.7f);
            if (random.chance(0.5))
                composer_.note(
                    Part::bass, bar.bar, 8, 6,
                    static_cast<float>(random.chance(0.5) ? root : fifthPitch(key, bar.chord, 36)),
                    0.55f);
        }
    }

    void writeEnding(int bar, const std::vector<int>& voicing) override
    {
        for (const int pitch : voicing)
            composer_.note(Part::pad, bar, 0, 64, static_cast<float>(pitch), 0.45f, 0, 0);
        for (std::size_t i = 0; i < voicing.size(); ++i)
            composer_.note(Part::bells, bar, static_cast<double>(i), 8,
                           static_cast<float>(voicing[i] + 12), 0.4f,
                           static_cast<float>(i % 2 == 0 ? -0.3 : 0.3), 0);
        const Harmony& harmony = composer_.harmony();
        composer_.note(Part::bass, bar, 0, 24,
                       static_cast<float>(rootPitch(harmony.key, harmony.home, 36)), 0.55f, 0, 0);
    }

private:
    // One or two short arpeggio fragments per bar, sometimes ratcheting on a note.
    void writeBells(const BarContext& bar, Random& random)
    {
        // Bells sound best an octave or two above the chords.
        std::vector<int> pool;
        for (const int pitch : bar.voicing) {
            pool.push_back(pitch + 12 + octave_);
            pool.push_back(pitch + 24 + octave_);
        }
        std::sort(pool.begin(), pool.end());
        pool.erase(std::remove_if(pool.begin(), pool.end(), [](int p) { return p > 93; }),
                   pool.end());

        const double energy = composer_.style().energy;
        const int fragments = random.chance(0.35 + 0.4 * energy) ? 2 : 1;
        const bool stutterBar = stutters_ && bar.barInSection % 4 == 3 && random.chance(0.7);
        double step = random.pick(std::vector<double>{0, 2, 4});
        for (int f = 0; f < fragments && step < 14; ++f) {
            const int count = 3 + random.below(4);
            const double interval = random.chance(0.25) ? 0.5 : 1.0;
            const bool down = random.chance(0.4);
            int index =
                down ? static_cast<int>(pool.size()) - 1 - random.below(2) : random.below(3);
            const float pan = static_cast<float>(random.uniform(-0.6, 0.6));
            float velocity = 0.5f;
            for (int n = 0; n < count && step < 16; ++n) {
                const int pitch = pool[static_cast<std::size_t>(
                    std::clamp(index, 0, static_cast<int>(pool.size()) - 1))];
                const int repeats = random.chance(0.12) ? 3 : 1;
                for (int r = 0; r < repeats && step < 16; ++r) {
                    composer_.note(Part::bells, bar.bar, step, 2.5, static_cast<float>(pitch),
                                   velocity * (r == 0 ? 1.0f : 0.6f), pan, 2);
                    step += repeats > 1 ? 0.5 : interval;
                }
                index += down ? -1 : 1;
                velocity *= 0.9f;
            }
            step += random.pick(std::vector<double>{2, 3, 4, 6});
        }
        if (stutterBar) {
            const int pitch =
                pool[static_cast<std::size_t>(random.below(static_cast<int>(pool.size())))];
            composer_.note(Part::bells, bar.bar, 12, 3, static_cast<float>(pitch), 0.45f, 0, 0);
            const bool fine = random.chance(0.5);
            composer_.stutter(bar.bar, 12, fine ? 0.5 : 1.0, fine ? 8 : 4);
        }
    }

    void writeClicks(const BarContext& bar, Random& random)
    {
        const double energy = composer_.style().energy;
        for (int step = 0; step < 16; ++step) {
            if (random.chance(0.12 + 0.25 * energy))
                composer_.drum(DrumSound::click, bar.bar, step,
                               static_cast<float>(random.uniform(0.2, 0.5)),
                               static_cast<float>(random.uniform(-0.7, 0.7)), random.below(6), 1);
            if (random.chance(0.035))
                composer_.drum(DrumSound::blip, bar.bar, step + 0.5,
                               static_cast<float>(random.uniform(0.2, 0.4)),
                               static_cast<float>(random.uniform(-0.5, 0.5)), random.below(4), 1);
        }
        for (int step = 2; step < 16; step += 4)
            composer_.drum(DrumSound::shaker, bar.bar, step, 0.26f, 0.2f, random.below(2));
    }

    bool keys_ = false;
    bool bells_ = false;
    bool clicks_ = false;
    bool kick_ = false;
    bool backbeat_ = false;
    bool bass_ = false;
    bool stutters_ = false;
    int octave_ = 0;
};

} // namespace

std::unique_ptr<Arrangement> makeSoftGlitchArrangement(Composer& composer)
{
    return std::make_unique<SoftGlitch>(composer);
}

} // namespace calmcove::musicgen
