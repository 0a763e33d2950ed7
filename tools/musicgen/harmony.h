#pragma once

// Keys, chords and progressions, and the voice leading that moves from one chord to the
// next with the least motion so repeated progressions sound like playing, not pasting.

#include <vector>

namespace calmcove::musicgen {

class Random;
struct Style;

enum class ChordQuality
{
    major7,
    major9,
    minor7,
    minor9,
    minor11,
    dominant13,
    sus9,
    sixNine
};

struct Chord
{
    int root = 0; // semitones above the key's tonic
    ChordQuality quality = ChordQuality::major9;
    bool operator==(const Chord&) const = default;
};

struct Key
{
    int tonic = 0; // pitch class, 0 = C
    bool minor = false;
};

using Progression = std::vector<Chord>;

struct Harmony
{
    Key key;
    Progression verse;  // 4 or 8 chords
    Progression chorus; // 4 chords, a different colour
    Progression bridge; // 4 chords for breakdowns, different from both
    Chord home;         // the tonic chord the piece ends on
};

Harmony chooseHarmony(Random& random, const Style& style);

// Pitch classes (0–11, absolute) of the chord's colour tones: the four a rootless voicing
// uses (third, seventh and tensions); with `withRoot`, the root replaces one of them.
std::vector<int> voicingPitchClasses(const Key& key, const Chord& chord, bool withRoot);
// Every pitch class of the chord, root first.
std::vector<int> chordPitchClasses(const Key& key, const Chord& chord);
bool isChordTone(const Key& key, const Chord& chord, int pitch);
// The chord's root in [low, low + 12).
int rootPitch(const Key& key, const Chord& chord, int low);
// The fifth above rootPitch(…, low) (the flat fifth never occurs in our qualities).
int fifthPitch(const Key& key, const Chord& chord, int low);
// The melody's scale: the key's pentatonic, absolute pitch classes in rising order.
std::vector<int> melodyScale(const Key& key);

// Chooses voicings inside a register, each as close as possible to the previous one.
class VoiceLeader
{
public:
    // low, high: MIDI pitch range every note stays in; centre: where voicings gravitate.
    VoiceLeader(int low, int high);
    // Sorted MIDI pitches of the next chord.
    std::vector<int> next(const Key& key, const Chord& chord, bool withRoot);

private:
    int low_;
    int high_;
    std::vector<int> previous_;
};

} // namespace calmcove::musicgen
