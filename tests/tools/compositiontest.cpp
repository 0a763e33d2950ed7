// Composition of every catalogue row, without synthesis: timing, ranges, form, harmony
// and the differences between kinds and moods.

#include "musicgen/composer.h"
#include "musicgen/harmony.h"
#include "musicgen/melody.h"
#include "musicgen/random.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <set>

namespace calmcove::musicgen {
namespace {

struct Composed
{
    TrackSpec track;
    Style style;
    Score score;
    std::vector<Section> sections;
    Harmony harmony;
    int bars = 0;
};

Composed compose(const TrackSpec& track, double duration = 0)
{
    const Style style = styleFor(track);
    Composer composer(track, style, duration > 0 ? duration : track.durationSeconds);
    Composed result{track,
                    composer.style(),
                    composer.compose(),
                    composer.sections(),
                    composer.harmony(),
                    composer.totalBars()};
    return result;
}

TEST(CompositionTest, EveryCatalogueRowComposesAWellFormedScore)
{
    for (const TrackSpec& track : catalogueTracks()) {
        SCOPED_TRACE(track.id);
        const Composed c = compose(track);
        const Score& score = c.score;
        EXPECT_EQ(score.frames, std::llround(track.durationSeconds * 44100));
        EXPECT_GE(c.harmony.verse.size(), 4u);
        EXPECT_LE(c.harmony.verse.size(), 8u);
        EXPECT_NE(c.harmony.verse, c.harmony.chorus);

        std::size_t notes = 0;
        for (const auto& part : score.parts) {
            EXPECT_TRUE(std::is_sorted(
                part.begin(), part.end(),
                [](const NoteEvent& a, const NoteEvent& b) { return a.start < b.start; }));
            for (const NoteEvent& note : part) {
                ASSERT_GE(note.start, 0);
                ASSERT_GT(note.length, 0);
                ASSERT_LE(note.start + note.length, score.frames);
                ASSERT_GE(note.pitch, 28);
                ASSERT_LE(note.pitch, 96);
                ASSERT_GT(note.velocity, 0.0f);
                ASSERT_LE(note.velocity, 1.0f);
            }
            notes += part.size();
        }
        EXPECT_GT(notes,
                  static_cast<std::size_t>(track.durationSeconds)); // more than a note a second
        for (const DrumHit& hit : score.drums)
            ASSERT_LT(hit.start, score.frames - 44100); // the beat stops before the ending

        // Sections tile the bars without gaps.
        int bar = 0;
        for (const Section& section : c.sections) {
            EXPECT_EQ(section.firstBar, bar);
            EXPECT_GT(section.bars, 0);
            bar += section.bars;
        }
        EXPECT_EQ(bar, c.bars);
        EXPECT_LE(score.fadeOutStart, score.frames - 3 * 44100);
    }
}

TEST(CompositionTest, LongPiecesHaveFormNotALoop)
{
    const Composed c = compose(*catalogueTrack("dusty-window-light")); // 676 seconds
    std::set<SectionType> types;
    for (const Section& section : c.sections)
        types.insert(section.type);
    EXPECT_EQ(types.size(), 5u); // intro, verse, chorus, breakdown, outro
    EXPECT_GE(c.sections.size(), 12u);

    // What the keys, bass and lead play differs from bar to bar: count distinct bars.
    const double framesPerBar = 44100.0 * 240.0 / c.score.bpm;
    std::vector<std::multiset<std::pair<long, int>>> bars(static_cast<std::size_t>(c.bars) + 1);
    for (const Part part : {Part::keys, Part::bass, Part::lead, Part::pluck}) {
        for (const NoteEvent& note : c.score.part(part)) {
            const auto bar =
                static_cast<std::size_t>(static_cast<double>(note.start) / framesPerBar);
            const long step = std::lround(std::fmod(static_cast<double>(note.start), framesPerBar) /
                                          framesPerBar * 16);
            if (bar < bars.size())
                bars[bar].insert(
                    {step * 1000 + static_cast<long>(part), static_cast<int>(note.pitch)});
        }
    }
    const std::set<std::multiset<std::pair<long, int>>> distinct(bars.begin(), bars.end());
    EXPECT_GT(distinct.size(), bars.size() / 2);
}

TEST(CompositionTest, KindsPlayTheirOwnInstruments)
{
    const struct
    {
        const char* id;
        std::vector<Part> parts;
        double minBpm, maxBpm;
    } cases[] = {
        {"morning-tea-steam", {Part::keys, Part::bass}, 65, 95},
        {"rain-on-the-skylight", {Part::pad, Part::bass}, 50, 80},
        {"pixel-snowfall", {Part::bells, Part::pad, Part::bass}, 70, 100},
        {"midnight-overpass", {Part::arp, Part::bass, Part::pad}, 85, 120},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.id);
        const Composed composed = compose(*catalogueTrack(c.id));
        for (const Part part : c.parts)
            EXPECT_FALSE(composed.score.part(part).empty()) << static_cast<int>(part);
        EXPECT_FALSE(composed.score.drums.empty());
        EXPECT_GE(composed.score.bpm, c.minBpm);
        EXPECT_LE(composed.score.bpm, c.maxBpm);
    }
    const Composed glitch = compose(*catalogueTrack("pixel-snowfall"));
    EXPECT_FALSE(glitch.score.stutters.empty());
    EXPECT_TRUE(std::any_of(glitch.score.drums.begin(), glitch.score.drums.end(),
                            [](const DrumHit& h) { return h.sound == DrumSound::click; }));
}

TEST(CompositionTest, MoodsSetTempoAndColour)
{
    // Averaged over the catalogue, sleepy pieces are slower and darker than boost pieces.
    double sleepyBpm = 0, boostBpm = 0, sleepyBright = 0, boostBright = 0;
    int sleepy = 0, boost = 0;
    for (const TrackSpec& track : catalogueTracks()) {
        const Style style = styleFor(track);
        if (track.moods.contains(Mood::sleepy)) {
            sleepyBpm += style.bpm;
            sleepyBright += style.brightness;
            ++sleepy;
        }
        if (track.moods.contains(Mood::boost)) {
            boostBpm += style.bpm;
            boostBright += style.brightness;
            ++boost;
        }
        EXPECT_EQ(style.rain > 0, track.moods.contains(Mood::rainy)) << track.id;
    }
    ASSERT_GT(sleepy, 0);
    ASSERT_GT(boost, 0);
    EXPECT_LT(sleepyBpm / sleepy, boostBpm / boost - 10);
    EXPECT_LT(sleepyBright / sleepy, boostBright / boost - 0.2);
}

TEST(CompositionTest, VoiceLeadingMovesLittleAndStaysOnChordTones)
{
    Random random(7);
    for (int round = 0; round < 20; ++round) {
        Style style;
        style.minor = round % 2 == 1;
        const Harmony harmony = chooseHarmony(random, style);
        VoiceLeader leader(53, 75);
        std::vector<int> previous;
        for (int pass = 0; pass < 3; ++pass) {
            for (const Chord& chord : harmony.verse) {
                const std::vector<int> voicing = leader.next(harmony.key, chord, false);
                ASSERT_EQ(voicing.size(), 4u);
                EXPECT_TRUE(std::is_sorted(voicing.begin(), voicing.end()));
                EXPECT_EQ(std::set<int>(voicing.begin(), voicing.end()).size(), 4u);
                for (const int pitch : voicing) {
                    EXPECT_GE(pitch, 53);
                    EXPECT_LE(pitch, 75);
                    EXPECT_TRUE(isChordTone(harmony.key, chord, pitch));
                }
                if (!previous.empty()) {
                    int movement = 0;
                    for (std::size_t i = 0; i < 4; ++i)
                        movement += std::abs(voicing[i] - previous[i]);
                    EXPECT_LE(movement, 12); // common tones held, the rest move by steps
                }
                previous = voicing;
            }
        }
    }
}

TEST(CompositionTest, MelodiesLandOnChordTonesOnTheDownbeat)
{
    int checked = 0;
    for (const char* id :
         {"morning-tea-steam", "rain-on-the-skylight", "midnight-overpass", "corner-bookshop"}) {
        const TrackSpec track = *catalogueTrack(id);
        const Style style = styleFor(track);
        Composer composer(track, style, track.durationSeconds);
        const Score score = composer.compose();
        const double framesPerBar = composer.timeline().framesPerBar();
        const double leadIn = static_cast<double>(composer.timeline().at(0, 0));
        for (const Part part : {Part::lead, Part::pluck}) {
            for (const NoteEvent& note : score.part(part)) {
                const double position = (static_cast<double>(note.start) - leadIn) / framesPerBar;
                const double bar = std::round(position);
                if (std::abs(position - bar) > 0.01)
                    continue; // only notes on the one
                const Chord chord = composer.chordAt(static_cast<int>(bar));
                EXPECT_TRUE(
                    isChordTone(composer.harmony().key, chord, static_cast<int>(note.pitch)))
                    << id << " bar " << bar << " pitch " << note.pitch;
                ++checked;
            }
        }
    }
    EXPECT_GT(checked, 5);
}

TEST(CompositionTest, FittingBarsIntoTheDurationKeepsTheTempo)
{
    // Whole bars must fill the length between lead-in and tail; the tempo may bend a little
    // for that, never so much that the piece changes character.
    const TrackSpec track = *catalogueTrack("morning-tea-steam");
    const double nominal = styleFor(track).bpm;
    for (const double duration : {8.0, 20.0, 45.0, 72.0, 164.0, 333.3, 759.0}) {
        SCOPED_TRACE(duration);
        const Composed c = compose(track, duration);
        EXPECT_EQ(c.score.frames, std::llround(duration * 44100));
        // Rounding to whole bars bends the tempo by at most half a bar over the piece's bars.
        EXPECT_NEAR(c.score.bpm, nominal, nominal * (duration >= 45 ? 0.05 : 0.25));
        // The music ends where the tail begins, 3 to 6 seconds before the end.
        const double barSeconds = 240.0 / c.score.bpm;
        const double musicEnd = c.bars * barSeconds + std::min(0.25, 0.04 * duration);
        EXPECT_GE(duration - musicEnd, std::min(3.0, 0.35 * duration) - 0.01);
        EXPECT_LE(duration - musicEnd, 6.01);
        const bool hasIntro = !c.sections.empty() && c.sections.front().type == SectionType::intro;
        EXPECT_EQ(hasIntro, c.bars >= 6);
    }
}

TEST(CompositionTest, MotifsAnswerAndClose)
{
    Random random(11);
    for (int round = 0; round < 50; ++round) {
        const Motif motif = makeMotif(random, 2, random.uniform(), round % 2 == 0);
        ASSERT_FALSE(motif.notes.empty());
        for (const MotifNote& note : motif.notes) {
            EXPECT_GE(note.step, 0);
            EXPECT_LE(note.step + note.length, 32.0 + 1e-9);
            EXPECT_LE(std::abs(note.contour), 7);
        }
        // An answer keeps the rhythm's opening and changes the ending.
        const Motif answer = answerMotif(motif, random);
        EXPECT_EQ(answer.notes.front().step, motif.notes.front().step);
        // A closing motif holds its last note to the end of its last bar.
        const Motif closing = closingMotif(motif);
        EXPECT_DOUBLE_EQ(closing.notes.back().step + closing.notes.back().length, 32.0);
        EXPECT_TRUE(closing.notes.back().accent);
    }
}

} // namespace
} // namespace calmcove::musicgen
