// Speed of measuring an imported file's loudness, as a multiple of real time on one core
// (CPU time, so a busy machine does not distort it), for the formats imports come in,
// next to ffmpeg's own ebur128 filter measuring the same file in the same run.
//
//   loudness_bench [seconds]    (default: 300 s of generated music-like audio)
//
// Target: at least 100x real time for lossy and lossless files alike, so a whole album
// imported at once is measured within seconds.

#include "media/loudnessmeter.h"
#include "support/procfs.h"

#include <cstdio>
#include <cstdlib>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

using namespace calmcove;
using bench::childrenCpuSeconds;
using bench::threadCpuSeconds;

namespace {

bool runFfmpeg(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral("ffmpeg"),
                  QStringList{"-nostdin", "-v", "error", "-y"} + arguments);
    return process.waitForFinished(600000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

} // namespace

int main(int argc, char** argv)
{
    const double seconds = argc > 1 ? std::atof(argv[1]) : 300.0;
    QTemporaryDir folder;
    struct Format
    {
        const char* name;
        QStringList options;
    };
    const Format formats[] = {{"wav", {}},
                              {"flac", {}},
                              {"mp3", {"-b:a", "192k"}},
                              {"m4a", {"-c:a", "aac", "-b:a", "192k"}}};
    std::printf("loudness of %.0f s of audio, multiples of real time on one core\n", seconds);
    for (const Format& format : formats) {
        const QString path = folder.filePath(QStringLiteral("music.") + format.name);
        // Chords with a slow swell, loud enough to be measured.
        const QString source =
            QStringLiteral("aevalsrc=0.2*sin(2*PI*220*t)*(1+0.5*sin(2*PI*0.2*t))+"
                           "0.1*sin(2*PI*330*t)+0.05*sin(2*PI*1760*t):s=44100:d=%1")
                .arg(seconds);
        if (!runFfmpeg(QStringList{"-f", "lavfi", "-i", source, "-ac", "2"} + format.options +
                       QStringList{path})) {
            std::printf("%-5s could not be written with ffmpeg\n", format.name);
            continue;
        }
        const double start = threadCpuSeconds();
        const auto measured = measureLoudness(path);
        const double ours = threadCpuSeconds() - start;

        const double childrenBefore = childrenCpuSeconds();
        runFfmpeg({"-i", path, "-af", "ebur128=peak=true", "-f", "null", "-"});
        const double theirs = childrenCpuSeconds() - childrenBefore;
        std::printf("%-5s ours %6.0fx (%.2f LUFS, %.2f dBTP), ffmpeg ebur128 %6.0fx\n", format.name,
                    seconds / ours, measured ? measured->integratedLufs : 0.0,
                    measured ? measured->truePeakDbtp : 0.0, seconds / theirs);
    }
    std::printf("target: at least 100x real time\n");
    return 0;
}
