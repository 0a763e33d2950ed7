#include "mood.h"

namespace calmcove {

namespace {

struct MoodRow
{
    Mood mood;
    const char* rawValue;
    const char* subtitle;
    const char* symbol;
};

constexpr MoodRow moodRows[] = {
    {Mood::focus, "Focus", "Clean loop, warm lows", "scope"},
    {Mood::cozy, "Cozy", "Soft room, easy tempo", "cup.and.saucer.fill"},
    {Mood::rainy, "Rainy", "Wide, hazy, reflective", "cloud.rain.fill"},
    {Mood::night, "Night", "Dark, low, cinematic", "moon.stars.fill"},
    {Mood::sleepy, "Sleepy", "Slow and low contrast", "bed.double.fill"},
    {Mood::boost, "Boost", "Brighter, more forward", "bolt.fill"},
};

struct KindRow
{
    CalmKind kind;
    const char* rawValue;
    const char* subtitle;
    const char* symbol;
};

constexpr KindRow kindRows[] = {
    {CalmKind::all, "All", "Every default album sound", "circle.grid.2x2.fill"},
    {CalmKind::dustyBeat, "Dusty beat", "Soft drums and tape feel", "record.circle"},
    {CalmKind::vaporwave, "Vaporwave", "Hazy synth texture", "waveform"},
    {CalmKind::softGlitch, "Soft glitch", "Light digital detail", "sparkles"},
    {CalmKind::nightDrive, "Night drive", "Low-lit late tracks", "car.fill"},
};

const MoodRow& row(Mood mood)
{
    return moodRows[static_cast<int>(mood)];
}

const KindRow& row(CalmKind kind)
{
    return kindRows[static_cast<int>(kind)];
}

} // namespace

QString rawValue(Mood mood)
{
    return QString::fromLatin1(row(mood).rawValue);
}

QString subtitle(Mood mood)
{
    return QString::fromLatin1(row(mood).subtitle);
}

QString symbolName(Mood mood)
{
    return QString::fromLatin1(row(mood).symbol);
}

std::optional<Mood> moodFromRawValue(QStringView rawValue)
{
    for (const MoodRow& candidate : moodRows) {
        if (rawValue == QLatin1String(candidate.rawValue))
            return candidate.mood;
    }
    return std::nullopt;
}

QString rawValue(CalmKind kind)
{
    return QString::fromLatin1(row(kind).rawValue);
}

QString subtitle(CalmKind kind)
{
    return QString::fromLatin1(row(kind).subtitle);
}

QString symbolName(CalmKind kind)
{
    return QString::fromLatin1(row(kind).symbol);
}

std::optional<CalmKind> kindFromRawValue(QStringView rawValue)
{
    for (const KindRow& candidate : kindRows) {
        if (rawValue == QLatin1String(candidate.rawValue))
            return candidate.kind;
    }
    return std::nullopt;
}

MoodSet everyMood()
{
    return MoodSet(allMoods.begin(), allMoods.end());
}

} // namespace calmcove
