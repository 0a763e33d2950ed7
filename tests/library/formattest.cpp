// The index and manifest documents: decoding, validation order and messages, version
// arithmetic, the written form and the conversion into track records.

#include "library/audiopackformat.h"
#include "library/buildinfo.h"
#include "librarytestsupport.h"
#include "model/tracklibrary.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

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
    auto manifest = decodeAudioPackManifest(fixture("manifest-valid.json"));
    EXPECT_TRUE(manifest.ok()) << errorDescription(manifest.error()).toStdString();
    return manifest.ok() ? *manifest : AudioPackManifest{};
}

AudioPackIndex validIndex()
{
    auto index = decodeAudioPackIndex(fixture("index-valid.json"));
    EXPECT_TRUE(index.ok()) << errorDescription(index.error()).toStdString();
    return index.ok() ? *index : AudioPackIndex{};
}

QString message(const std::optional<AudioPackError>& error)
{
    return error ? error->errorDescription() : QStringLiteral("<valid>");
}

TEST(AudioPackFormatTest, DecodesTheValidDocuments)
{
    const AudioPackManifest manifest = validManifest();
    EXPECT_EQ(manifest.version, "2024.06.1");
    EXPECT_EQ(manifest.generatedAt, "2024-06-01T12:00:00Z");
    ASSERT_EQ(manifest.tracks.size(), 3);
    const AudioPackTrack& first = manifest.tracks[0];
    EXPECT_EQ(first.title, "Morning Tea Steam");
    EXPECT_EQ(first.duration, 164.5);
    EXPECT_EQ(first.moods, QList<QString>({"Focus", "Cozy"}));
    EXPECT_EQ(first.byteCount, 1000);
    EXPECT_EQ(first.downloadURL.host(), "library.example");
    // null and absent optional keys both read as absent
    EXPECT_FALSE(manifest.tracks[1].title);
    EXPECT_FALSE(manifest.tracks[1].artist);
    EXPECT_FALSE(manifest.tracks[1].moods);
    EXPECT_EQ(message(validateManifest(manifest, "1.0")), "<valid>");

    const AudioPackIndex index = validIndex();
    EXPECT_EQ(index.latest, "2024.06.1");
    ASSERT_EQ(index.packs.size(), 2);
    EXPECT_EQ(index.packs[0].publishedAt, "2024-06-01T12:00:00Z");
    EXPECT_EQ(index.packs[0].tag, "summer");
    EXPECT_FALSE(index.packs[1].publishedAt);
    EXPECT_EQ(index.packs[1].totalBytes, 149000000);
    EXPECT_EQ(message(validateIndex(index)), "<valid>");
}

TEST(AudioPackFormatTest, BrokenDocumentsFailToDecode)
{
    for (const char* name :
         {"manifest-not-json.json", "manifest-missing-key.json", "manifest-wrong-type.json",
          "manifest-bad-url.json", "manifest-fractional-size.json", "manifest-null-mandatory.json",
          "manifest-mood-not-string.json", "manifest-track-not-object.json",
          "manifest-array.json"}) {
        const auto manifest = decodeAudioPackManifest(fixture(name));
        ASSERT_FALSE(manifest.ok()) << name;
        EXPECT_TRUE(std::holds_alternative<DecodingError>(manifest.error())) << name;
        EXPECT_FALSE(errorDescription(manifest.error()).isEmpty()) << name;
    }
    for (const char* name :
         {"index-missing-packs.json", "index-url-not-string.json", "index-huge-number.json"}) {
        const auto index = decodeAudioPackIndex(fixture(name));
        ASSERT_FALSE(index.ok()) << name;
        EXPECT_TRUE(std::holds_alternative<DecodingError>(index.error())) << name;
    }
    const auto missing = decodeAudioPackManifest(fixture("manifest-missing-key.json"));
    EXPECT_TRUE(errorDescription(missing.error()).contains("generatedAt"));
    const auto nested = decodeAudioPackManifest(fixture("manifest-bad-url.json"));
    EXPECT_TRUE(errorDescription(nested.error()).contains("tracks[0].downloadURL"));
}

TEST(AudioPackFormatTest, EmptyPackIsAValidationFailureNotADecodingError)
{
    const auto index = decodeAudioPackIndex(fixture("index-empty-pack.json"));
    ASSERT_TRUE(index.ok());
    EXPECT_EQ(message(validateIndex(*index)), "The audio pack index contains an empty pack.");
}

