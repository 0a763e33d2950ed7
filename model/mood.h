#pragma once

// The moods a track fits and the kinds of sound it belongs to. Their raw values are
// the texts shown to the user and the values stored in settings and manifests.

#include <array>
#include <optional>
#include <QString>
#include <QStringView>
#include <set>

namespace calmcove {

enum class Mood
{
    focus,
    cozy,
    rainy,
    night,
    sleepy,
    boost
};

enum class CalmKind
{
    all,
    dustyBeat,
    vaporwave,
    softGlitch,
    nightDrive
};

using MoodSet = std::set<Mood>;

// Every case in declaration order.
inline constexpr std::array<Mood, 6> allMoods = {Mood::focus, Mood::cozy,   Mood::rainy,
                                                 Mood::night, Mood::sleepy, Mood::boost};
inline constexpr std::array<CalmKind, 5> allKinds = {CalmKind::all, CalmKind::dustyBeat,
                                                     CalmKind::vaporwave, CalmKind::softGlitch,
                                                     CalmKind::nightDrive};

QString rawValue(Mood mood);
QString subtitle(Mood mood);
// A symbol name of the player panel's mood list.
QString symbolName(Mood mood);
// Exact, case-sensitive match of a raw value; anything else is no mood.
std::optional<Mood> moodFromRawValue(QStringView rawValue);

QString rawValue(CalmKind kind);
QString subtitle(CalmKind kind);
QString symbolName(CalmKind kind);
std::optional<CalmKind> kindFromRawValue(QStringView rawValue);

// All six moods: the moods of every imported track.
MoodSet everyMood();

} // namespace calmcove
