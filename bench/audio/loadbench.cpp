// Playback on a busy machine: music through a private PulseAudio null sink by the real
// engine and "pulse" output, recorded from the sink's monitor, while two CPU-bound
// processes per core run at normal priority, another writes 1 GB to disk and syncs it over
// and over, and the main thread is blocked for 1 s every 10 s. Counts the stretches of at
// least 2 ms of digital silence in the recording (the music played holds none: only the
// file's longest part without one is played, which leaves out its fades) and the engine's
// underruns, and reports the CPU of this process and of the sound server. Run it once as
// it is and once with CALMCOVE_REALTIME_AUDIO=0 to compare the render thread without
// real-time scheduling.
//
//   audio_load_bench [minutes] [audio file]   (default: 10 minutes of a generated track)
//
// Targets: no silent stretch and no underrun.

#include "audio/audioengine.h"
#include "audio/audiotestsupport.h"
#include "audio/pulsetestsupport.h"
#include "support/procfs.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <string_view>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

using namespace calmcove;
using namespace calmcove::test;
using bench::cpuSeconds;
using bench::realtimeThreads;

namespace {

constexpr int rate = MonitorRecorder::sampleRate;
constexpr qint64 shortestGap = 2 * rate / 1000; // 2 ms of frames

// Finds stretches of digital silence frame by frame: both channels below one step of
// 16-bit audio, which the sink (16-bit) turns into exact zeros.
class SilenceScanner
{
public:
    struct Stretch
    {
        qint64 start, length; // frames
    };

    void add(float left, float right)
    {
        constexpr float quietest = 1.0f / 32768;
        if (std::fabs(left) < quietest && std::fabs(right) < quietest) {
            ++m_silentRun;
        } else {
            if (m_firstSound < 0)
                m_firstSound = m_frame;
            else if (m_silentRun >= shortestGap)
                m_gaps.push_back({m_frame - m_silentRun, m_silentRun});
            m_silentRun = 0;
            m_lastSound = m_frame;
        }
        ++m_frame;
    }
    // Frames from the first sound to the last, and the silent stretches between them.
    qint64 firstSound() const { return m_firstSound; }
    qint64 lastSound() const { return m_lastSound; }
    const std::vector<Stretch>& gaps() const { return m_gaps; }

private:
    qint64 m_frame = 0, m_silentRun = 0, m_firstSound = -1, m_lastSound = -1;
    std::vector<Stretch> m_gaps;
};

SilenceScanner scanFile(const std::shared_ptr<const AudioFile>& file)
{
    SilenceScanner scanner;
    AudioDecoder decoder(file, rate);
    QString error;
    if (!decoder.open(0, file->length(), &error))
        return scanner;
    std::vector<float> block(2 * 4096);
    while (const int frames = decoder.read(block.data(), 4096)) {
        for (int i = 0; i < frames; ++i)
            scanner.add(block[2 * i], block[2 * i + 1]);
    }
    return scanner;
}

// The first frame and the length of the longest part between the first sound and the
// last that holds no silent stretch.
std::pair<qint64, qint64> longestSoundingPart(const SilenceScanner& scanner)
{
    std::pair<qint64, qint64> longest{0, 0};
    qint64 partStart = scanner.firstSound();
    const auto consider = [&](qint64 partEnd) {
        if (partEnd - partStart > longest.second)
            longest = {partStart, partEnd - partStart};
    };
    for (const SilenceScanner::Stretch& gap : scanner.gaps()) {
        consider(gap.start);
        partStart = gap.start + gap.length;
    }
    consider(scanner.lastSound() + 1);
    return longest;
}

// The load: processes forked to do nothing but spin or write, killed when this goes.
class MachineLoad
{
public:
    explicit MachineLoad(const QString& scratchFile) : m_chunk(1 << 20, 'x')
    {
        const long cores = sysconf(_SC_NPROCESSORS_ONLN);
        for (long i = 0; i < 2 * cores; ++i)
            spawn([] {
                volatile unsigned long spins = 0;
                for (;;)
                    spins = spins + 1;
            });
        // Prepared here: the child of a threaded process must not allocate.
        const QByteArray path = QFile::encodeName(scratchFile);
        m_writer = spawn([this, &path] {
            for (;;) {
                const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
                for (int megabytes = 0; fd >= 0 && megabytes < 1024; ++megabytes) {
                    if (::write(fd, m_chunk.data(), m_chunk.size()) < 0)
                        break;
                }
                ::fsync(fd);
                ::close(fd);
            }
        });
    }
    ~MachineLoad()
    {
        for (const pid_t child : m_children) {
            ::kill(child, SIGKILL);
            ::waitpid(child, nullptr, 0);
        }
    }
    MachineLoad(const MachineLoad&) = delete;
    MachineLoad& operator=(const MachineLoad&) = delete;