TEST(AudioPackFormatTest, IndexValidationMessagesInOrder)
{
    struct Case
    {
        const char* name;
        std::function<void(AudioPackIndex&)> change;
        const char* expected;
    };
    const Case cases[] = {
        {"no packs", [](auto& i) { i.packs.clear(); },
         "The audio pack index does not include packs."},
        {"leading blank", [](auto& i) { i.packs[1].version = " 2.0"; },
         "The audio pack index contains an invalid version."},
        {"leading dot", [](auto& i) { i.packs[0].version = ".2"; },
         "The audio pack index contains an invalid version."},
        {"backslash", [](auto& i) { i.packs[0].version = "2\\0"; },
         "The audio pack index contains an invalid version."},
        {"colon", [](auto& i) { i.packs[0].version = "2:0"; },
         "The audio pack index contains an invalid version."},
        {"duplicate", [](auto& i) { i.packs[1].version = i.packs[0].version; },
         "The audio pack index contains duplicate versions."},
        {"duplicate differs in case only is fine",
         [](auto& i) {
             i.packs[1].version = "A";
             i.packs[0].version = "a";
         },
         "<valid>"},
        {"blank minimum", [](auto& i) { i.packs[0].minimumAppVersion = " \n"; },
         "The audio pack index is missing a minimum app version."},
        {"no bytes", [](auto& i) { i.packs[1].totalBytes = 0; },
         "The audio pack index contains an empty pack."},
        {"http manifest", [](auto& i) { i.packs[0].manifestURL = QUrl("http://x.example/m.json"); },
         "The audio pack index contains an unsupported manifest URL."},
        {"relative manifest", [](auto& i) { i.packs[0].manifestURL = QUrl("m.json"); },
         "The audio pack index contains an unsupported manifest URL."},
        {"upper-case scheme", [](auto& i) { i.packs[0].manifestURL = QUrl("HTTPS://x.example/m"); },
         "<valid>"},
        // one entry is checked completely before the next
        {"first entry's later fault wins",
         [](auto& i) {
             i.packs[0].trackCount = 0;
             i.packs[1].version = "/";
         },
         "The audio pack index contains an empty pack."},
        {"order within an entry",
         [](auto& i) {
             i.packs[0].minimumAppVersion = "";
             i.packs[0].trackCount = 0;
         },
         "The audio pack index is missing a minimum app version."},
    };
    for (const Case& c : cases) {
        AudioPackIndex index = validIndex();
        c.change(index);
        EXPECT_EQ(message(validateIndex(index)), QLatin1String(c.expected)) << c.name;
    }
}

