// The album index format: strict decoding of whole documents and the fixed write order.
// Reading a hand-written document in any key order is covered by the album store test.

#include "albums/albumindex.h"

#include "support/qtprinters.h"

#include <gtest/gtest.h>
#include <limits>

namespace calmcove {
namespace {

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

TEST(AlbumIndexTest, EncodesCompactlyInFixedKeyOrderAndRoundTrips)
{
    const QList<ImportedAlbumRecord> albums = {
        {"A1",
         "Say \"hi\"/\\ \n",
         std::nullopt,
         {{"T1", "Ünïcode", "B", 184.25, "01-x.mp3"}, {"T2", "t", "a", 180, "f"}}},
        {"A2", "Two", "cover.jpg", {}},
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

    // Durations come back exactly; a non-finite one cannot be written.
    QList<ImportedAlbumRecord> one = {{"A", "N", std::nullopt, {albums[0].tracks[0]}}};
    for (double duration : {0.1, 1.0 / 3.0, 1e-7, 123456.789, 0.0}) {
        one[0].tracks[0].duration = duration;
        EXPECT_EQ(decodeAlbumIndex(*encodeAlbumIndex(one)), one) << duration;
    }
    one[0].tracks[0].duration = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE(encodeAlbumIndex(one));
}

} // namespace
} // namespace calmcove
