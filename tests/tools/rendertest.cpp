// Rendering whole pieces: determinism, loudness and length after encoding, clean edges, no
// clipping, and no holes in the music.

#include "musicgen/dsp.h"
#include "musicgen/encoder.h"
#include "musicgen/loudness.h"
#include "musicgen/renderer.h"
#include "support/ffmpegprobe.h"

#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <map>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

namespace calmcove::musicgen {
namespace {

constexpr double shortRender = 20; // seconds: long enough for sections, short enough to be quick

TrackSpec track(const char* id)
{
    const std::optional<TrackSpec> found = catalogueTrack(id);
    EXPECT_TRUE(found) << id;
    return found.value_or(TrackSpec{});
}

// One catalogue row of each kind, rendered once for the whole suite.
const std::map<std::string, Rendering>& renderings()
{
    static const std::map<std::string, Rendering> cache = [] {
        std::map<std::string, Rendering> result;
        for (const char* id :
             {"morning-tea-steam", "rain-on-the-skylight", "pixel-snowfall", "midnight-overpass"})
            result[id] = renderTrack(track(id), {.durationSeconds = shortRender});
        return result;
    }();
    return cache;
}

float peakOf(const std::vector<float>& samples, std::size_t firstFrame, std::size_t frames)
{
    float peak = 0;
    for (std::size_t i = 2 * firstFrame; i < 2 * (firstFrame + frames) && i < samples.size(); ++i)
        peak = std::max(peak, std::abs(samples[i]));
    return peak;
}

TEST(RenderTest, SameIdGivesIdenticalAudioAndOtherIdsDiffer)
{
    const Rendering again =
        renderTrack(track("morning-tea-steam"), {.durationSeconds = shortRender});
    const Rendering& first = renderings().at("morning-tea-steam");
    ASSERT_EQ(again.samples.size(), first.samples.size());
    EXPECT_EQ(0, std::memcmp(again.samples.data(), first.samples.data(),
                             first.samples.size() * sizeof(float)));

    // Another piece of the same kind and moods, and pieces of every other kind.
    const auto meanDifference = [&first](const std::vector<float>& other) {
        double sum = 0;
        for (std::size_t i = 0; i < first.samples.size() && i < other.size(); ++i)
            sum += std::abs(other[i] - first.samples[i]);
        return other.size() == first.samples.size() ? sum / static_cast<double>(other.size()) : 0;
    };
    EXPECT_GT(meanDifference(
                  renderTrack(track("corner-bookshop"), {.durationSeconds = shortRender}).samples),
              0.01);
    for (const auto& [id, rendering] : renderings())
        EXPECT_TRUE(id == "morning-tea-steam" || meanDifference(rendering.samples) > 0.01) << id;
}

TEST(RenderTest, EdgesAreSilentNothingClipsAndTheMusicNeverStops)
{
    const std::size_t fiveMs = 44100 * 5 / 1000;
    for (const auto& [id, rendering] : renderings()) {
        SCOPED_TRACE(id);
        const std::vector<float>& s = rendering.samples;
        const std::size_t frames = s.size() / 2;
        EXPECT_EQ(s.front(), 0.0f);
        EXPECT_EQ(s.back(), 0.0f);
        EXPECT_LT(peakOf(s, 0, fiveMs), 0.003f); // below -50 dBFS: no click
        EXPECT_LT(peakOf(s, frames - fiveMs, fiveMs), 0.003f);
        EXPECT_LT(samplePeak(s), dbToGain(-1.0));
        EXPECT_LE(rendering.truePeak, -1.9);
        double sum = 0;
        for (const float x : s) {
            ASSERT_TRUE(std::isfinite(x));
            sum += x;
        }
        EXPECT_LT(std::abs(sum / static_cast<double>(s.size())), 1e-3); // no DC

        // Between the opening and the closing fade every second carries sound.
        const std::size_t second = 44100;
        for (std::size_t start = second; start + 5 * second < frames; start += second) {
            double energy = 0;
            for (std::size_t i = 2 * start; i < 2 * (start + second); ++i)
                energy += static_cast<double>(s[i]) * s[i];
            const double rmsDb = 10 * std::log10(energy / (2.0 * second) + 1e-20);
            EXPECT_GT(rmsDb, -35.0) << "second " << start / second;
        }
    }
}

TEST(RenderTest, EncodedFilesHaveTheTargetLoudnessLengthAndTags)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    for (const auto& [id, rendering] : renderings()) {
        SCOPED_TRACE(id);
        const QString path = folder.filePath(QString::fromStdString(id) + QStringLiteral(".m4a"));
        const EncodeResult encoded = encodeM4a(rendering.samples, path.toStdString(),
                                               {96, id + " (Live)", "Tidewater Tapes"});
        ASSERT_TRUE(encoded.ok) << encoded.error;
        const std::optional<test::Ebur128> measured = test::measureFile(path);
        ASSERT_TRUE(measured);
        EXPECT_NEAR(measured->integrated, -16.0, 1.0);
        EXPECT_LT(measured->truePeak, -1.0);
        EXPECT_NEAR(test::decodedDuration(path), shortRender, 0.5);
        // 96 kb/s: about 12 kB a second.
        EXPECT_LT(QFileInfo(path).size(), static_cast<qint64>(shortRender * 14000));
        QProcess ffprobe;
        ffprobe.start("ffprobe", {"-v", "error", "-show_entries", "format_tags=title,artist", "-of",
                                  "default=nw=1", path});
        ASSERT_TRUE(ffprobe.waitForFinished(30000));
        const QString tags = QString::fromUtf8(ffprobe.readAllStandardOutput());
        EXPECT_TRUE(tags.contains("TAG:title=" + QString::fromStdString(id) + " (Live)") &&
                    tags.contains("TAG:artist=Tidewater Tapes"))
            << tags.toStdString();
    }
    // The partial file never stays behind.
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden).size(), 4);
}

} // namespace
} // namespace calmcove::musicgen
