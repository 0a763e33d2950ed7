// The album index format: strict decoding of whole documents and the fixed write order.

#include "albums/albumindex.h"

#include "support/qtprinters.h"

#include <gtest/gtest.h>
#include <limits>
#include <QFile>

namespace calmcove {
namespace {

TEST(AlbumIndexTest, DecodesHandWrittenDocumentInAnyKeyOrder)
{
    QFile file(QStringLiteral(CALMCOVE_TEST_DATA "/handwritten.json"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const auto albums = decodeAlbumIndex(file.readAll());
    ASSERT_TRUE(albums);
    ASSERT_EQ(albums->size(), 2);
    EXPECT_EQ(albums->at(0).id, QStringLiteral("A1"));
    EXPECT_EQ(albums->at(0).artworkFileName, std::nullopt);
    EXPECT_EQ(albums->at(0).tracks.at(0),
              (ImportedTrackRecord{QStringLiteral("T1"), QStringLiteral("Harbor"),
                                   QStringLiteral("Dock Band"), 184.25,
                                   QStringLiteral("01-Harbor.mp3")}));
    EXPECT_EQ(albums->at(1).artworkFileName, QStringLiteral("cover.png"));
}

TEST(AlbumIndexTest, RejectsWholeDocumentOnAnyBadRecord)
{
    const char* broken[] = {
        "",
        "{}",
        "[1]",
        R"([{"id":"A","name":"N"}])",                                 // no tracks
        R"([{"id":"A","name":"N","tracks":{}}])",                     // tracks not an array
        R"([{"id":7,"name":"N","tracks":[]}])",                       // id not a string
        R"([{"id":"A","name":"N","artworkFileName":3,"tracks":[]}])", // artwork not a string
        R"([{"id":"A","name":"N","tracks":[{"id":"T","title":"t","artist":"a","fileName":"f"}]}])",
        R"([{"id":"A","name":"N","tracks":[{"id":"T","title":"t","artist":"a","duration":"9","fileName":"f"}]}])",
        R"([{"id":"A","name":"N","tracks":[]}, {"id":"B"}])", // one bad record fails all
        R"([{"id":"A","name":"N","tracks":[]})",              // truncated
    };
    for (const char* json : broken)
        EXPECT_FALSE(decodeAlbumIndex(QByteArray(json))) << json;
    EXPECT_TRUE(decodeAlbumIndex("[]"));
}

TEST(AlbumIndexTest, EncodesCompactlyInFixedKeyOrder)
{
    const QList<ImportedAlbumRecord> albums = {
        {QStringLiteral("A1"),
         QStringLiteral("Say \"hi\"/\\ \n"),
         std::nullopt,
         {{QStringLiteral("T1"), QStringLiteral("Ünïcode"), QStringLiteral("B"), 184.25,
           QStringLiteral("01-x.mp3")},
          {QStringLiteral("T2"), QStringLiteral("t"), QStringLiteral("a"), 180,
           QStringLiteral("f")}}},
        {QStringLiteral("A2"), QStringLiteral("Two"), QStringLiteral("cover.jpg"), {}},
    };
    const auto json = encodeAlbumIndex(albums);
    ASSERT_TRUE(json);
    EXPECT_EQ(QString::fromUtf8(*json),
              QStringLiteral(
                  R"([{"id":"A1","name":"Say \"hi\"/\\ \n","tracks":[{"id":"T1","title":"Ünïcode",)"
                  R"("artist":"B","duration":184.25,"fileName":"01-x.mp3"},{"id":"T2","title":"t",)"
                  R"("artist":"a","duration":180,"fileName":"f"}]},)"
                  R"({"id":"A2","name":"Two","artworkFileName":"cover.jpg","tracks":[]}])"));
    EXPECT_EQ(decodeAlbumIndex(*json), albums);
}

TEST(AlbumIndexTest, DurationsRoundTripExactlyAndNonFiniteFails)
{
    for (double duration : {0.1, 1.0 / 3.0, 1e-7, 123456.789, 0.0}) {
        const QList<ImportedAlbumRecord> albums = {
            {QStringLiteral("A"),
             QStringLiteral("N"),
             std::nullopt,
             {{QStringLiteral("T"), QStringLiteral("t"), QStringLiteral("a"), duration,
               QStringLiteral("f")}}}};
        EXPECT_EQ(decodeAlbumIndex(*encodeAlbumIndex(albums)), albums) << duration;
    }
    const QList<ImportedAlbumRecord> bad = {
        {QStringLiteral("A"),
         QStringLiteral("N"),
         std::nullopt,
         {{QStringLiteral("T"), QStringLiteral("t"), QStringLiteral("a"),
           std::numeric_limits<double>::quiet_NaN(), QStringLiteral("f")}}}};
    EXPECT_FALSE(encodeAlbumIndex(bad));
}

} // namespace
} // namespace calmcove
