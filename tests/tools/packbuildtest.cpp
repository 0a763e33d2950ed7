// calmcove-pack build: the pack and index it writes are what clients can install — exact
// sizes and digests, real durations, https URLs under the base URL, our own validators
// satisfied — and a failed build leaves the output folder as it was.

#include "library/audiopackformat.h"
#include "model/tracklibrary.h"
#include "packtestsupport.h"
#include "support/qtprinters.h"
#include "tools/pack/mediaprobe.h"
#include "tools/pack/packbuilder.h"
#include "tools/pack/packindex.h"

#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

namespace calmcove {
namespace {

using test::readAll;
using test::writeAll;

struct Tone
{
    const char* id;
    double seconds;
    int frequency;
};
// A catalogue track and two others; "aa-first" sorts before "harbour-bells".
constexpr Tone tones[] = {
    {"harbour-bells", 2.0, 330}, {"morning-tea-steam", 1.0, 440}, {"aa-first", 0.5, 550}};

class PackBuildTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        silenceMediaLog();
        s_input = new QTemporaryDir;
        for (const Tone& tone : tones)
            ASSERT_TRUE(test::makeTone(s_input->filePath(QLatin1String(tone.id) + ".m4a"),
                                       tone.seconds, tone.frequency));
    }
    static void TearDownTestSuite()
    {
        delete s_input;
        s_input = nullptr;
    }

    QString input() const { return s_input->path(); }
    QString output() const { return m_output.filePath(QStringLiteral("site")); }

    PackBuildOptions options(const QString& version = QStringLiteral("2.1")) const
    {
        PackBuildOptions o;
        o.inputDirectory = input();
        o.outputDirectory = output();
        o.version = version;
        o.baseURL = QUrl(QStringLiteral("https://packs.example.test:8443/calm/"));
        return o;
    }

    AudioPackManifest manifestOnDisk(const QString& version) const
    {
        Result<AudioPackManifest> manifest =
            decodeAudioPackManifest(readAll(output() + '/' + version + '/' + packManifestFileName));
        EXPECT_TRUE(manifest.ok()) << errorDescription(manifest.error()).toStdString();
        return manifest ? *manifest : AudioPackManifest{};
    }

    AudioPackIndex indexOnDisk() const
    {
        Result<AudioPackIndex> index = decodeAudioPackIndex(readAll(output() + "/index.json"));
        EXPECT_TRUE(index.ok()) << errorDescription(index.error()).toStdString();
        return index ? *index : AudioPackIndex{};
    }

    static QTemporaryDir* s_input;
    QTemporaryDir m_output;
};

QTemporaryDir* PackBuildTest::s_input = nullptr;

