// The value records: raw values, order and the equality the player relies on.

#include "model/calmtrack.h"
#include "model/pathcomponent.h"
#include "support/qtprinters.h"

#include <gtest/gtest.h>

#include <functional>

namespace calmcove {
namespace {

CalmTrack sampleTrack()
{
    return CalmTrack{
        .id = QStringLiteral("harbor-road"),
        .albumID = builtInAlbumID,
        .title = QStringLiteral("Harbor Road"),
        .artist = QStringLiteral("Someone"),
        .duration = 120,
        .moods = {Mood::night, Mood::focus},
        .kind = CalmKind::nightDrive,
        .source = BundledAudio{QStringLiteral("harbor-road")},
    };
}

TEST(MoodTest, RawValuesRoundTripInDeclarationOrderAndMatchExactly)
{
    QStringList names;
    for (Mood mood : allMoods) {
        names << rawValue(mood);
        EXPECT_EQ(moodFromRawValue(rawValue(mood)), mood);
    }
    EXPECT_EQ(names, QStringList({"Focus", "Cozy", "Rainy", "Night", "Sleepy", "Boost"}));
    QStringList kinds;
    for (CalmKind kind : allKinds) {
        kinds << rawValue(kind);
        EXPECT_EQ(kindFromRawValue(rawValue(kind)), kind);
    }
    EXPECT_EQ(kinds, QStringList({"All", "Dusty beat", "Vaporwave", "Soft glitch", "Night drive"}));

    for (const char* text : {"focus", "Focus ", " Focus", "FOCUS", ""})
        EXPECT_FALSE(moodFromRawValue(QString::fromLatin1(text))) << text;
    for (const char* text : {"Dusty Beat", "dusty beat", "dustyBeat", "All "})
        EXPECT_FALSE(kindFromRawValue(QString::fromLatin1(text))) << text;
    EXPECT_EQ(subtitle(Mood::sleepy), QStringLiteral("Slow and low contrast"));
    EXPECT_EQ(subtitle(CalmKind::all), QStringLiteral("Every default album sound"));
}

TEST(CalmTrackTest, EqualityComparesEveryField)
{
    const CalmTrack track = sampleTrack();
    EXPECT_EQ(track, sampleTrack());
    const std::function<void(CalmTrack&)> changes[] = {
        [](CalmTrack& t) { t.duration = 121; },
        [](CalmTrack& t) { t.moods = {Mood::night}; },
        [](CalmTrack& t) { t.source = FileAudio{QStringLiteral("/music/harbor-road")}; },
    };
    for (const auto& change : changes) {
        CalmTrack changed = track;
        change(changed);
        EXPECT_NE(track, changed);
    }
    EXPECT_NE(AudioSource(FileAudio{QStringLiteral("/a")}),
              AudioSource(FileAudio{QStringLiteral("/b")}));
}

TEST(PathComponentTest, OnlyPlainSingleNamesPass)
{
    for (const char* safe : {"1.2.0", "cover.png", "Track 01.m4a", "A-B_c", "Ünïcode name"})
        EXPECT_TRUE(isSafePathComponent(QString::fromUtf8(safe))) << safe;
    const QString unsafe[] = {
        QString(),
        QStringLiteral("   "),
        QStringLiteral(" a"),
        QStringLiteral("a\n"),
        QStringLiteral("a "),
        QStringLiteral("\u00a0a"),
        QStringLiteral("."),
        QStringLiteral(".."),
        QStringLiteral(".hidden"),
        QStringLiteral("a/b"),
        QStringLiteral("a\\b"),
        QStringLiteral("c:d"),
        QString::fromUtf8("a\0b", 3),
        QStringLiteral("tab\there"),
        QString(QChar(0x7f)),
        QStringLiteral("a") + QChar(0x1f),
    };
    for (const QString& value : unsafe)
        EXPECT_FALSE(isSafePathComponent(value)) << value.toStdString();
}

} // namespace
} // namespace calmcove
