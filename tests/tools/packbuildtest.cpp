// calmcove-pack build: the pack and index it writes are what clients can install — exact
// sizes and digests, real durations, https URLs under the base URL, our own validators
// satisfied — and a failed build leaves the output folder as it was.

#include "library/audiopackformat.h"
#include "media/medialog.h"
#include "model/tracklibrary.h"
#include "packtestsupport.h"
#include "support/qtprinters.h"
#include "tools/pack/packbuilder.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>

namespace calmcove {
namespace {

using test::readAll;
using test::sha256;
using test::writeAll;
using OptionalText = std::optional<QString>;

struct Tone
{
    const char* id;
    double seconds;
    int frequency;
};
// In the order a pack lists them: the default album's first, then the others by id.
constexpr Tone tones[] = {
    {"morning-tea-steam", 1.0, 440}, {"aa-first", 0.5, 550}, {"harbour-bells", 2.0, 330}};

const QString base = QStringLiteral("https://packs.example.test:8443/calm/");

// A folder with the tones, made once for the suite.
QString input()
{
    static const QTemporaryDir folder;
    static const bool made = [] {
        silenceMediaLog();
        return std::all_of(std::begin(tones), std::end(tones), [](const Tone& t) {
            return test::makeTone(folder.filePath(QLatin1String(t.id) + ".m4a"), t.seconds,
                                  t.frequency);
        });
    }();
    EXPECT_TRUE(made);
    return folder.path();
}

class PackBuildTest : public ::testing::Test
{
protected:
    QString output() const { return m_output.filePath(QStringLiteral("site")); }
    PackBuildOptions options(const QString& version = QStringLiteral("2.1")) const
    {
        return {input(), output(), version, QUrl(base), {}, {}, {}};
    }
    AudioPackManifest manifestOnDisk(const QString& version) const
    {
        const Result<AudioPackManifest> manifest =
            decodeAudioPackManifest(readAll(output() + '/' + version + '/' + packManifestFileName));
        EXPECT_TRUE(manifest.ok());
        return manifest ? *manifest : AudioPackManifest{};
    }
    AudioPackIndex indexOnDisk() const
    {
        const Result<AudioPackIndex> index =
            decodeAudioPackIndex(readAll(output() + "/index.json"));
        EXPECT_TRUE(index.ok());
        return index ? *index : AudioPackIndex{};
    }
    QStringList published() const
    {
        return QDir(output()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }

    QTemporaryDir m_output;
};

TEST_F(PackBuildTest, WritesAPackWithExactSizesDigestsDurationsAndURLs)
{
    const PackResult<PackBuildReport> report = buildPack(options());
    ASSERT_TRUE(report.ok()) << report.message().toStdString();

    const AudioPackManifest manifest = manifestOnDisk(QStringLiteral("2.1"));
    EXPECT_EQ(manifest, report->manifest);
    EXPECT_FALSE(validateManifest(manifest).has_value());
    EXPECT_EQ(manifest.version, QStringLiteral("2.1"));
    EXPECT_EQ(manifest.minimumAppVersion, BuildInfo::current().compatibilityVersion());
    ASSERT_EQ(manifest.tracks.size(), 3);
    qint64 total = 0;
    for (int i = 0; i < 3; ++i) {
        const AudioPackTrack& track = manifest.tracks[i];
        SCOPED_TRACE(tones[i].id);
        EXPECT_EQ(track.id, QLatin1String(tones[i].id));
        const QByteArray bytes = readAll(output() + "/2.1/" + track.fileName);
        EXPECT_EQ(bytes, readAll(input() + '/' + track.fileName));
        EXPECT_EQ(track.byteCount, bytes.size());
        EXPECT_EQ(track.sha256, sha256(bytes));
        EXPECT_EQ(track.downloadURL, QUrl(base + "2.1/" + track.fileName));
        ASSERT_TRUE(track.duration.has_value());
        EXPECT_NEAR(*track.duration, tones[i].seconds, 0.05);
        total += track.byteCount;
    }
    EXPECT_EQ(manifest.trackCount, 3);
    EXPECT_EQ(manifest.totalBytes, total);

    const AudioPackIndex index = indexOnDisk();
    EXPECT_EQ(index, report->index);
    EXPECT_FALSE(validateIndex(index).has_value());
    ASSERT_EQ(index.packs.size(), 1);
    EXPECT_EQ(index.packs[0].manifestURL, QUrl(base + "2.1/" + packManifestFileName));
    EXPECT_EQ(index.packs[0].trackCount, 3);
    EXPECT_EQ(index.packs[0].totalBytes, total);
    EXPECT_EQ(index.latest, OptionalText("2.1"));
    EXPECT_EQ(published(), (QStringList{"2.1", "index.json"}));
}

TEST_F(PackBuildTest, CatalogueRowsFillTheMetadataAndTheMetadataFileWins)
{
    PackBuildOptions o = options();
    o.metadataFile = m_output.filePath(QStringLiteral("metadata.json"));
    ASSERT_TRUE(writeAll(o.metadataFile, R"({
        "morning-tea-steam": {"title": "  Tea, Second Steeping "},
        "harbour-bells": {"artist": "Pier Nine", "moods": ["Night", "Sleepy"], "kind": "Night drive"}
    })"));
    ASSERT_TRUE(buildPack(o).ok());

    const QList<AudioPackTrack> tracks = manifestOnDisk(QStringLiteral("2.1")).tracks;
    ASSERT_EQ(tracks.size(), 3);
    const AudioPackTrack &tea = tracks[0], &other = tracks[1], &bells = tracks[2];
    EXPECT_EQ(tea.title, OptionalText("Tea, Second Steeping"));
    EXPECT_EQ(tea.artist, OptionalText(TrackLibrary::artistName));
    EXPECT_EQ(tea.moods, std::optional<QList<QString>>({"Focus", "Cozy"}));
    EXPECT_EQ(tea.kind, OptionalText("Dusty beat"));
    EXPECT_FALSE(other.title || other.artist || other.moods || other.kind);
    EXPECT_FALSE(bells.title.has_value());
    EXPECT_EQ(bells.artist, OptionalText("Pier Nine"));
    EXPECT_EQ(bells.moods, std::optional<QList<QString>>({"Night", "Sleepy"}));
    EXPECT_EQ(bells.kind, OptionalText("Night drive"));
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
    // A pack for a newer app is published, and clients of this build refuse it.
    PackBuildOptions newer = options(QStringLiteral("1.10"));
    newer.minimumAppVersion = QStringLiteral("99.0");
    ASSERT_TRUE(buildPack(newer).ok());
    const std::optional<AudioPackError> gate = validateManifest(manifestOnDisk("1.10"));
    ASSERT_TRUE(gate.has_value());
    EXPECT_EQ(gate->kind, AudioPackError::Case::unsupportedAppVersion);

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
    EXPECT_EQ(index.packs[0].tag, OptionalText("spring"));
    EXPECT_EQ(index.packs[0].minimumAppVersion, QStringLiteral("0.0.9"));
    EXPECT_EQ(index.packs[0].trackCount, 1);
    EXPECT_EQ(index.packs[1].version, QStringLiteral("1.10"));
    EXPECT_EQ(index.packs[1].trackCount, 3);
    EXPECT_EQ(index.latest, OptionalText("1.10"));
    EXPECT_EQ(QDir(output() + "/1.9").entryList(QDir::Files),
              (QStringList{"aa-first.m4a", packManifestFileName}));
    EXPECT_EQ(published(), (QStringList{"1.10", "1.9", "index.json"}));
}

TEST_F(PackBuildTest, FailuresSayWhyAndLeaveThePublishedFilesAlone)
{
    // A published pack and index that every failing build must leave byte for byte.
    ASSERT_TRUE(buildPack(options(QStringLiteral("1.0"))).ok());
    const QString indexPath = output() + "/index.json";
    const QByteArray publishedIndex = readAll(indexPath);
    const auto snapshot = [this] {
        QStringList entries;
        QDirIterator it(output(), QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            entries.append(it.next() + ':' + sha256(readAll(it.filePath())));
        entries.sort();
        return entries;
    };

    using Files = QList<std::pair<QString, QByteArray>>; // "tone" stands for real audio
    const struct
    {
        const char* message;
        std::optional<Files> input = {}; // none: the good tones; empty: a missing folder
        const char* metadata = nullptr;
        const char* version = "1.1";
        const char* baseURL = "https://h/";
        OptionalText minimumAppVersion = {};
        QByteArray index = {}; // replaces the published index
    } cases[] = {
        {.message = "holds no .m4a files", .input = Files{{"notes.txt", "hello"}}},
        {.message = "does not exist", .input = Files{}},
        {.message = "must not carry", .baseURL = "https://h/?x=1"},
        {.message = "cannot name the pack's folder", .version = "1/2"},
        {.message = "cannot name the pack's folder", .version = "index.json"},
        {.message = "minimum app version must not be empty", .minimumAppVersion = " "},
        {.message = "b.m4a cannot be published",
         .input = Files{{"a.m4a", "tone"}, {"b.m4a", QByteArray(4000, 'x')}}},
        {.message = "a.m4a is empty", .input = Files{{"a.m4a", ""}}},
        {.message = "is not usable as a track id", .input = Files{{" padded.m4a", "tone"}}},
        {.message = "\"moods\" must be a non-empty list",
         .metadata = R"({"aa-first": {"moods": ["Focus", "Happy"]}})"},
        {.message = "\"moods\" must be a non-empty list",
         .metadata = R"({"aa-first": {"moods": []}})"},
        {.message = "\"kind\" must be one of", .metadata = R"({"aa-first": {"kind": "Polka"}})"},
        {.message = "\"title\" is empty", .metadata = R"({"aa-first": {"title": "  "}})"},
        {.message = "unknown key \"mood\"", .metadata = R"({"aa-first": {"mood": ["Focus"]}})"},
        {.message = "has no nope.m4a", .metadata = R"({"nope": {"title": "Nope"}})"},
        {.message = "is not valid JSON", .metadata = "{"},
        // Existing indexes we cannot read or that would not validate are never overwritten.
        {.message = "cannot be read", .index = "{\"packs\": "},
        {.message = "The index does not pass validation: The audio pack index contains an "
                    "unsupported manifest URL.",
         .index = QByteArray(publishedIndex).replace("https://", "http://")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.message) + " " + c.version + (c.metadata ? c.metadata : ""));
        QTemporaryDir scratch;
        PackBuildOptions o = options(QString::fromLatin1(c.version));
        o.baseURL = QUrl(QString::fromLatin1(c.baseURL));
        o.minimumAppVersion = c.minimumAppVersion;
        if (c.input) {
            o.inputDirectory = scratch.filePath("in");
            if (!c.input->isEmpty())
                QDir().mkpath(o.inputDirectory);
            for (const auto& [name, content] : *c.input)
                writeAll(o.inputDirectory + '/' + name,
                         content == "tone" ? readAll(input() + "/aa-first.m4a") : content);
        }
        if (c.metadata) {
            o.metadataFile = scratch.filePath("metadata.json");
            writeAll(o.metadataFile, c.metadata);
        }
        writeAll(indexPath, c.index.isEmpty() ? publishedIndex : c.index);
        const QStringList before = snapshot();
        const PackResult<PackBuildReport> report = buildPack(o);
        ASSERT_FALSE(report.ok());
        EXPECT_TRUE(report.message().contains(QString::fromUtf8(c.message)))
            << report.message().toStdString();
        EXPECT_EQ(snapshot(), before);
    }
}

TEST_F(PackBuildTest, TheCommandExitsWithItsStatusAndSaysWhatItDid)
{
    const QStringList build = {"build", "--input", input(), "--output", output()};
    const struct
    {
        QStringList arguments;
        int exitCode;
        const char* stdoutText;
        const char* stderrText;
    } cases[] = {
        {build + QStringList{"--version", "3.0", "--base-url", "https://127.0.0.1:47443/", "--tag",
                             "demo"},
         0, "Built pack 3.0: 3 tracks", ""},
        {build + QStringList{"--version", "3.0", "--base-url", "https://127.0.0.1:47443/"}, 0,
         "Rebuilt pack 3.0", ""},
        {build + QStringList{"--version", "3.1", "--base-url", "http://127.0.0.1/"}, 1, "",
         "calmcove-pack: The base URL \"http://127.0.0.1/\" is not an absolute https URL"},
        {build + QStringList{"--base-url", "https://h/"}, 2, "", "--version is required"},
        {{"publish"}, 2, "", "unknown command \"publish\""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        const test::PackRun run = test::runPack(c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_TRUE(run.out.contains(c.stdoutText)) << run.out.toStdString();
        EXPECT_TRUE(run.err.contains(c.stderrText)) << run.err.toStdString();
    }
    EXPECT_EQ(indexOnDisk().packs.size(), 1);
}

} // namespace
} // namespace calmcove
