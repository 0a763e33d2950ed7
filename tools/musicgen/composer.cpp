#include "composer.h"

#include "arrangement.h"

#include <algorithm>
#include <cmath>

namespace calmcove::musicgen {

Composer::Composer(const TrackSpec& track, const Style& style, double durationSeconds)
    : track_(track), style_(style), choices_(Random::stream(track.id, "arrangement")),
      humanize_(Random::stream(track.id, "humanize"))
{
    Random harmonyRandom = Random::stream(track.id, "harmony");
    harmony_ = chooseHarmony(harmonyRandom, style_);

    // Whole bars between a short lead-in and a tail where the last chord rings out; the
    // tempo bends slightly so the bars fill the duration exactly.
    const double duration = std::max(durationSeconds, 0.5);
    score_.frames = std::llround(duration * sampleRate);
    const double leadIn = std::min(0.25, 0.04 * duration);
    const double tail = std::min(std::clamp(0.06 * duration, 3.0, 6.0), 0.35 * duration);
    const double music = std::max(duration - leadIn - tail, 0.1);
    const double nominalBar = 240.0 / style_.bpm;
    bars_ = std::max(1, static_cast<int>(std::lround(music / nominalBar)));
    // Pieces shorter than a bar keep their tempo and are simply faded out.
    const double bpm = music < 0.75 * nominalBar ? style_.bpm : 240.0 * bars_ / music;
    style_.bpm = bpm;
    score_.bpm = bpm;
    timeline_ = Timeline(bpm, style_.swing, std::llround(leadIn * sampleRate));
    tailStart_ = std::min(timeline_.at(bars_, 0), score_.frames);
    const double fadeBars = duration >= 60 ? 1.0 : 0.0;
    score_.fadeOutStart = std::clamp<std::int64_t>(
        std::min(tailStart_ - std::llround(fadeBars * timeline_.framesPerBar()),
                 score_.frames - std::llround(tail * sampleRate)),
        0, score_.frames);
    planSections(track.id);
}

void Composer::planSections(const std::string& trackId)
{
    Random random = Random::stream(trackId, "form");
    const int intro = bars_ >= 40 ? 4 : bars_ >= 16 ? 2 : bars_ >= 6 ? 1 : 0;
    const int outro = bars_ >= 40 ? 4 : bars_ >= 16 ? 2 : bars_ >= 8 ? 1 : 0;

    using T = SectionType;
    const std::vector<std::vector<T>> forms = {
        {T::verse, T::chorus, T::verse, T::breakdown, T::chorus, T::verse, T::chorus},
        {T::verse, T::verse, T::chorus, T::breakdown, T::verse, T::chorus, T::chorus},
        {T::verse, T::chorus, T::breakdown, T::verse, T::chorus, T::verse, T::breakdown, T::chorus},
    };
    // Each pass through a form is followed by another, so long pieces do not cycle.
    const std::vector<T>* form = &random.pick(forms);
    int counts[5] = {0, 0, 0, 0, 0};
    const auto add = [&](T type, int first, int length) {
        sections_.push_back(Section{type, first, length, counts[static_cast<int>(type)]++});
    };
    if (intro > 0)
        add(T::intro, 0, intro);
    int bar = intro;
    const int middleEnd = bars_ - outro;
    std::size_t position = 0;
    while (bar < middleEnd) {
        if (position == form->size()) {
            form = &random.pick(forms);
            position = 0;
        }
        const T type = (*form)[position++];
        int length = type == T::breakdown ? (bars_ >= 64 && random.chance(0.5) ? 8 : 4) : 8;
        const int remaining = middleEnd - bar;
        length = std::min(length, remaining);
        if (remaining - length > 0 && remaining - length < 4)
            length = remaining;
        add(type, bar, length);
        bar += length;
    }
    if (outro > 0)
        add(T::outro, middleEnd, outro);
}

const Section& Composer::sectionOf(int bar) const
{
    for (const Section& section : sections_) {
        if (bar >= section.firstBar && bar < section.firstBar + section.bars)
            return section;
    }
    return sections_.back();
}

Chord Composer::chordAt(int bar) const
{
    if (bar >= bars_ || bar < 0 || sections_.empty())
        return harmony_.home;
    const Section& section = sectionOf(bar);
    const Progression& progression = section.type == SectionType::chorus      ? harmony_.chorus
                                     : section.type == SectionType::breakdown ? harmony_.bridge
                                                                              : harmony_.verse;
    const int index =
        ((bar - section.firstBar) / style_.chordBars) % static_cast<int>(progression.size());
    return progression[static_cast<std::size_t>(index)];
}

void Composer::note(Part part, int bar, double step, double lengthSteps, float pitch,
                    float velocity, float pan, double jitterMs)
{
    const std::int64_t jitter =
        std::llround(humanize_.uniform(-jitterMs, jitterMs) * 0.001 * sampleRate);
    const std::int64_t start =
        std::clamp<std::int64_t>(timeline_.at(bar, step) + jitter, 0, score_.frames - 1);
    const std::int64_t end = std::min(timeline_.at(bar, step + lengthSteps), score_.frames);
    if (end - start < 64)
        return;
    score_.part(part).push_back(
        NoteEvent{start, end - start, pitch, std::clamp(velocity, 0.0f, 1.0f), pan});
}

void Composer::drum(DrumSound sound, int bar, double step, float velocity, float pan, int variant,
                    double jitterMs)
{
    const std::int64_t jitter =
        std::llround(humanize_.uniform(-jitterMs, jitterMs) * 0.001 * sampleRate);
    const std::int64_t start = timeline_.at(bar, step) + jitter;
    if (start < 0 || start >= tailStart_)
        return;
    score_.drums.push_back(DrumHit{start, sound, std::clamp(velocity, 0.0f, 1.0f), pan, variant});
}

void Composer::stutter(int bar, double step, double sliceSteps, int repeats)
{
    const std::int64_t start = timeline_.at(bar, step);
    const int slice = static_cast<int>(timeline_.length(sliceSteps));
    if (start + static_cast<std::int64_t>(slice) * repeats < tailStart_)
        score_.stutters.push_back(StutterEvent{start, slice, repeats});
}

Score Composer::compose()
{
    std::unique_ptr<Arrangement> arrangement;
    switch (style_.kind) {
    case CalmKind::all:
    case CalmKind::dustyBeat:
        arrangement = makeDustyBeatArrangement(*this);
        break;
    case CalmKind::vaporwave:
        arrangement = makeVaporwaveArrangement(*this);
        break;
    case CalmKind::softGlitch:
        arrangement = makeSoftGlitchArrangement(*this);
        break;
    case CalmKind::nightDrive:
        arrangement = makeNightDriveArrangement(*this);
        break;
    }

    VoiceLeader leader(53, 75);
    std::vector<int> voicing;
    const auto barFrames = static_cast<std::int64_t>(timeline_.framesPerBar());
    for (const Section& section : sections_) {
        arrangement->beginSection(section);
        for (int i = 0; i < section.bars; ++i) {
            BarContext context;
            context.bar = section.firstBar + i;
            context.barInSection = i;
            context.section = &section;
            context.chord = chordAt(context.bar);
            context.nextChord = chordAt(context.bar + 1);
            context.chordStarts = i % style_.chordBars == 0 || voicing.empty();
            if (context.chordStarts)
                voicing = leader.next(harmony_.key, context.chord, false);
            context.voicing = voicing;
            arrangement->writeBar(context);
        }

        // Tone automation: the intro opens up, breakdowns close a little, the outro dims.
        const std::int64_t start = timeline_.at(section.firstBar, 0);
        const std::int64_t end = timeline_.at(section.firstBar + section.bars, 0);
        switch (section.type) {
        case SectionType::intro:
            score_.openness.push_back({0, 0.3f});
            score_.openness.push_back({end, 1.0f});
            break;
        case SectionType::breakdown:
            score_.openness.push_back({start, 1.0f});
            score_.openness.push_back({std::min(start + barFrames, end), 0.72f});
            score_.openness.push_back({std::max(end - barFrames, start), 0.72f});
            score_.openness.push_back({end, 1.0f});
            break;
        case SectionType::outro:
            score_.openness.push_back({start, 1.0f});
            score_.openness.push_back({score_.frames, 0.55f});
            break;
        case SectionType::verse:
        case SectionType::chorus:
            break;
        }
    }
    if (score_.openness.empty())
        score_.openness.push_back({0, 1.0f});
    arrangement->writeEnding(bars_, leader.next(harmony_.key, harmony_.home, true));
    score_.sort();
    return score_;
}

} // namespace calmcove::musicgen
