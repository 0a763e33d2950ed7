#include "melody.h"

#include "random.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace calmcove::musicgen {

Motif makeMotif(Random& random, int bars, double density, bool longNotes)
{
    Motif motif;
    motif.bars = bars;
    const double end = bars * 16.0;
    double step = random.pick(std::vector<double>{0, 0, 2, 4, 6});
    int contour = 0;
    const std::vector<double> lengths =
        longNotes ? std::vector<double>{4, 6, 8, 8, 12} : std::vector<double>{2, 2, 3, 4, 4, 6};
    while (step < end - 1) {
        double length = random.pick(lengths);
        if (density > 0.6 && random.chance(0.3))
            length = 1;
        length = std::min(length, end - step);
        const bool onBeat = std::fmod(step, 4.0) == 0;
        motif.notes.push_back(
            MotifNote{step, length, contour, onBeat && std::fmod(step, 8.0) == 0});

        // Mostly stepwise, leaning back toward the anchor so the line does not wander off.
        int move = random.pick(std::vector<int>{-1, -1, 1, 1, 2, -2, 0, 3, -3});
        if (std::abs(contour + move) > 4)
            move = -move;
        contour += move;

        double rest = 0;
        if (random.chance(0.75 - 0.6 * density))
            rest = random.pick(std::vector<double>{1, 2, 2, 4, 6});
        step += length + rest;
    }
    if (motif.notes.empty())
        motif.notes.push_back(MotifNote{0, std::min(8.0, end), 0, true});
    return motif;
}

Motif answerMotif(const Motif& motif, Random& random)
{
    Motif answer = motif;
    const std::size_t count = answer.notes.size();
    const std::size_t changed = std::min<std::size_t>(count, count > 3 ? 2 : 1);
    for (std::size_t i = count - changed; i < count; ++i)
        answer.notes[i].contour += random.pick(std::vector<int>{-2, -1, 1, 2});
    if (count > 2 && random.chance(0.4))
        answer.notes.erase(answer.notes.begin() + static_cast<std::ptrdiff_t>(count / 2));
    return answer;
}

Motif closingMotif(const Motif& motif)
{
    Motif closing = motif;
    // Drop notes in the final half bar and hold the last remaining one to the bar's end.
    const double end = closing.bars * 16.0;
    while (closing.notes.size() > 1 && closing.notes.back().step >= end - 8)
        closing.notes.pop_back();
    MotifNote& last = closing.notes.back();
    last.length = std::max(last.length, end - last.step);
    last.contour = std::min(last.contour, 0);
    last.accent = true;
    return closing;
}

MelodyWriter::MelodyWriter(const Key& key, int low, int high)
    : key_(key), low_(low), high_(high), last_((low + high) / 2)
{
    const std::vector<int> classes = melodyScale(key);
    for (int pitch = low - 14; pitch <= high + 14; ++pitch) {
        if (std::find(classes.begin(), classes.end(), ((pitch % 12) + 12) % 12) != classes.end())
            scale_.push_back(pitch);
    }
}

void MelodyWriter::write(const Motif& motif, int firstBar, const std::function<Chord(int)>& chordAt,
                         const Timeline& timeline, float velocity, float pan, Random& humanize,
                         std::vector<NoteEvent>& out)
{
    // Anchor: the first chord's tone nearest the previous note, inside the range.
    const Chord first = chordAt(0);
    int anchor = last_;
    int bestDistance = 1000;
    for (int pitch = low_ + 3; pitch <= high_ - 5; ++pitch) {
        if (!isChordTone(key_, first, pitch))
            continue;
        const int distance = std::abs(pitch - last_);
        if (distance < bestDistance) {
            bestDistance = distance;
            anchor = pitch;
        }
    }
    const auto nearest = std::lower_bound(scale_.begin(), scale_.end(), anchor);
    const int anchorIndex = static_cast<int>(nearest - scale_.begin());

    for (const MotifNote& note : motif.notes) {
        const int barOffset = static_cast<int>(note.step / 16);
        const Chord chord = chordAt(barOffset);
        const int index =
            std::clamp(anchorIndex + note.contour, 0, static_cast<int>(scale_.size()) - 1);
        int pitch = scale_[static_cast<std::size_t>(index)];
        const bool strong = note.accent || note.length >= 6 || std::fmod(note.step, 8.0) == 0;
        if (strong && !isChordTone(key_, chord, pitch)) {
            for (const int delta : {-1, 1, -2, 2, -3, 3}) {
                if (isChordTone(key_, chord, pitch + delta)) {
                    pitch += delta;
                    break;
                }
            }
        }
        while (pitch > high_)
            pitch -= 12;
        while (pitch < low_)
            pitch += 12;

        const double step = note.step - barOffset * 16.0;
        const std::int64_t jitter = std::llround(humanize.uniform(-0.008, 0.008) * sampleRate);
        const std::int64_t start =
            std::max<std::int64_t>(0, timeline.at(firstBar + barOffset, step) + jitter);
        const std::int64_t end = timeline.at(firstBar + barOffset, step + note.length * 0.92);
        const float accent = strong ? 1.0f : 0.86f;
        out.push_back(
            NoteEvent{start, std::max<std::int64_t>(end - start, 200), static_cast<float>(pitch),
                      velocity * accent * static_cast<float>(humanize.uniform(0.93, 1.05)), pan});
        last_ = pitch;
    }
}

} // namespace calmcove::musicgen
