// Composition of every catalogue row, without synthesis: timing, ranges, form, harmony
// and the differences between kinds and moods.

#include "musicgen/composer.h"
#include "musicgen/harmony.h"
#include "musicgen/random.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <set>

namespace calmcove::musicgen {
namespace {

struct Composed
{
    Composer composer;
    Score score;
};

Composed compose(const TrackSpec& track, double duration = 0)
{
    Composer composer(track, styleFor(track), duration > 0 ? duration : track.durationSeconds);
    Score score = composer.compose();
    return {std::move(composer), std::move(score)};
}

TEST(CompositionTest, EveryCatalogueRowComposesAWellFormedScore)
{
    for (const TrackSpec& track : catalogueTracks()) {
        SCOPED_TRACE(track.id);
        const auto [composer, score] = compose(track);
        EXPECT_EQ(score.frames, std::llround(track.durationSeconds * 44100));
        const Harmony& harmony = composer.harmony();
        EXPECT_GE(harmony.verse.size(), 4u);
        EXPECT_LE(harmony.verse.size(), 8u);
        EXPECT_NE(harmony.verse, harmony.chorus);

        std::size_t notes = 0;
        for (const auto& part : score.parts) {
            EXPECT_TRUE(std::is_sorted(
                part.begin(), part.end(),
                [](const NoteEvent& a, const NoteEvent& b) { return a.start < b.start; }));
            for (const NoteEvent& n : part)
                ASSERT_TRUE(n.start >= 0 && n.length > 0 && n.start + n.length <= score.frames &&
                            n.pitch >= 28 && n.pitch <= 96 && n.velocity > 0 && n.velocity <= 1)
                    << n.start << " " << n.length << " " << n.pitch << " " << n.velocity;
            notes += part.size();
        }
        EXPECT_GT(notes, static_cast<std::size_t>(track.durationSeconds)); // over 1 a second
        for (const DrumHit& hit : score.drums)
            ASSERT_LT(hit.start, score.frames - 44100); // the beat stops before the ending

        // Sections tile the bars without gaps.
        int bar = 0;
        for (const Section& section : composer.sections()) {
            EXPECT_EQ(section.firstBar, bar);
            EXPECT_GT(section.bars, 0);
            bar += section.bars;
        }
        EXPECT_EQ(bar, composer.totalBars());
        EXPECT_LE(score.fadeOutStart, score.frames - 3 * 44100);
    }
}

TEST(CompositionTest, LongPiecesHaveFormNotALoop)
{
    const auto [composer, score] = compose(*catalogueTrack("dusty-window-light")); // 676 s
    std::set<SectionType> types;
    for (const Section& section : composer.sections())
        types.insert(section.type);
    EXPECT_EQ(types.size(), 5u); // intro, verse, chorus, breakdown, outro
    EXPECT_GE(composer.sections().size(), 12u);

    // What the keys, bass and lead play differs from bar to bar: count distinct bars.
    const double framesPerBar = composer.timeline().framesPerBar();
    std::vector<std::multiset<std::pair<long, int>>> bars(
        static_cast<std::size_t>(composer.totalBars()) + 1);
    for (const Part part : {Part::keys, Part::bass, Part::lead, Part::pluck}) {
        for (const NoteEvent& note : score.part(part)) {
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
        const Score score = compose(*catalogueTrack(c.id)).score;
        for (const Part part : c.parts)
            EXPECT_FALSE(score.part(part).empty()) << static_cast<int>(part);
        EXPECT_FALSE(score.drums.empty());
        EXPECT_GE(score.bpm, c.minBpm);
        EXPECT_LE(score.bpm, c.maxBpm);
    }
    const Score glitch = compose(*catalogueTrack("pixel-snowfall")).score;
    EXPECT_FALSE(glitch.stutters.empty());
    EXPECT_TRUE(std::any_of(glitch.drums.begin(), glitch.drums.end(),
                            [](const DrumHit& h) { return h.sound == DrumSound::click; }));
}

TEST(CompositionTest, MoodsSetTempoAndColour)
{
    // Averaged over the catalogue, sleepy pieces are slower and darker than boost pieces.
    const auto average = [](Mood mood, double Style::*field) {
        double sum = 0, count = 0;
        for (const TrackSpec& track : catalogueTracks()) {
            if (track.moods.contains(mood)) {
                sum += styleFor(track).*field;
                ++count;
            }
        }
        return count > 0 ? sum / count : std::nan("");
    };
    EXPECT_LT(average(Mood::sleepy, &Style::bpm), average(Mood::boost, &Style::bpm) - 10);
    EXPECT_LT(average(Mood::sleepy, &Style::brightness),
              average(Mood::boost, &Style::brightness) - 0.2);
    for (const TrackSpec& track : catalogueTracks())
        EXPECT_EQ(styleFor(track).rain > 0, track.moods.contains(Mood::rainy)) << track.id;
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
                for (const int pitch : voicing)
                    EXPECT_TRUE(pitch >= 53 && pitch <= 75 &&
                                isChordTone(harmony.key, chord, pitch))
                        << pitch;
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
        const auto [composer, score] = compose(*catalogueTrack(id));
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
        const auto [composer, score] = compose(track, duration);
        EXPECT_EQ(score.frames, std::llround(duration * 44100));
        // Rounding to whole bars bends the tempo by at most half a bar over the piece's bars.
        EXPECT_NEAR(score.bpm, nominal, nominal * (duration >= 45 ? 0.05 : 0.25));
        // The music ends where the tail begins, 3 to 6 seconds before the end.
        const int bars = composer.totalBars();
        const double musicEnd = bars * 240.0 / score.bpm + std::min(0.25, 0.04 * duration);
        EXPECT_GE(duration - musicEnd, std::min(3.0, 0.35 * duration) - 0.01);
        EXPECT_LE(duration - musicEnd, 6.01);
        const std::vector<Section>& sections = composer.sections();
        EXPECT_EQ(!sections.empty() && sections.front().type == SectionType::intro, bars >= 6);
    }
}

} // namespace
} // namespace calmcove::musicgen
