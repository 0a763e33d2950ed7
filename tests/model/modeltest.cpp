// The value records: raw values, order and the equality the player relies on.

#include "model/calmtrack.h"
#include "model/pathcomponent.h"
#include "support/qtprinters.h"

#include <gtest/gtest.h>

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

TEST(MoodTest, RawValuesRoundTripInDeclarationOrder)
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
}

TEST(MoodTest, RawValueMatchIsExactAndCaseSensitive)
{
    for (const char* text : {"focus", "Focus ", " Focus", "FOCUS", ""})
        EXPECT_FALSE(moodFromRawValue(QString::fromLatin1(text))) << text;
    for (const char* text : {"Dusty Beat", "dusty beat", "dustyBeat", "All "})
        EXPECT_FALSE(kindFromRawValue(QString::fromLatin1(text))) << text;
}

TEST(MoodTest, SubtitlesAndSymbols)
{
    EXPECT_EQ(subtitle(Mood::sleepy), QStringLiteral("Slow and low contrast"));
    EXPECT_EQ(symbolName(Mood::cozy), QStringLiteral("cup.and.saucer.fill"));
    EXPECT_EQ(subtitle(CalmKind::all), QStringLiteral("Every default album sound"));
    EXPECT_EQ(symbolName(CalmKind::nightDrive), QStringLiteral("car.fill"));
}

TEST(CalmTrackTest, EqualityComparesEveryField)
{
    const CalmTrack track = sampleTrack();
    EXPECT_EQ(track, sampleTrack());

    CalmTrack longer = track;
    longer.duration = 121;
    EXPECT_NE(track, longer);

    CalmTrack otherMoods = track;
    otherMoods.moods = {Mood::night};
    EXPECT_NE(track, otherMoods);

    CalmTrack asFile = track;
    asFile.source = FileAudio{QStringLiteral("/music/harbor-road")};
    EXPECT_NE(track, asFile);
    CalmTrack samePath = asFile;
    EXPECT_EQ(asFile, samePath);
    samePath.source = FileAudio{QStringLiteral("/music/other")};
    EXPECT_NE(asFile, samePath);
}

TEST(CalmAlbumTest, ArtworkComparesByCaseAndPayload)
{
    EXPECT_EQ(AlbumArtwork{NoArtwork{}}, AlbumArtwork{NoArtwork{}});
    EXPECT_NE(AlbumArtwork{AssetArtwork{QStringLiteral("a")}},
              AlbumArtwork{FileArtwork{QStringLiteral("a")}});
    EXPECT_NE(AlbumArtwork{FileArtwork{QStringLiteral("/a")}},
              AlbumArtwork{FileArtwork{QStringLiteral("/b")}});
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