TEST(AudioPackFormatTest, ManifestValidationMessagesInOrder)
{
    struct Case
    {
        const char* name;
        std::function<void(AudioPackManifest&)> change;
        const char* expected;
    };
    const auto setBytes = [](AudioPackManifest& m, int track, qint64 bytes) {
        m.totalBytes += bytes - m.tracks[track].byteCount;
        m.tracks[track].byteCount = bytes;
    };
    const Case cases[] = {
        {"slash version", [](auto& m) { m.version = "1/2"; }, "The audio pack version is invalid."},
        {"NUL in version", [](auto& m) { m.version = QString("1") + QChar(0) + "2"; },
         "The audio pack version is invalid."},
        {"no tracks", [](auto& m) { m.tracks.clear(); }, "The audio pack does not include tracks."},
        {"blank minimum", [](auto& m) { m.minimumAppVersion = "  "; },
         "The audio pack is missing its minimum app version."},
        {"count before size", [](auto& m) { m.trackCount = 4; },
         "The audio pack track count is incorrect."},
        {"size", [](auto& m) { m.totalBytes += 1; }, "The audio pack size is incorrect."},
        {"size overflow",
         [](auto& m) {
             m.tracks[0].byteCount = std::numeric_limits<qint64>::max();
             m.totalBytes = std::numeric_limits<qint64>::min() + 4999;
         },
         "The audio pack size is incorrect."},
        {"too new", [](auto& m) { m.minimumAppVersion = "1.10"; },
         "Update Calmcove to version 1.10 or newer to install this track library."},
        {"too new keeps text untrimmed", [](auto& m) { m.minimumAppVersion = " 2 "; },
         "Update Calmcove to version  2  or newer to install this track library."},
        {"equal with trailing zero", [](auto& m) { m.minimumAppVersion = "1.9.0"; }, "<valid>"},
        {"gate before track checks",
         [](auto& m) {
             m.minimumAppVersion = "3";
             m.tracks[0].sha256 = "x";
         },
         "Update Calmcove to version 3 or newer to install this track library."},
        {"other extension", [](auto& m) { m.tracks[1].fileName = m.tracks[1].id + ".mp3"; },
         "The audio pack contains an invalid track name."},
        {"other stem", [](auto& m) { m.tracks[1].fileName = "other.m4a"; },
         "The audio pack contains an invalid track name."},
        {"hidden id",
         [](auto& m) {
             m.tracks[1].id = ".x";
             m.tracks[1].fileName = ".x.m4a";
         },
         "The audio pack contains an invalid track name."},
        {"control character in id",
         [](auto& m) {
             m.tracks[1].id = "a\u007fb";
             m.tracks[1].fileName = "a\u007fb.m4a";
         },
         "The audio pack contains an invalid track name."},
        {"newline in id",
         [](auto& m) {
             m.tracks[1].id = "a\nb";
             m.tracks[1].fileName = "a\nb.m4a";
         },
         "The audio pack contains an invalid track name."},
        {"duplicate id",
         [](auto& m) {
             m.tracks[2].id = m.tracks[0].id;
             m.tracks[2].fileName = m.tracks[0].fileName;
         },
         "The audio pack contains duplicate tracks."},
        {"empty track", [&](auto& m) { setBytes(m, 1, 0); },
         "The audio pack contains an empty track."},
        {"short checksum", [](auto& m) { m.tracks[0].sha256.chop(1); },
         "The audio pack contains an invalid checksum."},
        {"checksum with newline", [](auto& m) { m.tracks[0].sha256.append('\n'); },
         "The audio pack contains an invalid checksum."},
        {"non-hex checksum", [](auto& m) { m.tracks[0].sha256[5] = 'g'; },
         "The audio pack contains an invalid checksum."},
        {"blank title", [](auto& m) { m.tracks[0].title = " "; },
         "The audio pack contains an empty track title."},
        {"blank artist", [](auto& m) { m.tracks[0].artist = "\t"; },
         "The audio pack contains an empty track artist."},
        {"zero duration", [](auto& m) { m.tracks[0].duration = 0.0; },
         "The audio pack contains an invalid track duration."},
        {"negative duration", [](auto& m) { m.tracks[0].duration = -3.0; },
         "The audio pack contains an invalid track duration."},
        {"absent duration", [](auto& m) { m.tracks[0].duration.reset(); }, "<valid>"},
        {"no moods", [](auto& m) { m.tracks[0].moods = QList<QString>(); },
         "The audio pack contains an unsupported mood."},
        {"lower-case mood", [](auto& m) { m.tracks[0].moods = QList<QString>{"focus"}; },
         "The audio pack contains an unsupported mood."},
        {"unknown kind", [](auto& m) { m.tracks[0].kind = "Dusty Beat"; },
         "The audio pack contains an unsupported track kind."},
        {"http download", [](auto& m) { m.tracks[0].downloadURL = QUrl("http://x.example/a.m4a"); },
         "The audio pack contains an unsupported download URL."},
        // one track is checked completely before the next
        {"first track's later fault wins",
         [](auto& m) {
             m.tracks[0].downloadURL = QUrl("ftp://x/a");
             m.tracks[1].sha256 = "z";
         },
         "The audio pack contains an unsupported download URL."},
    };
    for (const Case& c : cases) {
        AudioPackManifest manifest = validManifest();
        c.change(manifest);
        EXPECT_EQ(message(validateManifest(manifest, "1.9")), QLatin1String(c.expected)) << c.name;
    }
}

TEST(AudioPackFormatTest, VersionArithmetic)
{
    EXPECT_EQ(versionParts("1.10.2"), QList<qint64>({1, 10, 2}));
    EXPECT_EQ(versionParts("v2beta3"), QList<qint64>({2, 3}));
    EXPECT_EQ(versionParts(""), QList<qint64>());
    EXPECT_EQ(versionParts("..1..2.."), QList<qint64>({1, 2}));
    // Arabic-Indic digits are numeric characters but not ASCII digits: one run worth 0
    EXPECT_EQ(versionParts(QString::fromUtf8("1.\u0661\u0662.3")), QList<qint64>({1, 0, 3}));
    EXPECT_EQ(versionParts("1.99999999999999999999"), QList<qint64>({1, 0}));
    EXPECT_EQ(versionParts("9223372036854775807"), QList<qint64>({9223372036854775807LL}));

    struct Case
    {
        const char* a;
        const char* b;
        bool greater;
    };
    for (const Case& c :
         {Case{"1.10", "1.9", true}, Case{"1.9", "1.10", false}, Case{"1.2", "1.2.0", false},
          Case{"1.2.0", "1.2", false}, Case{"1.2.1", "1.2", true}, Case{"2", "10", false},
          Case{"beta3", "2", true}, Case{"", "0", false}, Case{"0.0.1", "", true}})
        EXPECT_EQ(versionIsGreater(c.a, c.b), c.greater) << c.a << " > " << c.b;
}

TEST(AudioPackFormatTest, StandardCompareOrdersNumbersByValue)
{
    EXPECT_GT(standardCompare("1.10", "1.9"), 0);
    EXPECT_LT(standardCompare("9", "10"), 0);
    EXPECT_EQ(standardCompare("Pack-2", "pack-2"), 0);
    EXPECT_EQ(standardCompare("1.02", "1.2"), 0);
    EXPECT_LT(standardCompare("1.2", "1.2.0"), 0);
    EXPECT_GT(standardCompare("2024.10", "2024.9.9"), 0);
    EXPECT_GT(standardCompare("123456789012345678901234567890", "99999999999999999999"), 0);
}

