// The index and manifest documents: decoding, validation order and messages, version
// arithmetic, the written form and the conversion into track records.

#include "library/audiopackformat.h"
#include "library/buildinfo.h"
#include "model/tracklibrary.h"
#include "support/qtprinters.h"

#include <QFile>

#include <gtest/gtest.h>

#include <functional>

namespace calmcove {
namespace {

QByteArray fixture(const char* name)
{
    QFile file(QStringLiteral(CALMCOVE_LIBRARY_TEST_DATA "/") + QLatin1String(name));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    return file.readAll();
}

AudioPackManifest validManifest()
{
    return decodeAudioPackManifest(fixture("manifest-valid.json")).value();
}

AudioPackIndex validIndex()
{
    return decodeAudioPackIndex(fixture("index-valid.json")).value();
}

QString message(const std::optional<AudioPackError>& error)
{
    return error ? error->errorDescription() : QStringLiteral("<valid>");
}

TEST(AudioPackFormatTest, DecodesTheValidDocuments)
{
    const AudioPackManifest manifest = validManifest();
    EXPECT_EQ(manifest.version, "2024.06.1");
    ASSERT_EQ(manifest.tracks.size(), 3);
    const AudioPackTrack& first = manifest.tracks[0];
    EXPECT_EQ(first.title, "Morning Tea Steam");
    EXPECT_EQ(first.duration, 164.5);
    EXPECT_EQ(first.moods, QList<QString>({"Focus", "Cozy"}));
    EXPECT_EQ(first.byteCount, 1000);
    EXPECT_EQ(first.downloadURL.host(), "library.example");
    // null and absent optional keys both read as absent
    EXPECT_FALSE(manifest.tracks[1].title);
    EXPECT_FALSE(manifest.tracks[1].moods);
    EXPECT_EQ(message(validateManifest(manifest, "1.0")), "<valid>");

    const AudioPackIndex index = validIndex();
    EXPECT_EQ(index.latest, "2024.06.1");
    ASSERT_EQ(index.packs.size(), 2);
    EXPECT_EQ(index.packs[0].publishedAt, "2024-06-01T12:00:00Z");
    EXPECT_FALSE(index.packs[1].publishedAt);
    EXPECT_EQ(index.packs[1].totalBytes, 149000000);
    EXPECT_EQ(message(validateIndex(index)), "<valid>");
}

TEST(AudioPackFormatTest, BrokenDocumentsFailToDecode)
{
    const auto failsToDecode = [](const auto& result) {
        return !result.ok() && std::holds_alternative<DecodingError>(result.error());
    };
    for (const char* name :
         {"manifest-not-json.json", "manifest-missing-key.json", "manifest-wrong-type.json",
          "manifest-bad-url.json", "manifest-fractional-size.json", "manifest-null-mandatory.json",
          "manifest-mood-not-string.json", "manifest-track-not-object.json", "manifest-array.json"})
        EXPECT_TRUE(failsToDecode(decodeAudioPackManifest(fixture(name)))) << name;
    for (const char* name :
         {"index-missing-packs.json", "index-url-not-string.json", "index-huge-number.json"})
        EXPECT_TRUE(failsToDecode(decodeAudioPackIndex(fixture(name)))) << name;
    // The message names the key, with its path.
    const auto missing = decodeAudioPackManifest(fixture("manifest-missing-key.json"));
    EXPECT_TRUE(errorDescription(missing.error()).contains("generatedAt"));
    const auto nested = decodeAudioPackManifest(fixture("manifest-bad-url.json"));
    EXPECT_TRUE(errorDescription(nested.error()).contains("tracks[0].downloadURL"));
    // An empty pack decodes; validation rejects it.
    const auto index = decodeAudioPackIndex(fixture("index-empty-pack.json"));
    EXPECT_EQ(message(validateIndex(index.value())),
              "The audio pack index contains an empty pack.");
}

TEST(AudioPackFormatTest, IndexValidationMessagesInOrder)
{
    const char* badVersion = "The audio pack index contains an invalid version.";
    const char* badURL = "The audio pack index contains an unsupported manifest URL.";
    const char* empty = "The audio pack index contains an empty pack.";
    const char* noMinimum = "The audio pack index is missing a minimum app version.";
    const std::pair<std::function<void(AudioPackIndex&)>, const char*> cases[] = {
        {[](auto& i) { i.packs.clear(); }, "The audio pack index does not include packs."},
        {[](auto& i) { i.packs[1].version = " 2.0"; }, badVersion},
        {[](auto& i) { i.packs[0].version = ".2"; }, badVersion},
        {[](auto& i) { i.packs[0].version = "2\\0"; }, badVersion},
        {[](auto& i) { i.packs[0].version = "2:0"; }, badVersion},
        {[](auto& i) { i.packs[1].version = i.packs[0].version; },
         "The audio pack index contains duplicate versions."},
        {[](auto& i) { i.packs[0].version = "a", i.packs[1].version = "A"; }, "<valid>"},
        {[](auto& i) { i.packs[0].minimumAppVersion = " \n"; }, noMinimum},
        {[](auto& i) { i.packs[1].totalBytes = 0; }, empty},
        {[](auto& i) { i.packs[0].manifestURL = QUrl("http://x.example/m.json"); }, badURL},
        {[](auto& i) { i.packs[0].manifestURL = QUrl("m.json"); }, badURL},
        {[](auto& i) { i.packs[0].manifestURL = QUrl("HTTPS://x.example/m"); }, "<valid>"},
        // one entry is checked completely before the next, in a fixed order
        {[](auto& i) { i.packs[0].trackCount = 0, i.packs[1].version = "/"; }, empty},
        {[](auto& i) { i.packs[0].minimumAppVersion = "", i.packs[0].trackCount = 0; }, noMinimum},
    };
    for (size_t n = 0; n < std::size(cases); ++n) {
        AudioPackIndex index = validIndex();
        cases[n].first(index);
        EXPECT_EQ(message(validateIndex(index)), QLatin1String(cases[n].second)) << "case " << n;
    }
}

TEST(AudioPackFormatTest, ManifestValidationMessagesInOrder)
{
    const char* badVersion = "The audio pack version is invalid.";
    const char* badSize = "The audio pack size is incorrect.";
    const char* badName = "The audio pack contains an invalid track name.";
    const char* badChecksum = "The audio pack contains an invalid checksum.";
    const char* badDuration = "The audio pack contains an invalid track duration.";
    const char* badMood = "The audio pack contains an unsupported mood.";
    const char* badURL = "The audio pack contains an unsupported download URL.";
    const auto rename = [](AudioPackTrack& t, const QString& id) {
        t.id = id;
        t.fileName = id + ".m4a";
    };
    const std::pair<std::function<void(AudioPackManifest&)>, const char*> cases[] = {
        {[](auto& m) { m.version = "1/2"; }, badVersion},
        {[](auto& m) { m.version = QString("1") + QChar(0) + "2"; }, badVersion},
        {[](auto& m) { m.tracks.clear(); }, "The audio pack does not include tracks."},
        {[](auto& m) { m.minimumAppVersion = "  "; },
         "The audio pack is missing its minimum app version."},
        {[](auto& m) { m.trackCount = 4, m.totalBytes = 1; },
         "The audio pack track count is incorrect."},
        {[](auto& m) { m.totalBytes += 1; }, badSize},
        {[](auto& m) {
             m.tracks[0].byteCount = std::numeric_limits<qint64>::max();
             m.totalBytes = std::numeric_limits<qint64>::min() + 4999; // the overflowed sum
         },
         badSize},
        {[](auto& m) { m.minimumAppVersion = "1.10"; },
         "Update Calmcove to version 1.10 or newer to install this track library."},
        {[](auto& m) { m.minimumAppVersion = "1.9.0"; }, "<valid>"},
        {[](auto& m) { m.minimumAppVersion = " 3 ", m.tracks[0].sha256 = "x"; }, // untrimmed
         "Update Calmcove to version  3  or newer to install this track library."},
        {[](auto& m) { m.tracks[1].fileName = m.tracks[1].id + ".mp3"; }, badName},
        {[](auto& m) { m.tracks[1].fileName = "other.m4a"; }, badName},
        {[&](auto& m) { rename(m.tracks[1], ".x"); }, badName},
        {[&](auto& m) { rename(m.tracks[1], "a\u007fb"); }, badName},
        {[&](auto& m) { rename(m.tracks[1], "a\nb"); }, badName},
        {[&](auto& m) { rename(m.tracks[2], m.tracks[0].id); },
         "The audio pack contains duplicate tracks."},
        {[](auto& m) { m.totalBytes -= m.tracks[1].byteCount, m.tracks[1].byteCount = 0; },
         "The audio pack contains an empty track."},
        {[](auto& m) { m.tracks[0].sha256.chop(1); }, badChecksum},
        {[](auto& m) { m.tracks[0].sha256.append('\n'); }, badChecksum},
        {[](auto& m) { m.tracks[0].sha256[5] = 'g'; }, badChecksum},
        {[](auto& m) { m.tracks[0].title = " "; }, "The audio pack contains an empty track title."},
        {[](auto& m) { m.tracks[0].artist = "\t"; },
         "The audio pack contains an empty track artist."},
        {[](auto& m) { m.tracks[0].duration = 0.0; }, badDuration},
        {[](auto& m) { m.tracks[0].duration = -3.0; }, badDuration},
        {[](auto& m) { m.tracks[0].duration.reset(); }, "<valid>"},
        {[](auto& m) { m.tracks[0].moods = QList<QString>(); }, badMood},
        {[](auto& m) { m.tracks[0].moods = QList<QString>{"focus"}; }, badMood},
        {[](auto& m) { m.tracks[0].kind = "Dusty Beat"; },
         "The audio pack contains an unsupported track kind."},
        {[](auto& m) { m.tracks[0].downloadURL = QUrl("http://x.example/a.m4a"); }, badURL},
        // one track is checked completely before the next
        {[](auto& m) { m.tracks[0].downloadURL = QUrl("ftp://x/a"), m.tracks[1].sha256 = "z"; },
         badURL},
    };
    for (size_t n = 0; n < std::size(cases); ++n) {
        AudioPackManifest manifest = validManifest();
        cases[n].first(manifest);
        EXPECT_EQ(message(validateManifest(manifest, "1.9")), QLatin1String(cases[n].second))
            << "case " << n;
    }
}

TEST(AudioPackFormatTest, VersionArithmetic)
{
    const std::pair<const char*, QList<qint64>> parts[] = {
        {"1.10.2", {1, 10, 2}},
        {"v2beta3", {2, 3}},
        {"", {}},
        {"..1..2..", {1, 2}},
        // Arabic-Indic digits are numeric but not ASCII digits: one run worth 0
        {"1.\u0661\u0662.3", {1, 0, 3}},
        {"1.99999999999999999999", {1, 0}},
        {"9223372036854775807", {9223372036854775807LL}}};
    for (const auto& [text, expected] : parts)
        EXPECT_EQ(versionParts(QString::fromUtf8(text)), expected) << text;

    for (const auto& [greater, smaller] :
         {std::pair{"1.10", "1.9"}, {"1.2.1", "1.2"}, {"10", "2"}, {"beta3", "2"}, {"0.0.1", ""}})
        EXPECT_TRUE(versionIsGreater(greater, smaller) && !versionIsGreater(smaller, greater))
            << greater << " > " << smaller;
    for (const auto& [a, b] : {std::pair{"1.2", "1.2.0"}, {"", "0"}})
        EXPECT_FALSE(versionIsGreater(a, b) || versionIsGreater(b, a)) << a << " = " << b;

    EXPECT_GT(standardCompare("1.10", "1.9"), 0);
    EXPECT_LT(standardCompare("9", "10"), 0);
    EXPECT_EQ(standardCompare("Pack-2", "pack-2"), 0);
    EXPECT_EQ(standardCompare("1.02", "1.2"), 0);
    EXPECT_LT(standardCompare("1.2", "1.2.0"), 0);
    EXPECT_GT(standardCompare("2024.10", "2024.9.9"), 0);
    EXPECT_GT(standardCompare("123456789012345678901234567890", "99999999999999999999"), 0);

    EXPECT_EQ((BuildInfo{"1.4", "2.0", {}, {}}).compatibilityVersion(), "2.0");
    EXPECT_EQ((BuildInfo{"1.4", {}, {}, {}}).compatibilityVersion(), "1.4");
    EXPECT_EQ((BuildInfo{}).compatibilityVersion(), "0");
}

TEST(AudioPackFormatTest, EncodedManifestIsSortedPrettyAndRoundTrips)
{
    AudioPackManifest manifest = validManifest();
    const QByteArray encoded = encodeAudioPackManifest(manifest);
    EXPECT_TRUE(encoded.contains("\n    ")) << "pretty-printed";
    EXPECT_TRUE(encoded.contains("https://library.example/packs/2024.06.1/quiet-circuit.m4a"));
    EXPECT_LT(encoded.indexOf("\"generatedAt\""), encoded.indexOf("\"minimumAppVersion\""));
    EXPECT_LT(encoded.indexOf("\"byteCount\""), encoded.indexOf("\"downloadURL\""));
    EXPECT_FALSE(encoded.contains("null")) << "absent optional keys are left out";
    EXPECT_EQ(decodeAudioPackManifest(encoded).value(), manifest);

    manifest.tracks[0].byteCount = 9007199254740993LL; // not representable as a double
    manifest.totalBytes = 9007199254740993LL + 5000;
    const auto big = decodeAudioPackManifest(encodeAudioPackManifest(manifest));
    EXPECT_EQ(big.value().tracks[0].byteCount, 9007199254740993LL);
}

TEST(AudioPackFormatTest, TrackConversionPrefersManifestThenCatalogueThenDefaults)
{
    const AudioPackManifest manifest = validManifest();
    const CalmTrack catalogueQuiet =
        *std::find_if(TrackLibrary::tracks().begin(), TrackLibrary::tracks().end(),
                      [](const CalmTrack& t) { return t.id == "quiet-circuit"; });

    const CalmTrack quiet = manifest.tracks[2].calmTrack(catalogueQuiet);
    EXPECT_EQ(quiet.albumID, "built-in-calm");
    EXPECT_EQ(quiet.source, AudioSource(BundledAudio{"quiet-circuit"}));
    EXPECT_EQ(quiet.title, "Quiet Circuit (Remaster)") << "trimmed";
    EXPECT_EQ(quiet.artist, catalogueQuiet.artist);
    EXPECT_EQ(quiet.duration, catalogueQuiet.duration);
    EXPECT_EQ(quiet.moods, MoodSet({Mood::night}));

    const CalmTrack fresh = manifest.tracks[1].calmTrack(std::nullopt);
    EXPECT_EQ(fresh.title, "New Rainy Window Loop");
    EXPECT_EQ(fresh.artist, TrackLibrary::artistName);
    EXPECT_EQ(fresh.duration, 0);
    EXPECT_EQ(fresh.moods, MoodSet({Mood::focus}));
    EXPECT_EQ(fresh.kind, CalmKind::dustyBeat);
    EXPECT_EQ(manifest.tracks[0].calmTrack(std::nullopt).moods, MoodSet({Mood::focus, Mood::cozy}));

    AudioPackTrack unknownMoods = manifest.tracks[2];
    unknownMoods.moods = QList<QString>{"Loud"};
    EXPECT_EQ(unknownMoods.calmTrack(catalogueQuiet).moods, catalogueQuiet.moods);
    unknownMoods.moods = QList<QString>{"Loud", "Sleepy"};
    EXPECT_EQ(unknownMoods.calmTrack(catalogueQuiet).moods, MoodSet({Mood::sleepy}));

    for (const auto& [id, title] : {std::pair{"rainy-window-loop", "Rainy Window Loop"},
                                    {"--LOUD--noise-", "Loud Noise"},
                                    {"x", "X"},
                                    {"---", ""}})
        EXPECT_EQ(titleFromTrackID(id), title);
    EXPECT_EQ(trimmedNilIfEmpty("  a b \n"), "a b");
    EXPECT_FALSE(trimmedNilIfEmpty(" \n\t"));
}

} // namespace
} // namespace calmcove
