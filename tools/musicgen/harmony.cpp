#include "harmony.h"

#include "random.h"
#include "style.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace calmcove::musicgen {

namespace {

using Q = ChordQuality;

// Progressions that sit well under slow, warm music: diatonic seventh and ninth chords,
// a borrowed minor iv, the "royal road" IV–V–iii–vi and minor circle-of-fifths moves.
const std::vector<Progression> majorProgressions = {
    {{0, Q::major9}, {9, Q::minor9}, {2, Q::minor9}, {7, Q::sus9}},
    {{5, Q::major9}, {4, Q::minor7}, {2, Q::minor9}, {0, Q::major9}},
    {{2, Q::minor9}, {7, Q::dominant13}, {0, Q::major9}, {9, Q::minor9}},
    {{0, Q::major9}, {4, Q::minor7}, {5, Q::major9}, {5, Q::minor9}},
    {{5, Q::major9}, {7, Q::sus9}, {4, Q::minor7}, {9, Q::minor9}},
    {{0, Q::major9}, {5, Q::major9}, {9, Q::minor9}, {7, Q::sus9}},
    {{9, Q::minor9}, {5, Q::major9}, {0, Q::major9}, {7, Q::sus9}},
    {{0, Q::sixNine}, {2, Q::minor9}, {4, Q::minor7}, {5, Q::major9}},
    {{5, Q::major9}, {0, Q::major9}, {2, Q::minor9}, {7, Q::sus9}},
};

const std::vector<Progression> minorProgressions = {
    {{0, Q::minor9}, {5, Q::minor9}, {10, Q::dominant13}, {3, Q::major9}},
    {{0, Q::minor9}, {8, Q::major9}, {3, Q::major9}, {10, Q::sixNine}},
    {{0, Q::minor9}, {8, Q::major9}, {5, Q::minor9}, {7, Q::minor7}},
    {{0, Q::minor11}, {5, Q::dominant13}, {3, Q::major9}, {2, Q::minor7}},
    {{8, Q::major9}, {10, Q::sus9}, {0, Q::minor9}, {7, Q::minor7}},
    {{0, Q::minor9}, {7, Q::minor7}, {8, Q::major9}, {10, Q::sus9}},
    {{5, Q::minor9}, {10, Q::dominant13}, {3, Q::major9}, {8, Q::major9}},
    {{0, Q::minor11}, {3, Q::major9}, {5, Q::minor9}, {8, Q::major9}},
};

// Colour tones above the root for a four-note voicing: rootless where the chord has
// tensions to spare, else with the root on top.
std::vector<int> colourIntervals(ChordQuality quality)
{
    switch (quality) {
    case Q::major7:
        return {4, 7, 11, 12};
    case Q::major9:
        return {4, 7, 11, 14};
    case Q::minor7:
        return {3, 7, 10, 12}; // its ninth would leave the key (iii, v, dorian ii)
    case Q::minor9:
        return {3, 7, 10, 14};
    case Q::minor11:
        return {3, 10, 14, 17};
    case Q::dominant13:
        return {4, 10, 14, 9};
    case Q::sus9:
        return {5, 10, 14, 7};
    case Q::sixNine:
        return {4, 9, 14, 7};
    }
    return {4, 7, 11, 14};
}

std::vector<int> allIntervals(ChordQuality quality)
{
    switch (quality) {
    case Q::major7:
        return {0, 4, 7, 11};
    case Q::major9:
        return {0, 4, 7, 11, 14};
    case Q::minor7:
        return {0, 3, 7, 10};
    case Q::minor9:
        return {0, 3, 7, 10, 14};
    case Q::minor11:
        return {0, 3, 7, 10, 14, 17};
    case Q::dominant13:
        return {0, 4, 7, 10, 14, 21};
    case Q::sus9:
        return {0, 5, 7, 10, 14};
    case Q::sixNine:
        return {0, 4, 7, 9, 14};
    }
    return {0, 4, 7, 11};
}

int pitchClass(int value)
{
    return ((value % 12) + 12) % 12;
}

} // namespace

