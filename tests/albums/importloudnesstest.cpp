// Imports played as loud as the library: files at very different levels measured in the
// albums folder and rendered through the real engine, the cache on disk and when it is
// measured again, files that cannot be measured and files outside the albums folder.

#include "albums/importloudness.h"

#include "audio/audiotestsupport.h"
#include "playback/audioengineadapter.h"
#include "support/ffmpegprobe.h"

#include <cmath>
#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

namespace calmcove {
namespace {

using namespace calmcove::test;

constexpr int rate = 44100;

// A 997 Hz sine in both channels, whose loudness in LUFS is its peak level.
QString writeLevel(const QTemporaryDir& folder, const QString& name, double lufs, double seconds)
{
    QDir(folder.path()).mkpath(QFileInfo(folder.filePath(name)).path());
    return writeSignal(folder, name,
                       QStringLiteral("%1*sin(2*PI*997*t)").arg(std::pow(10.0, lufs / 20.0)),
                       qint64(seconds * rate));
}

bool waitUntilMeasured(ImportLoudness& loudness)
{
    return waitUntil([&loudness] { return !loudness.isMeasuring(); }, 60000);
}

// Everything the real engine plays of `path` through the adapter and its gain lookup.
std::vector<float> play(ImportLoudness& loudness, const QString& path, double seconds)
{
    OfflineEngine offline;
    offline.neutral();
    AudioEngineAdapter adapter(offline.engine());
    adapter.setGainLookup([&loudness](const QString& file) { return loudness.gainDb(file); });
    const auto opened = adapter.openFile(path);
    const auto* file = std::get_if<AudioFileInfo>(&opened);
    EXPECT_NE(file, nullptr);
    if (!file)
        return {};
    adapter.scheduleSegment(*file, 0, file->lengthFrames, [] {});
    adapter.playPlayer();
    offline.render(qint64(seconds * rate));
    return offline.capture().audio();
}

double renderedLoudness(const std::vector<float>& audio)
{
    const auto measured = measureSamples(audio);
    EXPECT_TRUE(measured.has_value());
    return measured ? measured->integrated : 0.0;
}

TEST(ImportLoudness, ImportsPlayAsLoudAsTheLibrary)
{
    QTemporaryDir albums;
    QTemporaryDir library;
    const QString quiet = writeLevel(albums, "Field Notes/quiet.wav", -30, 6.0);
    const QString loud = writeLevel(albums, "Field Notes/loud.wav", -8, 6.0);
    const QString libraryTrack = writeLevel(library, "rain.wav", -16, 6.0);
    ASSERT_FALSE(quiet.isEmpty() || loud.isEmpty() || libraryTrack.isEmpty());

    ImportLoudness loudness(albums.path());
    loudness.measureFiles({quiet, loud});
    ASSERT_TRUE(waitUntilMeasured(loudness));
    ASSERT_TRUE(loudness.measurement(quiet).has_value());
    ASSERT_TRUE(loudness.measurement(loud).has_value());

    const double quietPlayed = renderedLoudness(play(loudness, quiet, 6.5));
    const double loudPlayed = renderedLoudness(play(loudness, loud, 6.5));
    const double libraryPlayed = renderedLoudness(play(loudness, libraryTrack, 6.5));
    EXPECT_NEAR(quietPlayed, targetLoudnessLufs, 1.0);
    EXPECT_NEAR(loudPlayed, targetLoudnessLufs, 1.0);
    EXPECT_NEAR(quietPlayed, loudPlayed, 1.0);
    EXPECT_NEAR(quietPlayed, libraryPlayed, 1.0);
    EXPECT_NEAR(loudPlayed, libraryPlayed, 1.0);
    // The library track is neither measured nor changed.
    EXPECT_EQ(loudness.measurement(libraryTrack), std::nullopt);
    EXPECT_NEAR(libraryPlayed, -16.0, 0.3);
}

TEST(ImportLoudness, TrackAboutToPlayIsMeasuredFirstAndTakesItsGainWhilePlaying)
{
    QTemporaryDir albums;
    const QString quiet = writeLevel(albums, "Old Album/quiet.wav", -30, 8.0);
    ASSERT_FALSE(quiet.isEmpty());
    ImportLoudness loudness(albums.path());

    OfflineEngine offline;
    offline.neutral();
    AudioEngineAdapter adapter(offline.engine());
    adapter.setGainLookup([&loudness](const QString& file) { return loudness.gainDb(file); });
    QObject::connect(
        &loudness, &ImportLoudness::gainChanged, &loudness,
        [&adapter](const QString& path, double gainDb) { adapter.setFileGain(path, gainDb); });
    const auto file = std::get<AudioFileInfo>(adapter.openFile(quiet));
    adapter.scheduleSegment(file, 0, file.lengthFrames, [] {});
    adapter.playPlayer();
    EXPECT_TRUE(loudness.isMeasuring());
    // Until its measurement arrives the file plays as it is.
    ASSERT_TRUE(offline.renderUntil([&loudness] { return !loudness.isMeasuring(); }, 4 * rate));
    const std::size_t measuredAt = offline.capture().audio().size() / 2;
    offline.render(8 * rate - qint64(measuredAt));
    const std::vector<float> left = offline.channel(0);
    const std::size_t tail = std::size_t(rate) / 2;
    ASSERT_GT(left.size(), measuredAt + tail + std::size_t(rate));
    EXPECT_NEAR(decibels(rms(left, left.size() - tail - std::size_t(rate), tail) * std::sqrt(2.0)),
                targetLoudnessLufs, 0.5);
}

TEST(ImportLoudness, FileThatCannotBeMeasuredPlaysAtUnityGain)
{
    QTemporaryDir albums;
    // Shorter than one loudness block: it has no integrated loudness.
    const QString blip = writeSignal(albums, "blip.wav", "0.5*sin(2*PI*440*t)", rate * 3 / 10);
    ASSERT_FALSE(blip.isEmpty());
    ImportLoudness loudness(albums.path());
    loudness.measureFiles({blip});
    ASSERT_TRUE(waitUntilMeasured(loudness));
    EXPECT_EQ(loudness.measurement(blip), std::nullopt);
    EXPECT_EQ(loudness.gainDb(blip), 0.0);
    EXPECT_FALSE(loudness.isMeasuring()); // known as unmeasurable: not measured again

    const std::vector<float> audio = play(loudness, blip, 0.5);
    std::vector<float> left(audio.size() / 2);
    for (std::size_t i = 0; i < left.size(); ++i)
        left[i] = audio[2 * i];
    EXPECT_NEAR(toneAmplitude(left, 2000, 8000, 440, rate), 0.5, 0.01);
}

TEST(ImportLoudness, CacheIsKeptAndMeasuredAgainWhenTheFileChanges)
{
    QTemporaryDir albums;
    const QString track = writeLevel(albums, "Album/track.wav", -30, 3.0);
    const QString other = writeLevel(albums, "Album/other.wav", -20, 3.0);
    {
        ImportLoudness loudness(albums.path());
        loudness.measureFiles({track, other});
        ASSERT_TRUE(waitUntilMeasured(loudness));
    }
    ASSERT_TRUE(QFile::exists(albums.filePath(ImportLoudness::cacheFileName)));

    {
        // A new launch knows both at once and measures nothing.
        ImportLoudness loudness(albums.path());
        ASSERT_TRUE(loudness.measurement(track).has_value());
        EXPECT_NEAR(loudness.measurement(track)->integratedLufs, -30, 0.3);
        loudness.measureFiles({track, other});
        EXPECT_FALSE(loudness.isMeasuring());
    }

    struct Change
    {
        const char* what;
        double seconds; // new length: a different size
        qint64 shiftMs; // modification time moved by this much
        double newLevel;
    };
    const Change changes[] = {{"same size, new modification time", 3.0, 5000, -12},
                              {"new size, same modification time", 4.0, 0, -24}};
    for (const Change& change : changes) {
        SCOPED_TRACE(change.what);
        const QDateTime modified = QFileInfo(track).lastModified();
        writeLevel(albums, "Album/track.wav", change.newLevel, change.seconds);
        QFile file(track);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_TRUE(
            file.setFileTime(modified.addMSecs(change.shiftMs), QFileDevice::FileModificationTime));
        file.close();

        ImportLoudness loudness(albums.path());
        EXPECT_EQ(loudness.measurement(track), std::nullopt);
        int measured = 0;
        QObject::connect(&loudness, &ImportLoudness::gainChanged, &loudness,
                         [&measured](const QString&, double) { ++measured; });
        loudness.measureFiles({track, other});
        ASSERT_TRUE(waitUntilMeasured(loudness));
        EXPECT_EQ(measured, 1); // the other file kept its measurement
        ASSERT_TRUE(loudness.measurement(track).has_value());
        EXPECT_NEAR(loudness.measurement(track)->integratedLufs, change.newLevel, 0.3);
    }

    {
        // A track deleted from the albums leaves the cache.
        ImportLoudness loudness(albums.path());
        loudness.measureFiles({other});
    }
    QFile cache(albums.filePath(ImportLoudness::cacheFileName));
    ASSERT_TRUE(cache.open(QIODevice::ReadOnly));
    const QByteArray json = cache.readAll();
    EXPECT_FALSE(json.contains("track.wav"));
    EXPECT_TRUE(json.contains("Album/other.wav"));
}

TEST(ImportLoudness, UnreadableCacheIsMeasuredAnew)
{
    QTemporaryDir albums;
    const QString track = writeLevel(albums, "Album/track.wav", -20, 2.0);
    QFile cache(albums.filePath(ImportLoudness::cacheFileName));
    ASSERT_TRUE(cache.open(QIODevice::WriteOnly));
    cache.write("{\"files\": [ {\"path\": 12}, \"broken\"");
    cache.close();
    ImportLoudness loudness(albums.path());
    loudness.measureFiles({track});
    ASSERT_TRUE(waitUntilMeasured(loudness));
    ASSERT_TRUE(loudness.measurement(track).has_value());
    EXPECT_NEAR(loudness.gainDb(track), 4.0, 0.3);
}

} // namespace
} // namespace calmcove
