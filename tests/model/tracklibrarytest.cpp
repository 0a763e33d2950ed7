// The compiled-in catalogue and the starter audio that ships with the program.

#include "model/tracklibrary.h"
#include "platform/apppaths.h"
#include "support/ffmpegprobe.h"
#include "support/qtprinters.h"

#include <gtest/gtest.h>
#include <QFileInfo>
#include <QRegularExpression>

namespace calmcove {
namespace {

TEST(TrackLibraryTest, HasTheShapeOfTheDefaultAlbum)
{
    const QList<CalmTrack>& tracks = TrackLibrary::tracks();
    ASSERT_EQ(tracks.size(), 51);

    QSet<QString> ids;
    QSet<CalmKind> kinds;
    const QRegularExpression slug(QStringLiteral("^[a-z0-9]+(-[a-z0-9]+)*$"));
    for (const CalmTrack& track : tracks) {
        SCOPED_TRACE(track.id.toStdString());
        EXPECT_TRUE(slug.match(track.id).hasMatch());
        EXPECT_FALSE(ids.contains(track.id));
        ids.insert(track.id);
        QString expected = track.title.toLower();
        expected.remove(QRegularExpression(QStringLiteral("[^a-z0-9 ]")));
        EXPECT_EQ(track.id, expected.split(QLatin1Char(' '), Qt::SkipEmptyParts).join('-'));
        EXPECT_EQ(track.albumID, QStringLiteral("built-in-calm"));
        EXPECT_EQ(track.artist, tracks.first().artist);
        EXPECT_GE(track.duration, 72);
        EXPECT_LE(track.duration, 759);
        EXPECT_EQ(track.duration, std::floor(track.duration));
        EXPECT_EQ(track.moods.size(), 2u);
        EXPECT_NE(track.kind, CalmKind::all);
        kinds.insert(track.kind);
        EXPECT_EQ(track.source, AudioSource(BundledAudio{track.id}));
    }
    EXPECT_EQ(kinds.size(), 4);
}

TEST(TrackLibraryTest, BuiltInAlbumAndStarters)
{
    const CalmAlbum& album = TrackLibrary::builtInAlbum();
    EXPECT_EQ(album, (CalmAlbum{QStringLiteral("built-in-calm"), QStringLiteral("Default album"),
                                TrackLibrary::tracks(),
                                AssetArtwork{QStringLiteral("BuiltInAlbumCover")}, true}));

    // Every mood lets at least one starter track through, so something plays on first launch.
    EXPECT_EQ(TrackLibrary::starterTrackIDs().size(), 3);
    MoodSet starterMoods;
    for (const CalmTrack& track : TrackLibrary::tracks()) {
        if (TrackLibrary::starterTrackIDs().contains(track.id))
            starterMoods.insert(track.moods.begin(), track.moods.end());
    }
    EXPECT_EQ(starterMoods, everyMood());
}

TEST(TrackLibraryTest, StarterFilesShipAndMatchTheirRows)
{
    for (const CalmTrack& track : TrackLibrary::tracks()) {
        if (!TrackLibrary::starterTrackIDs().contains(track.id))
            continue;
        SCOPED_TRACE(track.id.toStdString());
        const QString path =
            AppPaths::resourcePath(QStringLiteral("StarterAudio/%1.m4a").arg(track.id));
        ASSERT_TRUE(QFileInfo::exists(path)) << path.toStdString();
        EXPECT_LT(QFileInfo(path).size(), 3'200'000);
        EXPECT_NEAR(test::decodedDuration(path), track.duration, 0.5);
    }
}

TEST(TrackLibraryTest, CoverIsBuilt)
{
    EXPECT_TRUE(QFileInfo::exists(AppPaths::resourcePath(QStringLiteral("BuiltInAlbumCover.png"))));
}

} // namespace
} // namespace calmcove
