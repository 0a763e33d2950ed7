// Reading audio files: exact lengths per format, resampling to the output rate, mono,
// sample-exact starts, and unreadable files.

#include "media/audiofile.h"

#include "audio/audiotestsupport.h"
#include "audio/playersegment.h"

#include <gtest/gtest.h>
#include <QFile>

namespace calmcove {
namespace {

using namespace calmcove::test;

constexpr qint64 toneFrames = 132317; // three seconds and an odd remainder

// Everything the decoder yields for a range, at the output rate.
std::vector<float> decodeAll(const std::shared_ptr<const AudioFile>& file, int outputRate,
                             qint64 start = 0, qint64 count = -1)
{
    AudioDecoder decoder(file, outputRate);
    QString error;
    EXPECT_TRUE(decoder.open(start, count < 0 ? file->length() - start : count, &error))
        << error.toStdString();
    std::vector<float> audio;
    std::vector<float> block(2 * 1000);
    while (const int frames = decoder.read(block.data(), 1000))
        audio.insert(audio.end(), block.begin(), block.begin() + 2 * frames);
    return audio;
}

struct LengthCase
{
    const char* fileName;
    QStringList options;
    bool lengthIsSource; // the format keeps the exact sample count (lossless or gapless mp3)
};

TEST(AudioFileTest, LengthEqualsTheFramesDecodingYieldsInEveryFormat)
{
    QTemporaryDir folder;
    const std::vector<LengthCase> cases = {
        {"tone.wav", {}, true},
        {"tone.flac", {}, true},
        {"tone.aiff", {}, true},
        {"tone.mp3", {"-b:a", "192k"}, true},
        {"cbr-without-header.mp3", {"-b:a", "128k", "-write_xing", "0"}, false},
        {"tone.m4a", {"-c:a", "aac", "-b:a", "128k"}, false},
    };
    for (const LengthCase& test : cases) {
        SCOPED_TRACE(test.fileName);
        const QString path =
            writeSignal(folder, test.fileName, QStringLiteral("0.5*sin(2*PI*440*t)"), toneFrames,
                        44100, test.options);
        ASSERT_FALSE(path.isEmpty());
        QString error;
        const auto file = AudioFile::open(path, &error);
        ASSERT_TRUE(file) << error.toStdString();
        EXPECT_EQ(file->sampleRate(), 44100);
        EXPECT_EQ(file->channelCount(), 2);
        EXPECT_EQ(qint64(decodeAll(file, 44100).size() / 2), file->length());
        if (test.lengthIsSource)
            EXPECT_EQ(file->length(), toneFrames);
        else // lossy framing pads at most a codec frame or two
            EXPECT_NEAR(double(file->length()), double(toneFrames), 2 * 1152.0);
    }
}

TEST(AudioFileTest, ResamplesToTheOutputRateKeepingDurationAndPitch)
{
    QTemporaryDir folder;
    const QString path = writeTone(folder, "tone48k.flac", 1000, 2.0, 48000);
    const auto file = AudioFile::open(path, nullptr);
    ASSERT_TRUE(file);
    EXPECT_EQ(file->sampleRate(), 48000);
    EXPECT_EQ(file->length(), 96000);
    std::vector<float> audio = decodeAll(file, 44100);
    EXPECT_EQ(qint64(audio.size() / 2), framesAtRate(96000, 48000, 44100));
    std::vector<float> left(audio.size() / 2);
    for (std::size_t i = 0; i < left.size(); ++i)
        left[i] = audio[2 * i];
    EXPECT_NEAR(dominantFrequency(left, 20000, 22050, 995, 1005, 44100), 1000.0, 0.5);
    EXPECT_NEAR(toneAmplitude(left, 20000, 22050, 1000, 44100), 0.5, 0.01);
}

TEST(AudioFileTest, MonoPlaysAtFullLevelOnBothSides)
{
    QTemporaryDir folder;
    const QString path =
        writeSignal(folder, "mono.wav", "0.5*sin(2*PI*500*t)", 44100, 44100, {"-ac", "1"});
    const auto file = AudioFile::open(path, nullptr);
    ASSERT_TRUE(file);
    EXPECT_EQ(file->channelCount(), 1);
    const std::vector<float> audio = decodeAll(file, 44100);
    ASSERT_EQ(audio.size(), 2u * 44100);
    std::vector<float> left(44100), right(44100);
    for (std::size_t i = 0; i < left.size(); ++i) {
        left[i] = audio[2 * i];
        right[i] = audio[2 * i + 1];
    }
    EXPECT_EQ(left, right);
    EXPECT_NEAR(toneAmplitude(left, 10000, 22050, 500, 44100), 0.5, 0.005);
}

// A decoder started inside the file produces exactly what a decoder started at the
// beginning produces from that frame on (up to the codecs' own noise).
TEST(AudioFileTest, StartingInsideTheFileIsSampleExact)
{
    QTemporaryDir folder;
    const QString expression = QStringLiteral("0.5*sin(2*PI*(200+300*t)*t)"); // a rising sweep
    const std::vector<std::pair<const char*, QStringList>> formats = {
        {"sweep.wav", {}},
        {"sweep.flac", {}},
        {"sweep.mp3", {"-b:a", "256k"}},
        {"sweep.m4a", {"-c:a", "aac", "-b:a", "256k"}},
    };
    for (const auto& [name, options] : formats) {
        SCOPED_TRACE(name);
        const QString path = writeSignal(folder, name, expression, 3 * 44100, 44100, options);
        const auto file = AudioFile::open(path, nullptr);
        ASSERT_TRUE(file);
        const std::vector<float> whole = decodeAll(file, 44100);
        for (const qint64 start : {qint64(1), qint64(44100), qint64(77777)}) {
            const std::vector<float> part = decodeAll(file, 44100, start, 10000);
            ASSERT_EQ(part.size(), 2u * 10000);
            double worst = 0;
            // Skip the first codec frame: lossy decoders differ there after a seek.
            for (std::size_t i = 2 * 2048; i < part.size(); ++i)
                worst =
                    std::max(worst, double(std::fabs(part[i] - whole[2 * std::size_t(start) + i])));
            EXPECT_LT(worst, 0.02) << "start " << start;
        }
    }
}

TEST(AudioFileTest, UnreadableFilesGiveAReason)
{
    QTemporaryDir folder;
    QString error;
    EXPECT_FALSE(AudioFile::open(folder.filePath("missing.mp3"), &error));
    EXPECT_EQ(error, "No such file or directory");

    QFile text(folder.filePath("notes.mp3"));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("these are not the droids you are looking for\n");
    text.close();
    error.clear();
    EXPECT_FALSE(AudioFile::open(text.fileName(), &error));
    EXPECT_FALSE(error.isEmpty());

    // A file that disappears after opening ends its decoding quietly.
    const QString path = writeTone(folder, "gone.wav", 440, 0.5);
    const auto file = AudioFile::open(path, nullptr);
    ASSERT_TRUE(file);
    QFile::remove(path);
    AudioDecoder decoder(file, 44100);
    EXPECT_FALSE(decoder.open(0, file->length(), &error));
    float frames[64];
    EXPECT_EQ(decoder.read(frames, 32), 0);
}

} // namespace
} // namespace calmcove
