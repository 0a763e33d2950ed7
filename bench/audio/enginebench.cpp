// CPU cost of the sound chain per second of audio, for every mood preset, next to ffmpeg
// running the nearest equivalent filter chain on the same file in the same run.
//
//   audio_engine_bench [audio file]    (default: 30 s of generated music-like audio)
//
// Targets: the full chain at most 10 ms of CPU per second of audio at 44.1 kHz stereo, at
// most 3 ms at rate 1.0.

#include "audio/audioengine.h"
#include "audio/captureoutput.h"
#include "audio/soundpreset.h"
#include "support/procfs.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace calmcove;
using bench::childrenCpuSeconds;
using bench::processCpuSeconds;
using bench::threadCpuSeconds;

namespace {

constexpr int rate = 44100;

struct Row
{
    QString name;
    SoundPreset preset;
};

struct EngineCost
{
    double chainMs; // render thread, per second of output
    double totalMs; // whole process (render + decoding), per second of output
};

EngineCost measureEngine(const QString& path, const SoundPreset& preset)
{
    auto capture = std::make_unique<CaptureOutput>(false);
    CaptureOutput* output = capture.get();
    AudioEngine engine(std::move(capture), rate);
    QString error;
    engine.start(&error);
    engine.setEqualiserGains(preset.lowGain, preset.midGain, preset.highGain);
    engine.setReverbMix(preset.reverbMix);
    engine.setRate(preset.playbackRate);
    engine.setVolume(0.72);
    const auto file = AudioFile::open(path, &error);
    if (!file) {
        std::fprintf(stderr, "cannot open %s: %s\n", qPrintable(path), qPrintable(error));
        std::exit(1);
    }
    engine.player().scheduleSegment(file, 0, file->length(), [](PlayerNode::SegmentEnd) {});
    engine.player().play();
    const qint64 frames =
        qint64(double(file->length()) * rate / file->sampleRate() / preset.playbackRate);
    const double threadStart = threadCpuSeconds(), processStart = processCpuSeconds();
    output->render(int(frames));
    const double seconds = double(frames) / rate;
    return {1000 * (threadCpuSeconds() - threadStart) / seconds,
            1000 * (processCpuSeconds() - processStart) / seconds};
}

// ffmpeg's CPU time (user + system) for a filter chain, per second of output.
double measureFfmpeg(const QString& path, const QString& filters, double outputSeconds)
{
    const double before = childrenCpuSeconds();
    QProcess process;
    process.start("ffmpeg",
                  {"-nostdin", "-v", "error", "-i", path, "-af", filters, "-f", "null", "-"});
    if (!process.waitForFinished(600000) || process.exitCode() != 0) {
        std::fprintf(stderr, "ffmpeg failed: %s\n", process.readAllStandardError().constData());
        return -1;
    }
    return 1000 * (childrenCpuSeconds() - before) / outputSeconds;
}

QString ffmpegChain(const SoundPreset& preset)
{
    QStringList filters;
    const std::array<double, 3> gains = {preset.lowGain, preset.midGain, preset.highGain};
    for (int band = 0; band < 3; ++band)
        filters << QStringLiteral("equalizer=f=%1:t=o:w=1:g=%2")
                       .arg(equaliserBandFrequencies[band])
                       .arg(gains[band]);
    if (preset.playbackRate != 1.0)
        filters << QStringLiteral("atempo=%1").arg(preset.playbackRate);
    // A room-like cluster of echoes with the preset's wet share.
    const double wet = preset.reverbMix / 100;
    if (wet > 0)
        filters << QStringLiteral("aecho=%1:1:23|37|53|71|97:%2|%3|%4|%5|%6")
                       .arg(1 - wet)
                       .arg(0.5 * wet)
                       .arg(0.45 * wet)
                       .arg(0.4 * wet)
                       .arg(0.35 * wet)
                       .arg(0.3 * wet);
    filters << "volume=0.72";
    return filters.join(',');
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir folder;
    QString path = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString();
    if (path.isEmpty()) {
        path = folder.filePath("music.wav");
        // Pink noise under a few drifting tones: broadband, like music, 30 s, stereo.
        const QString graph =
            "anoisesrc=d=30:c=pink:r=44100:a=0.15,aformat=channel_layouts=stereo[n];"
            "sine=f=220:d=30:r=44100,aformat=channel_layouts=stereo,volume=0.3[a];"
            "sine=f=331:d=30:r=44100,aformat=channel_layouts=stereo,volume=0.2[b];"
            "[n][a][b]amix=inputs=3:normalize=0";
        if (QProcess::execute("ffmpeg", {"-nostdin", "-v", "error", "-y", "-filter_complex", graph,
                                         "-c:a", "pcm_s16le", path}) != 0) {
            std::fprintf(stderr, "could not generate the test file with ffmpeg\n");
            return 1;
        }
    }
    const auto file = AudioFile::open(path, nullptr);
    if (!file) {
        std::fprintf(stderr, "cannot open %s\n", qPrintable(path));
        return 1;
    }
    const double inputSeconds = file->duration();

    std::vector<Row> rows = {{"flat 1.0", SoundPreset{}}};
    for (Mood mood : allMoods)
        rows.push_back({rawValue(mood), soundPreset(mood)});

    std::printf("Sound chain CPU per second of audio, %s (%.1f s, %d Hz -> %d Hz stereo)\n",
                qPrintable(QDir(path).dirName()), inputSeconds, file->sampleRate(), rate);
    std::printf("%-9s %5s | %12s %12s | %12s %12s | %6s %s\n", "preset", "rate", "chain ms/s",
                "engine ms/s", "ffmpeg ms/s", "ff chain ms/s", "target", "");
    double ffmpegBaseline = measureFfmpeg(path, "anull", inputSeconds);
    for (int run = 1; run < 3; ++run)
        ffmpegBaseline = std::min(ffmpegBaseline, measureFfmpeg(path, "anull", inputSeconds));
    bool allMet = true;
    for (const Row& row : rows) {
        // The best of three runs: the machine is shared, and others' work only adds.
        EngineCost engine = measureEngine(path, row.preset);
        const double outputSeconds = inputSeconds / row.preset.playbackRate;
        double ffmpeg = measureFfmpeg(path, ffmpegChain(row.preset), outputSeconds);
        for (int run = 1; run < 3; ++run) {
            const EngineCost again = measureEngine(path, row.preset);
            engine.chainMs = std::min(engine.chainMs, again.chainMs);
            engine.totalMs = std::min(engine.totalMs, again.totalMs);
            ffmpeg = std::min(ffmpeg, measureFfmpeg(path, ffmpegChain(row.preset), outputSeconds));
        }
        const double ffmpegChainOnly = ffmpeg - ffmpegBaseline * inputSeconds / outputSeconds;
        const double target = row.preset.playbackRate == 1.0 ? 3.0 : 10.0;
        const bool met = engine.chainMs <= target;
        allMet = allMet && met;
        std::printf("%-9s %5.2f | %12.2f %12.2f | %12.2f %12.2f | %6.1f %s\n", qPrintable(row.name),
                    row.preset.playbackRate, engine.chainMs, engine.totalMs, ffmpeg,
                    ffmpegChainOnly, target, met ? "met" : "MISSED");
    }
    std::printf("chain = render thread (equaliser, stretch, reverb, volume); engine = whole\n"
                "process incl. decoding; ffmpeg = equalizer x3, atempo, aecho, volume incl. its\n"
                "decoding; ff chain = ffmpeg less its own run with a null filter. Best of 3.\n");
    return allMet ? 0 : 2;
}
