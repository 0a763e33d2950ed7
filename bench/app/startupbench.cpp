// Time from process start to the first audio frame of `calmcove --headless` on the null
// output, with no track library and with a generated library of about 2 GB installed (a
// valid pack: the starter tracks' real audio first, then random files of the right sizes and
// digests), the latter at its first launch without verification records (page cache
// emptied of the pack) and at later launches with them. `calmcove --version` is the floor.
// Targets: the first frame within 0.3 s of the start whatever the library, and at most
// 0.1 s later than without a library.
//
// Usage: startup_bench [gigabytes] [runs]   (defaults 2 and 5; medians are reported)
// Private XDG folders in a temporary directory; nothing of the user's is read or written.

#include "library/audiopackclient.h"
#include "library/audiopackformat.h"
#include "library/filedigest.h"
#include "library/verificationrecords.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock; // CLOCK_MONOTONIC, as the null output reports
using namespace calmcove;

const char* const firstFrameLine = "calmcove: first audio frame at monotonic ";
constexpr qint64 fillerTrackBytes = 5'000'000;

double seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// A started calmcove with its standard error on a pipe.
struct Child
{
    pid_t pid = -1;
    int stderrFd = -1;
    Clock::time_point started;
};

Child spawn(const QString& program, const QStringList& arguments)
{
    std::vector<std::string> storage{program.toStdString()};
    for (const QString& argument : arguments)
        storage.push_back(argument.toStdString());
    std::vector<char*> argv;
    for (std::string& s : storage)
        argv.push_back(s.data());
    argv.push_back(nullptr);

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        std::abort();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
    Child child;
    child.started = Clock::now();
    if (posix_spawn(&child.pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        std::fprintf(stderr, "cannot start %s\n", argv[0]);
        std::exit(1);
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    child.stderrFd = pipeFds[0];
    return child;
}

// The monotonic time the child reports for its first audio frame; none when it ends or
// says nothing within 30 s.
std::optional<Clock::time_point> waitForFirstFrame(const Child& child, std::string& log)
{
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    ::fcntl(child.stderrFd, F_SETFL, O_NONBLOCK);
    while (Clock::now() < deadline) {
        char buffer[4096];
        const ssize_t count = ::read(child.stderrFd, buffer, sizeof buffer);
        if (count == 0)
            return std::nullopt;
        if (count > 0) {
            log.append(buffer, size_t(count));
            const size_t at = log.find(firstFrameLine);
            if (at != std::string::npos && log.find('\n', at) != std::string::npos) {
                const long long ns = std::stoll(log.substr(at + std::strlen(firstFrameLine)));
                return Clock::time_point(std::chrono::nanoseconds(ns));
            }
            continue;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return std::nullopt;
}

void stop(Child& child)
{
    ::kill(child.pid, SIGTERM);
    int status = 0;
    ::waitpid(child.pid, &status, 0);
    ::close(child.stderrFd);
}

// Random bytes from a fast generator; the digest is taken as they are written.
AudioPackTrack writeFiller(const QString& audioDir, int index, quint64& state)
{
    AudioPackTrack track;
    track.id = QStringLiteral("bench-filler-%1").arg(index, 4, 10, QLatin1Char('0'));
    track.fileName = track.id + QStringLiteral(".m4a");
    QFile file(audioDir + QLatin1Char('/') + track.fileName);
    if (!file.open(QIODevice::WriteOnly))
        std::abort();
    std::vector<quint64> block(1 << 17); // 1 MiB
    Sha256 hash;
    for (qint64 left = fillerTrackBytes; left > 0;) {
        for (quint64& word : block) { // xorshift64*
            state ^= state >> 12;
            state ^= state << 25;
            state ^= state >> 27;
            word = state * 0x2545F4914F6CDD1Dull;
        }
        const qint64 n = std::min<qint64>(left, qint64(block.size() * sizeof(quint64)));
        const char* bytes = reinterpret_cast<const char*>(block.data());
        hash.update(bytes, n);
        file.write(bytes, n);
        left -= n;
    }
    file.close();
    track.byteCount = fillerTrackBytes;
    track.sha256 = hash.hexDigest();
    return track;
}

// The starter tracks (real audio, so the player can start on them) and random fillers up
// to `bytes`.
AudioPackManifest writePack(const QString& packDir, const QString& starterDir, qint64 bytes)
{
    AudioPackManifest manifest;
    manifest.version = QStringLiteral("1.0.0");
    manifest.minimumAppVersion = QStringLiteral("0.0.1"); // any build installs it
    manifest.generatedAt = QStringLiteral("2024-06-01T12:00:00Z");
    const QString audioDir = packDir + QStringLiteral("/Audio");
    QDir().mkpath(audioDir);
    const QUrl nowhere(QStringLiteral("https://127.0.0.1:1/track.m4a"));
    for (const QString& name : QDir(starterDir).entryList({QStringLiteral("*.m4a")})) {
        AudioPackTrack track;
        track.id = name.chopped(4);
        track.fileName = name;
        QFile::copy(starterDir + QLatin1Char('/') + name, audioDir + QLatin1Char('/') + name);
        track.byteCount = QFileInfo(audioDir + QLatin1Char('/') + name).size();
        track.sha256 = *sha256OfFile(audioDir + QLatin1Char('/') + name);
        manifest.tracks.append(track);
    }
    quint64 state = 0x9E3779B97F4A7C15ull;
    for (int index = 0; bytes > 0; ++index, bytes -= fillerTrackBytes)
        manifest.tracks.append(writeFiller(audioDir, index, state));
    for (AudioPackTrack& track : manifest.tracks) {
        track.downloadURL = nowhere;
        manifest.totalBytes += track.byteCount;
    }
    manifest.trackCount = manifest.tracks.size();
    QFile file(packDir + QStringLiteral("/audio-pack-manifest.json"));
    if (!file.open(QIODevice::WriteOnly))
        std::abort();
    file.write(encodeAudioPackManifest(manifest));
    return manifest;
}

// Writes back and drops the pack's pages from the page cache, as after a reboot.
void evictFromPageCache(const QString& audioDir)
{
    for (const QString& name : QDir(audioDir).entryList(QDir::Files)) {
        const int fd = ::open(QFile::encodeName(audioDir + QLatin1Char('/') + name), O_RDONLY);
        if (fd < 0)
            continue;
        ::fdatasync(fd);
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        ::close(fd);
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const double gigabytes = argc > 1 ? std::atof(argv[1]) : 2.0;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    const QString binDir = QCoreApplication::applicationDirPath();
    const QString calmcove = binDir + QStringLiteral("/calmcove");
    const QString starterDir = binDir + QStringLiteral("/../share/calmcove/StarterAudio");
    if (!QFile::exists(calmcove) || QDir(starterDir).isEmpty()) {
        std::fprintf(stderr, "build calmcove and calmcove_resources first\n");
        return 1;
    }

    QTemporaryDir work(QDir::tempPath() + QStringLiteral("/calmcove-startup-XXXXXX"));
    for (const char* name : {"data", "config", "cache", "runtime"})
        QDir().mkpath(work.filePath(QString::fromLatin1(name)));
    QFile::setPermissions(work.filePath(QStringLiteral("runtime")),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_DATA_HOME", work.filePath(QStringLiteral("data")).toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", work.filePath(QStringLiteral("config")).toLocal8Bit());
    qputenv("XDG_CACHE_HOME", work.filePath(QStringLiteral("cache")).toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", work.filePath(QStringLiteral("runtime")).toLocal8Bit());
    qputenv("CALMCOVE_REPORT_FIRST_AUDIO_FRAME", "1");
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "PULSE_SERVER"})
        qunsetenv(name);

    const QStringList launch = {
        QStringLiteral("--headless"), QStringLiteral("--audio-output=null"),
        // The same first track in every case, and no library server outside this machine.
        QStringLiteral("--setting"), QStringLiteral("currentTrackID=morning-tea-steam"),
        QStringLiteral("--setting"),
        AudioPackClient::indexURLKey + QStringLiteral("=https://127.0.0.1:1/index.json"),
        QStringLiteral("--setting"),
        AudioPackClient::manifestURLKey + QStringLiteral("=https://127.0.0.1:1/manifest.json")};

    const auto firstFrame = [&](const std::function<void()>& afterFrame = {}) {
        Child child = spawn(calmcove, launch);
        std::string log;
        const auto frame = waitForFirstFrame(child, log);
        if (frame && afterFrame)
            afterFrame();
        stop(child);
        if (!frame) {
            std::fprintf(stderr, "calmcove played nothing:\n%s\n", log.c_str());
            std::exit(1);
        }
        return seconds(*frame - child.started);
    };

    std::vector<double> floor, empty, unrecorded, settled, recorded;
    for (int run = 0; run < runs; ++run) {
        Child child = spawn(calmcove, {QStringLiteral("--version")});
        int status = 0;
        ::waitpid(child.pid, &status, 0);
        floor.push_back(seconds(Clock::now() - child.started));
        ::close(child.stderrFd);
        empty.push_back(firstFrame());
    }

    const QString packDir = work.filePath(QStringLiteral("data/Calmcove/AudioPacks/1.0.0"));
    std::printf("generating %.1f GB of installed library...\n", gigabytes);
    std::fflush(stdout);
    const AudioPackManifest manifest = writePack(packDir, starterDir, qint64(gigabytes * 1e9));
    const QString records = packDir + QLatin1Char('/') + verificationRecordsFileName;
    for (int run = 0; run < runs; ++run) {
        QFile::remove(records);
        evictFromPageCache(packDir + QStringLiteral("/Audio"));
        const Clock::time_point started = Clock::now();
        unrecorded.push_back(firstFrame([&] {
            // The launch goes on hashing in the background; its records mark the end.
            const auto deadline = Clock::now() + std::chrono::minutes(5);
            while (readVerificationRecords(packDir).size() < manifest.tracks.size()) {
                if (Clock::now() > deadline) {
                    std::fprintf(stderr, "calmcove did not verify the library\n");
                    std::exit(1);
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            settled.push_back(seconds(Clock::now() - started));
        }));
        recorded.push_back(firstFrame());
    }

    const double limit = 0.3;
    const double overEmpty = 0.1;
    std::printf("\n%-62s %8s %8s\n", "", "median", "min");
    const auto row = [](const char* what, const std::vector<double>& values) {
        std::printf("%-62s %7.3fs %7.3fs\n", what, median(values),
                    *std::min_element(values.begin(), values.end()));
    };
    row("calmcove --version (floor)", floor);
    row("first audio frame, no library", empty);
    const QString size = QStringLiteral("%1 tracks, %2 GB")
                             .arg(manifest.trackCount)
                             .arg(double(manifest.totalBytes) / 1e9, 0, 'f', 2);
    row(qPrintable(
            QStringLiteral("first audio frame, %1, first launch (no records, cold)").arg(size)),
        unrecorded);
    row("  its background verification done (records written)", settled);
    row(qPrintable(QStringLiteral("first audio frame, %1, with records").arg(size)), recorded);

    bool pass = true;
    for (const auto* values : {&unrecorded, &recorded}) {
        pass = pass && median(*values) <= limit && median(*values) - median(empty) <= overEmpty;
    }
    std::printf("\ntarget: first frame <= %.1f s and <= %.1f s over no library: %s\n", limit,
                overEmpty, pass ? "PASS" : "FAIL");
    return pass ? 0 : 1;
}
