// Loudness of whole files: sines at known levels checked against ffmpeg's own EBU R128
// filter, files that cannot be measured, and the gain that matches a file to the library.

#include "media/loudnessmeter.h"

#include "audio/audiotestsupport.h"
#include "support/ffmpegprobe.h"
#include "support/wavfile.h"

#include <cmath>
#include <gtest/gtest.h>
#include <QFile>

namespace calmcove {
namespace {

using namespace calmcove::test;

// A 997 Hz sine in both channels measures its peak level in LUFS (K-weighting is ~0 dB there).
QString writeLevel(const QTemporaryDir& folder, const QString& name, double lufs, double seconds,
                   const QStringList& options = {})
{
    return writeSignal(folder, name,
                       QStringLiteral("%1*sin(2*PI*997*t)").arg(std::pow(10.0, lufs / 20.0)),
                       qint64(seconds * 44100), 44100, options);
}

struct LevelCase
{
    const char* fileName;
    double lufs;
    QStringList options;
};

TEST(LoudnessMeter, MeasuresKnownLevelsAsFfmpegDoes)
{
    QTemporaryDir folder;
    const LevelCase cases[] = {{"quiet.wav", -30, {}},
                               {"loud.wav", -8, {}},
                               {"middle.flac", -20, {}},
                               {"middle.mp3", -20, {"-b:a", "192k"}}};
    for (const LevelCase& levelCase : cases) {
        SCOPED_TRACE(levelCase.fileName);
        const QString path =
            writeLevel(folder, levelCase.fileName, levelCase.lufs, 5.0, levelCase.options);
        ASSERT_FALSE(path.isEmpty());
        const auto measured = measureLoudness(path);
        ASSERT_TRUE(measured.has_value());
        EXPECT_NEAR(measured->integratedLufs, levelCase.lufs, 0.3);
        EXPECT_NEAR(measured->truePeakDbtp, levelCase.lufs, 0.3);
        const auto reference = measureFile(path);
        ASSERT_TRUE(reference.has_value());
        EXPECT_NEAR(measured->integratedLufs, reference->integrated, 0.1);
    }
}

TEST(LoudnessMeter, NothingForFilesWithoutALoudness)
{
    QTemporaryDir folder;
    const QString tooShort = writeLevel(folder, "short.wav", -16, 0.2);
    const QString silent = folder.filePath("silent.wav");
    {
        QFile file(silent);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(silentWav(3.0));
    }
    const QString text = folder.filePath("notes.wav");
    {
        QFile file(text);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("not audio at all");
    }
    for (const QString& path : {tooShort, silent, text, folder.filePath("missing.wav")}) {
        SCOPED_TRACE(path.toStdString());
        EXPECT_EQ(measureLoudness(path), std::nullopt);
    }
}

TEST(LoudnessMeter, StopsWhenCancelled)
{
    QTemporaryDir folder;
    const QString path = writeLevel(folder, "tone.wav", -20, 2.0);
    const std::atomic<bool> cancelled{true};
    EXPECT_EQ(measureLoudness(path, &cancelled), std::nullopt);
}

TEST(LoudnessMeter, MatchingGainReachesTargetUnderThePeakCeiling)
{
    struct GainCase
    {
        std::optional<LoudnessMeasurement> measurement;
        double gainDb;
    };
    const GainCase cases[] = {
        {LoudnessMeasurement{-30, -30}, 14},   // lifted to the target
        {LoudnessMeasurement{-8, -8}, -8},     // lowered to the target
        {LoudnessMeasurement{-30, -3}, 2},     // lifted only until the peak meets the ceiling
        {LoudnessMeasurement{-16, 0.5}, -1.5}, // already at the target but over the ceiling
        {std::nullopt, 0},                     // played as it is
    };
    for (const GainCase& gainCase : cases)
        EXPECT_DOUBLE_EQ(matchingGainDb(gainCase.measurement), gainCase.gainDb);
}

} // namespace
} // namespace calmcove