TEST(AudioPackFormatTest, CompatibilityVersionFallsBackToTheAppVersionThenZero)
{
    EXPECT_EQ((BuildInfo{"1.4", "2.0", {}, {}}).compatibilityVersion(), "2.0");
    EXPECT_EQ((BuildInfo{"1.4", {}, {}, {}}).compatibilityVersion(), "1.4");
    EXPECT_EQ((BuildInfo{}).compatibilityVersion(), "0");
    const BuildInfo info{"1.4", "2.0", "https://i", "https://m"};
    EXPECT_EQ(info.value("CalmcoveAudioPackIndexURL"), "https://i");
    EXPECT_EQ(info.value("CalmcoveAudioPackManifestURL"), "https://m");
    EXPECT_EQ(info.value("CFBundleShortVersionString"), "1.4");
    EXPECT_EQ(info.value("Unknown"), "");
}

TEST(AudioPackFormatTest, EncodedManifestIsSortedPrettyAndRoundTrips)
{
    const AudioPackManifest manifest = validManifest();
    const QByteArray encoded = encodeAudioPackManifest(manifest);
    EXPECT_TRUE(encoded.contains("\n    ")) << "pretty-printed";
    EXPECT_TRUE(encoded.contains("https://library.example/packs/2024.06.1/quiet-circuit.m4a"));
    EXPECT_FALSE(encoded.contains("\\/"));
    EXPECT_LT(encoded.indexOf("\"generatedAt\""), encoded.indexOf("\"minimumAppVersion\""));
    EXPECT_LT(encoded.indexOf("\"totalBytes\""), encoded.indexOf("\"tracks\""));
    EXPECT_LT(encoded.indexOf("\"byteCount\""), encoded.indexOf("\"downloadURL\""));
    EXPECT_FALSE(encoded.contains("null")) << "absent optional keys are left out";
    EXPECT_FALSE(encoded.contains("unknownKey"));

    const auto decoded = decodeAudioPackManifest(encoded);
    ASSERT_TRUE(decoded.ok());
    EXPECT_EQ(*decoded, manifest);

    AudioPackManifest big = manifest;
    big.tracks[0].byteCount = 9007199254740993LL; // not representable as a double
    big.totalBytes = 9007199254740993LL + 5000;
    const auto bigDecoded = decodeAudioPackManifest(encodeAudioPackManifest(big));
    ASSERT_TRUE(bigDecoded.ok());
    EXPECT_EQ(bigDecoded->tracks[0].byteCount, 9007199254740993LL);
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
    EXPECT_EQ(quiet.kind, catalogueQuiet.kind);

    const CalmTrack fresh = manifest.tracks[1].calmTrack(std::nullopt);
    EXPECT_EQ(fresh.title, "New Rainy Window Loop");
    EXPECT_EQ(fresh.artist, TrackLibrary::artistName);
    EXPECT_EQ(fresh.duration, 0);
    EXPECT_EQ(fresh.moods, MoodSet({Mood::focus}));
    EXPECT_EQ(fresh.kind, CalmKind::dustyBeat);

    AudioPackTrack onlyUnknownMoods = manifest.tracks[2];
    onlyUnknownMoods.moods = QList<QString>{"Loud"};
    EXPECT_EQ(onlyUnknownMoods.calmTrack(catalogueQuiet).moods, catalogueQuiet.moods);
    onlyUnknownMoods.moods = QList<QString>{"Loud", "Sleepy"};
    EXPECT_EQ(onlyUnknownMoods.calmTrack(catalogueQuiet).moods, MoodSet({Mood::sleepy}));

    const CalmTrack tea = manifest.tracks[0].calmTrack(std::nullopt);
    EXPECT_EQ(tea.duration, 164.5);
    EXPECT_EQ(tea.moods, MoodSet({Mood::focus, Mood::cozy}));
    EXPECT_EQ(tea.kind, CalmKind::dustyBeat);
}

TEST(AudioPackFormatTest, TitlesFromIdentifiers)
{
    EXPECT_EQ(titleFromTrackID("rainy-window-loop"), "Rainy Window Loop");
    EXPECT_EQ(titleFromTrackID("--LOUD--noise-"), "Loud Noise");
    EXPECT_EQ(titleFromTrackID("x"), "X");
    EXPECT_EQ(titleFromTrackID("---"), "");
    EXPECT_EQ(trimmedNilIfEmpty("  a b \n"), "a b");
    EXPECT_FALSE(trimmedNilIfEmpty(" \n\t"));
}

} // namespace
} // namespace calmcove