Harmony chooseHarmony(Random& random, const Style& style)
{
    Harmony harmony;
    harmony.key = Key{random.below(12), style.minor};
    const std::vector<Progression>& pool = style.minor ? minorProgressions : majorProgressions;

    // Three different progressions from the pool: verse, chorus and bridge.
    const int count = static_cast<int>(pool.size());
    const int verseIndex = random.below(count);
    const int chorusIndex = (verseIndex + 1 + random.below(count - 1)) % count;
    int bridgeIndex = random.below(count);
    while (bridgeIndex == verseIndex || bridgeIndex == chorusIndex)
        bridgeIndex = (bridgeIndex + 1) % count;
    harmony.verse = pool[static_cast<std::size_t>(verseIndex)];
    harmony.chorus = pool[static_cast<std::size_t>(chorusIndex)];
    harmony.bridge = pool[static_cast<std::size_t>(bridgeIndex)];

    // With one chord per bar, four chords turn over every four bars; a second half that
    // answers the first makes an eight-bar phrase instead.
    if (style.chordBars == 1 && random.chance(0.6)) {
        Progression answer = harmony.verse;
        const Progression& other =
            pool[static_cast<std::size_t>(random.below(static_cast<int>(pool.size())))];
        answer[2] = other[2];
        answer[3] = other[3];
        if (answer == harmony.verse)
            answer[3] = harmony.chorus[3];
        harmony.verse.insert(harmony.verse.end(), answer.begin(), answer.end());
    }
    harmony.home = Chord{0, style.minor ? Q::minor9 : Q::major9};
    return harmony;
}

std::vector<int> voicingPitchClasses(const Key& key, const Chord& chord, bool withRoot)
{
    std::vector<int> intervals = colourIntervals(chord.quality);
    if (withRoot) {
        // Keep third and seventh; the root takes the place of the least defining tone.
        intervals[3] = 0;
    }
    std::vector<int> result;
    for (const int interval : intervals)
        result.push_back(pitchClass(key.tonic + chord.root + interval));
    return result;
}

std::vector<int> chordPitchClasses(const Key& key, const Chord& chord)
{
    std::vector<int> result;
    for (const int interval : allIntervals(chord.quality))
        result.push_back(pitchClass(key.tonic + chord.root + interval));
    return result;
}

bool isChordTone(const Key& key, const Chord& chord, int pitch)
{
    const std::vector<int> tones = chordPitchClasses(key, chord);
    return std::find(tones.begin(), tones.end(), pitchClass(pitch)) != tones.end();
}

int rootPitch(const Key& key, const Chord& chord, int low)
{
    return low + pitchClass(key.tonic + chord.root - low);
}

int fifthPitch(const Key& key, const Chord& chord, int low)
{
    return rootPitch(key, chord, low) + 7;
}

std::vector<int> melodyScale(const Key& key)
{
    const std::vector<int> steps =
        key.minor ? std::vector<int>{0, 3, 5, 7, 10} : std::vector<int>{0, 2, 4, 7, 9};
    std::vector<int> result;
    for (const int step : steps)
        result.push_back(pitchClass(key.tonic + step));
    std::sort(result.begin(), result.end());
    return result;
}

VoiceLeader::VoiceLeader(int low, int high) : low_(low), high_(high) {}

std::vector<int> VoiceLeader::next(const Key& key, const Chord& chord, bool withRoot)
{
    const std::vector<int> classes = voicingPitchClasses(key, chord, withRoot);
    std::vector<std::vector<int>> candidates(classes.size());
    for (std::size_t i = 0; i < classes.size(); ++i) {
        for (int pitch = low_ + pitchClass(classes[i] - low_); pitch <= high_; pitch += 12)
            candidates[i].push_back(pitch);
    }

    const double centre = (low_ + high_) / 2.0;
    std::vector<int> best;
    double bestCost = std::numeric_limits<double>::max();
    std::vector<std::size_t> choice(classes.size(), 0);
    std::vector<int> voicing(classes.size());
    while (true) {
        for (std::size_t i = 0; i < classes.size(); ++i)
            voicing[i] = candidates[i].empty() ? low_ : candidates[i][choice[i]];
        std::sort(voicing.begin(), voicing.end());

        double cost = 0;
        bool valid = true;
        for (std::size_t i = 1; i < voicing.size(); ++i) {
            const int gap = voicing[i] - voicing[i - 1];
            if (gap == 0)
                valid = false;
            // Seconds low in the register turn to mud.
            if (gap <= 2 && voicing[i - 1] < 55)
                cost += 6;
            if (gap == 1)
                cost += 1.5;
        }
        const int span = voicing.back() - voicing.front();
        if (span > 17)
            cost += (span - 17) * 2.0;
        double mean = 0;
        for (const int pitch : voicing)
            mean += pitch;
        mean /= static_cast<double>(voicing.size());
        cost += 0.35 * std::abs(mean - centre);
        if (previous_.size() == voicing.size()) {
            for (std::size_t i = 0; i < voicing.size(); ++i)
                cost += std::abs(voicing[i] - previous_[i]);
        }
        if (valid && cost < bestCost) {
            bestCost = cost;
            best = voicing;
        }

        std::size_t digit = 0;
        while (digit < choice.size()) {
            if (++choice[digit] < std::max<std::size_t>(1, candidates[digit].size()))
                break;
            choice[digit] = 0;
            ++digit;
        }
        if (digit == choice.size())
            break;
    }
    if (best.empty())
        best = voicing;
    previous_ = best;
    return best;
}

} // namespace calmcove::musicgen
