#pragma once

// What the generator needs to know about a piece: the catalogue row's id (which seeds
// every choice), its kind, moods and length. Plain standard types, so the synthesis never
// depends on Qt.

#include "model/mood.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace calmcove::musicgen {

struct TrackSpec
{
    std::string id;
    std::string title;
    std::string artist;
    CalmKind kind = CalmKind::dustyBeat;
    MoodSet moods;
    double durationSeconds = 0;

    bool operator==(const TrackSpec&) const = default;
};

// Every row of the compiled-in catalogue, in catalogue order.
std::vector<TrackSpec> catalogueTracks();
// The catalogue row with this id; nullopt for an unknown id.
std::optional<TrackSpec> catalogueTrack(std::string_view id);

std::string kindName(CalmKind kind);
std::string moodNames(const MoodSet& moods); // "Focus, Cozy"

} // namespace calmcove::musicgen
