#include "trackspec.h"

#include "model/tracklibrary.h"

namespace calmcove::musicgen {

std::vector<TrackSpec> catalogueTracks()
{
    std::vector<TrackSpec> result;
    for (const CalmTrack& track : TrackLibrary::tracks()) {
        result.push_back(TrackSpec{
            .id = track.id.toStdString(),
            .title = track.title.toStdString(),
            .artist = track.artist.toStdString(),
            .kind = track.kind,
            .moods = track.moods,
            .durationSeconds = track.duration,
        });
    }
    return result;
}

std::optional<TrackSpec> catalogueTrack(std::string_view id)
{
    for (TrackSpec& track : catalogueTracks()) {
        if (track.id == id)
            return std::move(track);
    }
    return std::nullopt;
}

std::string kindName(CalmKind kind)
{
    return rawValue(kind).toStdString();
}

std::string moodNames(const MoodSet& moods)
{
    std::string result;
    for (const Mood mood : moods) {
        if (!result.empty())
            result += ", ";
        result += rawValue(mood).toStdString();
    }
    return result;
}

} // namespace calmcove::musicgen