    int busyProcesses() const { return int(m_children.size()) - 1; }
    // Gigabytes the disk writer has sent to the disk (not just to the page cache).
    double writtenGigabytes() const
    {
        QFile io(bench::procPath(m_writer, "io"));
        if (!io.open(QIODevice::ReadOnly))
            return 0;
        for (const QByteArray& line : io.readAll().split('\n')) {
            if (line.startsWith("write_bytes:"))
                return line.mid(12).trimmed().toDouble() / 1e9;
        }
        return 0;
    }

private:
    template <typename Work> pid_t spawn(Work work)
    {
        const pid_t child = ::fork();
        if (child == 0) {
            work();
            _exit(0);
        }
        if (child > 0)
            m_children.push_back(child);
        return child;
    }

    std::vector<char> m_chunk;
    std::vector<pid_t> m_children;
    pid_t m_writer = 0;
};

QString generateMusic(const QTemporaryDir& folder)
{
    const QString path = folder.filePath(QStringLiteral("music.m4a"));
    const QString generator = QCoreApplication::applicationDirPath() + "/calmcove-musicgen";
    const int status = QProcess::execute(
        generator, {"--id", "midnight-overpass", "--duration", "120", "--output", path});
    return status == 0 ? path : QString();
}

// The silent stretches: how many, how long, how many began while the main thread was
// blocked (or within 0.5 s after, the output's buffer), and the longest ten.
void printGaps(const std::vector<SilenceScanner::Stretch>& gaps,
               const std::vector<qint64>& blockStarts)
{
    const auto duringBlock = [&](const SilenceScanner::Stretch& gap) {
        return std::ranges::any_of(blockStarts, [&](qint64 block) {
            return gap.start >= block && gap.start < block + 3 * rate / 2;
        });
    };
    qint64 total = 0, whileBlocked = 0;
    for (const SilenceScanner::Stretch& gap : gaps) {
        total += gap.length;
        whileBlocked += duringBlock(gap) ? 1 : 0;
    }
    std::printf("silent stretches of 2 ms or more (target 0): %zu, %.1f ms in all; %lld of them "
                "began while the main thread was blocked or just after\n",
                gaps.size(), 1000.0 * double(total) / rate, static_cast<long long>(whileBlocked));
    std::vector<SilenceScanner::Stretch> longest = gaps;
    std::ranges::sort(longest, std::ranges::greater{}, &SilenceScanner::Stretch::length);
    longest.resize(std::min<std::size_t>(longest.size(), 10));
    for (const SilenceScanner::Stretch& gap : longest)
        std::printf("  at %8.3f s: %7.1f ms%s\n", double(gap.start) / rate,
                    1000.0 * double(gap.length) / rate,
                    duringBlock(gap) ? "  (main thread blocked)" : "");
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const double minutes = argc > 1 ? std::max(0.1, std::atof(argv[1])) : 10.0;
    QTemporaryDir folder;
    const QString path = argc > 2 ? QString::fromLocal8Bit(argv[2]) : generateMusic(folder);
    QString error;
    const auto file = path.isEmpty() ? nullptr : AudioFile::open(path, &error);
    if (!file) {
        std::fprintf(stderr, "no music to play: %s\n", qPrintable(error));
        return 1;
    }
    // What of the file is played: its longest part without a silent stretch, which leaves
    // out the silence of a fade at its start or end.
    const auto [musicStart, musicLength] = longestSoundingPart(scanFile(file));
    if (file->sampleRate() != rate || musicLength < 10 * rate) {
        std::fprintf(stderr, "%s holds no 10 s at %d Hz without a silent stretch\n",
                     qPrintable(path), rate);
        return 1;
    }

    PrivatePulseServer server;
    if (!PrivatePulseServer::isAvailable() || !server.start()) {
        std::fprintf(stderr, "could not start a private PulseAudio server\n");
        return 1;
    }
    AudioEngine engine(createAudioOutput(QStringLiteral("pulse")));
    if (!engine.start(&error)) {
        std::fprintf(stderr, "the engine did not start: %s\n", qPrintable(error));
        return 1;
    }
    // Two plays of the track queued at any time, as a player moving on to the next one.
    std::function<void()> queueOnePlay = [&] {
        engine.player().scheduleSegment(file, musicStart, musicLength,
                                        [&](PlayerNode::SegmentEnd end) {
                                            if (end == PlayerNode::SegmentEnd::played)
                                                queueOnePlay();
                                        });
    };
    queueOnePlay();
    queueOnePlay();

    const char* realtimeSetting = std::getenv("CALMCOVE_REALTIME_AUDIO");
    std::printf("%.1f minutes of %s (%.1f s played in a loop), real-time audio %s\n", minutes,
                qPrintable(QFileInfo(path).fileName()), double(musicLength) / rate,
                realtimeSetting && std::string_view(realtimeSetting) == "0"
                    ? "off (CALMCOVE_REALTIME_AUDIO=0)"
                    : "on");
    std::fflush(stdout);

    MachineLoad load(folder.filePath(QStringLiteral("scratch")));
    MonitorRecorder recorder;
    QElapsedTimer wall;
    wall.start();
    const double ourStart = cpuSeconds(), serverStart = cpuSeconds(server.pid());
    engine.player().play();

    QTimer blocker;
    std::vector<qint64> blockStarts; // recorded frames when each block began
    QObject::connect(&blocker, &QTimer::timeout, [&] {
        blockStarts.push_back(recorder.frames());
        std::this_thread::sleep_for(std::chrono::seconds(1));
    });
    blocker.start(10000);
    QTimer collector; // keeps the recorder's pipe drained
    QObject::connect(&collector, &QTimer::timeout, [&recorder] { recorder.frames(); });
    collector.start(200);
    waitUntil([] { return false; }, int(minutes * 60000));

    const double seconds = double(wall.elapsed()) / 1000;
    const double ourCpu = cpuSeconds() - ourStart,
                 serverCpu = cpuSeconds(server.pid()) - serverStart;
    const QStringList ourRealtime = realtimeThreads(),
                      serverRealtime = realtimeThreads(server.pid());
    const double written = load.writtenGigabytes();
    const MonitorRecorder::Recording recording = recorder.finish();
    const std::uint64_t underruns = engine.underruns();
    engine.stop();

    SilenceScanner heard;
    for (std::size_t i = 0; i < recording.left.size(); ++i)
        heard.add(recording.left[i], recording.right[i]);
    std::printf("load: %d CPU-bound processes, %.1f GB written to disk and synced, main thread "
                "blocked %d times for 1 s\n",
                load.busyProcesses(), written, int(blockStarts.size()));
    std::printf("recorded %.1f s, music heard from %.3f s\n", double(recording.left.size()) / rate,
                double(heard.firstSound()) / rate);
    printGaps(heard.gaps(), blockStarts);
    std::printf("underruns (target 0): %llu\n", static_cast<unsigned long long>(underruns));
    std::printf("CPU over %.0f s: Calmcove %.2f %% of a core, sound server %.2f %%, together "
                "%.2f %%\n",
                seconds, 100 * ourCpu / seconds, 100 * serverCpu / seconds,
                100 * (ourCpu + serverCpu) / seconds);
    std::printf("real-time threads: ours [%s], server's [%s]\n", qPrintable(ourRealtime.join(", ")),
                qPrintable(serverRealtime.join(", ")));
    return heard.gaps().empty() && underruns == 0 ? 0 : 2;
}