TEST_F(PackBuildTest, WritesAPackWithExactSizesDigestsDurationsAndURLs)
{
    const PackResult<PackBuildReport> report = buildPack(options());
    ASSERT_TRUE(report.ok()) << report.message().toStdString();

    const AudioPackManifest manifest = manifestOnDisk(QStringLiteral("2.1"));
    EXPECT_EQ(manifest, report->manifest);
    EXPECT_FALSE(validateManifest(manifest).has_value());
    EXPECT_EQ(manifest.version, QStringLiteral("2.1"));
    EXPECT_EQ(manifest.minimumAppVersion, BuildInfo::current().compatibilityVersion());

    // The default album's order first, then the others by id.
    QStringList ids;
    for (const AudioPackTrack& track : manifest.tracks)
        ids.append(track.id);
    EXPECT_EQ(ids, (QStringList{"morning-tea-steam", "aa-first", "harbour-bells"}));

    qint64 total = 0;
    for (const AudioPackTrack& track : manifest.tracks) {
        SCOPED_TRACE(track.id.toStdString());
        const QString source = input() + '/' + track.fileName;
        const QString published = output() + "/2.1/" + track.fileName;
        EXPECT_EQ(readAll(published), readAll(source));
        EXPECT_EQ(track.byteCount, QFileInfo(source).size());
        EXPECT_EQ(track.sha256, test::opensslDigest(published));
        EXPECT_EQ(track.downloadURL,
                  QUrl("https://packs.example.test:8443/calm/2.1/" + track.fileName));
        const Tone& tone = *std::find_if(std::begin(tones), std::end(tones),
                                         [&](const Tone& t) { return track.id == t.id; });
        ASSERT_TRUE(track.duration.has_value());
        EXPECT_NEAR(*track.duration, tone.seconds, 0.05);
        total += track.byteCount;
    }
    EXPECT_EQ(manifest.trackCount, 3);
    EXPECT_EQ(manifest.totalBytes, total);

    const AudioPackIndex index = indexOnDisk();
    EXPECT_EQ(index, report->index);
    EXPECT_FALSE(validateIndex(index).has_value());
    ASSERT_EQ(index.packs.size(), 1);
    const AudioPackIndexEntry& entry = index.packs.front();
    EXPECT_EQ(entry.version, QStringLiteral("2.1"));
    EXPECT_EQ(entry.manifestURL, QUrl(QStringLiteral("https://packs.example.test:8443/calm/2.1/") +
                                      packManifestFileName));
    EXPECT_EQ(entry.trackCount, 3);
    EXPECT_EQ(entry.totalBytes, total);
    EXPECT_EQ(entry.publishedAt, std::optional<QString>(manifest.generatedAt));
    EXPECT_EQ(index.latest, std::optional<QString>(QStringLiteral("2.1")));

    // Nothing but the index and the pack folder is published.
    EXPECT_EQ(QDir(output()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              (QStringList{"2.1", "index.json"}));
}

TEST_F(PackBuildTest, CatalogueRowsFillTheMetadataAndTheMetadataFileWins)
{
    const QString metadataPath = m_output.filePath(QStringLiteral("metadata.json"));
    ASSERT_TRUE(writeAll(metadataPath, R"({
        "morning-tea-steam": {"title": "  Tea, Second Steeping "},
        "harbour-bells": {"artist": "Pier Nine", "moods": ["Night", "Sleepy"], "kind": "Night drive"}
    })"));
    PackBuildOptions o = options();
    o.metadataFile = metadataPath;
    const PackResult<PackBuildReport> report = buildPack(o);
    ASSERT_TRUE(report.ok()) << report.message().toStdString();

    const QList<AudioPackTrack> tracks = manifestOnDisk(QStringLiteral("2.1")).tracks;
    ASSERT_EQ(tracks.size(), 3);
    const AudioPackTrack& tea = tracks[0];
    EXPECT_EQ(tea.title, std::optional<QString>(QStringLiteral("Tea, Second Steeping")));
    EXPECT_EQ(tea.artist, std::optional<QString>(TrackLibrary::artistName));
    EXPECT_EQ(tea.moods, std::optional<QList<QString>>({"Focus", "Cozy"}));
    EXPECT_EQ(tea.kind, std::optional<QString>(QStringLiteral("Dusty beat")));

    const AudioPackTrack& other = tracks[1];
    EXPECT_EQ(other.id, QStringLiteral("aa-first"));
    EXPECT_FALSE(other.title || other.artist || other.moods || other.kind);

    const AudioPackTrack& bells = tracks[2];
    EXPECT_FALSE(bells.title.has_value());
    EXPECT_EQ(bells.artist, std::optional<QString>(QStringLiteral("Pier Nine")));
    EXPECT_EQ(bells.moods, std::optional<QList<QString>>({"Night", "Sleepy"}));
    EXPECT_EQ(bells.kind, std::optional<QString>(QStringLiteral("Night drive")));
}

TEST_F(PackBuildTest, DownloadURLsLieUnderAnyFormOfBaseURL)
{
    QTemporaryDir single;
    ASSERT_TRUE(QFile::copy(input() + "/aa-first.m4a", single.filePath("rain #2 (live).m4a")));
    const struct
    {
        const char* base;
        const char* expected;
    } cases[] = {
        {"https://127.0.0.1:47443", "https://127.0.0.1:47443/v1/rain%20%232%20(live).m4a"},
        {"https://127.0.0.1:47443/", "https://127.0.0.1:47443/v1/rain%20%232%20(live).m4a"},
        {"https://host.test/a/b", "https://host.test/a/b/v1/rain%20%232%20(live).m4a"},
        {"HTTPS://host.test/a%20b/", "https://host.test/a%20b/v1/rain%20%232%20(live).m4a"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.base);
        PackBuildOptions o = options(QStringLiteral("v1"));
        o.inputDirectory = single.path();
        o.baseURL = QUrl(QString::fromLatin1(c.base), QUrl::StrictMode);
        const PackResult<PackBuildReport> report = buildPack(o);
        ASSERT_TRUE(report.ok()) << report.message().toStdString();
        EXPECT_EQ(report->manifest.tracks.front().downloadURL.toString(QUrl::FullyEncoded),
                  QString::fromLatin1(c.expected));
        EXPECT_TRUE(readAll(output() + "/v1/" + packManifestFileName).contains(c.expected + 8));
    }
}

TEST_F(PackBuildTest, TheIndexKeepsOtherVersionsAndARebuildReplacesItsOwn)
{
    QTemporaryDir extra;
    for (const char* name : {"aa-first.m4a", "harbour-bells.m4a"})
        ASSERT_TRUE(QFile::copy(input() + '/' + name, extra.filePath(name)));

    PackBuildOptions first = options(QStringLiteral("1.9"));
    first.inputDirectory = extra.path();
    ASSERT_TRUE(buildPack(first).ok());
    ASSERT_TRUE(buildPack(options(QStringLiteral("1.10"))).ok());

    // Rebuilt from the other folder: the dropped track's file goes with the old build.
    ASSERT_TRUE(QFile::remove(extra.filePath("harbour-bells.m4a")));
    first.tag = QStringLiteral("spring");
    first.minimumAppVersion = QStringLiteral("0.0.9");
    const PackResult<PackBuildReport> rebuilt = buildPack(first);
    ASSERT_TRUE(rebuilt.ok()) << rebuilt.message().toStdString();
    EXPECT_TRUE(rebuilt->replacedEarlierBuild);

    const AudioPackIndex index = indexOnDisk();
    EXPECT_FALSE(validateIndex(index).has_value());
    ASSERT_EQ(index.packs.size(), 2);
    EXPECT_EQ(index.packs[0].version, QStringLiteral("1.9"));
    EXPECT_EQ(index.packs[0].tag, std::optional<QString>(QStringLiteral("spring")));
    EXPECT_EQ(index.packs[0].minimumAppVersion, QStringLiteral("0.0.9"));
    EXPECT_EQ(index.packs[0].trackCount, 1);
    EXPECT_EQ(index.packs[1].version, QStringLiteral("1.10"));
    EXPECT_EQ(index.packs[1].trackCount, 3);
    EXPECT_EQ(index.latest, std::optional<QString>(QStringLiteral("1.10")));

    EXPECT_EQ(QDir(output() + "/1.9").entryList(QDir::Files),
              (QStringList{"aa-first.m4a", packManifestFileName}));
    EXPECT_EQ(manifestOnDisk(QStringLiteral("1.10")).trackCount, 3);
    EXPECT_EQ(QDir(output()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              (QStringList{"1.10", "1.9", "index.json"}));
}

TEST_F(PackBuildTest, APackForANewerAppIsPublishedAndClientsOfThisBuildRefuseIt)
{
    PackBuildOptions o = options();
    o.minimumAppVersion = QStringLiteral("99.0");
    const PackResult<PackBuildReport> report = buildPack(o);
    ASSERT_TRUE(report.ok()) << report.message().toStdString();
    const std::optional<AudioPackError> gate = validateManifest(manifestOnDisk("2.1"));
    ASSERT_TRUE(gate.has_value());
    EXPECT_EQ(gate->kind, AudioPackError::Case::unsupportedAppVersion);
}

TEST_F(PackBuildTest, FailuresSayWhyAndLeaveThePublishedFilesAlone)
{
    // A published pack and index that every failing build must leave byte for byte.
    ASSERT_TRUE(buildPack(options(QStringLiteral("1.0"))).ok());
    const QByteArray publishedIndex = readAll(output() + "/index.json");

    const auto snapshot = [this] {
        QStringList entries;
        QDirIterator it(output(), QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            entries.append(it.next() + ':' + QString::number(QFileInfo(it.filePath()).size()));
        entries.sort();
        return entries;
    };
    const QStringList before = snapshot();

    struct Case
    {
        const char* name;
        std::function<void(PackBuildOptions&, QTemporaryDir&)> arrange;
        const char* message;
    };
    // "tone" stands for a real audio file.
    const auto withInput = [this](QList<std::pair<QString, QByteArray>> files) {
        return [this, files](PackBuildOptions& o, QTemporaryDir& scratch) {
            QDir().mkpath(scratch.filePath("in"));
            for (const auto& [name, content] : files)
                writeAll(scratch.filePath("in/" + name),
                         content == "tone" ? readAll(input() + "/aa-first.m4a") : content);
            o.inputDirectory = scratch.filePath("in");
        };
    };
    const auto withMetadata = [](const char* json) {
        return [json](PackBuildOptions& o, QTemporaryDir& scratch) {
            writeAll(scratch.filePath("metadata.json"), json);
            o.metadataFile = scratch.filePath("metadata.json");
        };
    };
    const Case cases[] = {
        {"no tracks", withInput({{"notes.txt", "hello"}}), "holds no .m4a files"},
        {"missing input",
         [](PackBuildOptions& o, QTemporaryDir& s) { o.inputDirectory = s.filePath("nope"); },
         "does not exist"},
        {"http base URL",
         [](PackBuildOptions& o, QTemporaryDir&) { o.baseURL = QUrl("http://h/"); },
         "is not an absolute https URL"},
        {"base URL with a query",
         [](PackBuildOptions& o, QTemporaryDir&) { o.baseURL = QUrl("https://h/?x=1"); },
         "must not carry"},
        {"version with a slash", [](PackBuildOptions& o, QTemporaryDir&) { o.version = "1/2"; },
         "cannot name the pack's folder"},
        {"version named like the index",
         [](PackBuildOptions& o, QTemporaryDir&) { o.version = "index.json"; },
         "cannot name the pack's folder"},
        {"blank minimum app version",
         [](PackBuildOptions& o, QTemporaryDir&) { o.minimumAppVersion = " "; },
         "minimum app version must not be empty"},
        {"not audio", withInput({{"a.m4a", "tone"}, {"b.m4a", QByteArray(4000, 'x')}}),
         "b.m4a cannot be published"},
        {"empty file", withInput({{"a.m4a", ""}}), "a.m4a is empty"},
        {"unsafe id", withInput({{" padded.m4a", "tone"}}), "is not usable as a track id"},
        {"unknown mood", withMetadata(R"({"aa-first": {"moods": ["Focus", "Happy"]}})"),
         "\"moods\" must be a non-empty list"},
        {"no moods", withMetadata(R"({"aa-first": {"moods": []}})"),
         "\"moods\" must be a non-empty list"},
        {"unknown kind", withMetadata(R"({"aa-first": {"kind": "Polka"}})"),
         "\"kind\" must be one of"},
        {"blank title", withMetadata(R"({"aa-first": {"title": "  "}})"), "\"title\" is empty"},
        {"misspelt key", withMetadata(R"({"aa-first": {"mood": ["Focus"]}})"),
         "unknown key \"mood\""},
        {"track without a file", withMetadata(R"({"nope": {"title": "Nope"}})"), "has no nope.m4a"},
        {"metadata not JSON", withMetadata("{"), "is not valid JSON"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir scratch;
        PackBuildOptions o = options(QStringLiteral("1.1"));
        c.arrange(o, scratch);
        const PackResult<PackBuildReport> report = buildPack(o);
        ASSERT_FALSE(report.ok());
        EXPECT_TRUE(report.message().contains(QString::fromUtf8(c.message)))
            << report.message().toStdString();
        EXPECT_EQ(snapshot(), before);
    }

    // Existing indexes we cannot read or that would not validate are never overwritten.
    const struct
    {
        QByteArray index;
        const char* message;
    } indexes[] = {
        {"{\"packs\": ", "cannot be read"},
        {QByteArray(publishedIndex).replace("https://", "http://"),
         "The index does not pass validation: The audio pack index contains an unsupported "
         "manifest URL."},
    };
    for (const auto& c : indexes) {
        SCOPED_TRACE(c.message);
        ASSERT_TRUE(writeAll(output() + "/index.json", c.index));
        const PackResult<PackBuildReport> report = buildPack(options(QStringLiteral("1.1")));
        ASSERT_FALSE(report.ok());
        EXPECT_TRUE(report.message().contains(QString::fromUtf8(c.message)))
            << report.message().toStdString();
        EXPECT_EQ(readAll(output() + "/index.json"), c.index);
        EXPECT_FALSE(QFileInfo::exists(output() + "/1.1"));
    }
}

TEST_F(PackBuildTest, TheCommandExitsWithItsStatusAndSaysWhatItDid)
{
    const QString program = QCoreApplication::applicationDirPath() + "/calmcove-pack";
    const struct
    {
        QStringList arguments;
        int exitCode;
        const char* stdoutText;
        const char* stderrText;
    } cases[] = {
        {{"build", "--input", input(), "--output", output(), "--version", "3.0", "--base-url",
          "https://127.0.0.1:47443/", "--tag", "demo"},
         0,
         "Built pack 3.0: 3 tracks",
         ""},
        {{"build", "--input", input(), "--output", output(), "--version", "3.0", "--base-url",
          "https://127.0.0.1:47443/"},
         0,
         "Rebuilt pack 3.0",
         ""},
        {{"build", "--input", input(), "--output", output(), "--version", "3.1", "--base-url",
          "http://127.0.0.1/"},
         1,
         "",
         "calmcove-pack: The base URL"},
        {{"build", "--input", input(), "--output", output(), "--base-url", "https://h/"},
         2,
         "",
         "--version is required"},
        {{"publish"}, 2, "", "unknown command \"publish\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        QProcess process;
        process.start(program, c.arguments);
        ASSERT_TRUE(process.waitForFinished(30000));
        EXPECT_EQ(process.exitCode(), c.exitCode);
        EXPECT_TRUE(process.readAllStandardOutput().contains(c.stdoutText));
        EXPECT_TRUE(process.readAllStandardError().contains(c.stderrText));
    }
    EXPECT_EQ(indexOnDisk().packs.size(), 1);
}

TEST(PackIndexTest, TheNewestVersionIsTheOneClientsWouldChoose)
{
    const auto entry = [](const char* version, std::optional<QString> publishedAt = {}) {
        AudioPackIndexEntry e;
        e.version = QString::fromLatin1(version);
        e.publishedAt = std::move(publishedAt);
        return e;
    };
    EXPECT_EQ(newestPackVersion({}), std::nullopt);
    EXPECT_EQ(newestPackVersion({entry("1.9"), entry("1.10"), entry("1.2")}),
              std::optional<QString>("1.10"));
    // Versions that compare equal ("2.0" and "2.00"): the later publishedAt, an absent one
    // losing.
    EXPECT_EQ(newestPackVersion({entry("2.0"), entry("2.00", "2026-01-01T00:00:00Z")}),
              std::optional<QString>("2.00"));
    EXPECT_EQ(newestPackVersion(
                  {entry("2.0", "2026-02-01T00:00:00Z"), entry("2.00", "2026-01-01T00:00:00Z")}),
              std::optional<QString>("2.0"));

    const AudioPackIndex index = indexWithPack({}, entry("1.0"), "now");
    EXPECT_EQ(index.generatedAt, std::optional<QString>("now"));
    EXPECT_EQ(index.latest, std::optional<QString>("1.0"));
    const AudioPackIndex replaced =
        indexWithPack(indexWithPack(index, entry("0.9"), "t"), entry("1.0", "x"), "t");
    ASSERT_EQ(replaced.packs.size(), 2);
    EXPECT_EQ(replaced.packs[0].publishedAt, std::optional<QString>("x"));
    EXPECT_EQ(replaced.latest, std::optional<QString>("1.0"));
}

} // namespace
} // namespace calmcove
