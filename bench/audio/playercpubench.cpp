// CPU of a playing player and of the sound server together: `calmcove --headless` next to
// `mpv --no-video` and `audacious -H` playing the same starter track, one after another
// through the same private PulseAudio server with a null sink, in private XDG folders and
// on a private session bus. Each player settles for 3 s, is measured from /proc and is then
// checked to be reading the track and to be heard at the sink's monitor. The server alone,
// nothing playing, comes first.
//
//   audio_player_cpu_bench [seconds]   (default 60 per player; mpv and audacious installed,
//                                       see run-player-cpu-bench.sh)
//
// Target: Calmcove and the server together at most what Audacious and the server take.

#include "audio/audiotestsupport.h"
#include "audio/pulsetestsupport.h"
#include "support/privatesessionbus.h"
#include "support/procfs.h"
#include "support/tempxdg.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <vector>

using namespace calmcove::test;
using calmcove::bench::cpuSeconds;

namespace {

struct Player
{
    QString name, program;
    QStringList arguments;
};

struct Cost
{
    double playerPercent = 0, serverPercent = 0;
    QString streamLatency; // as the server reports the player's stream
    bool heard = false;
    bool readsTheTrack = false;
};

void wait(double seconds)
{
    waitUntil([] { return false; }, int(seconds * 1000));
}

// The server's buffer and sink latencies of the one playing stream, in ms.
QString streamLatency()
{
    QProcess pactl;
    pactl.start("pactl", {"list", "sink-inputs"});
    pactl.waitForFinished(5000);
    const QString listing = QString::fromUtf8(pactl.readAllStandardOutput());
    QStringList parts;
    for (const char* field : {"Buffer Latency", "Sink Latency"}) {
        const auto match =
            QRegularExpression(QStringLiteral("%1: (\\d+) usec").arg(field)).match(listing);
        if (match.hasMatch())
            parts << QStringLiteral("%1 %2 ms")
                         .arg(QString::fromLatin1(field).split(' ').first())
                         .arg(match.captured(1).toDouble() / 1000, 0, 'f', 0);
    }
    return parts.join(", ");
}

bool hasOpen(qint64 pid, const QString& file)
{
    const QDir descriptors(calmcove::bench::procPath(pid, "fd"));
    for (const QFileInfo& link : descriptors.entryInfoList(QDir::Files | QDir::System)) {
        if (link.symLinkTarget() == file)
            return true;
    }
    return false;
}

bool soundAtTheSink()
{
    MonitorRecorder recorder;
    wait(0.5);
    const MonitorRecorder::Recording heard = recorder.finish();
    return rms(heard.left, 0, heard.left.size()) > 0.001;
}

std::optional<Cost> measure(const Player& player, const QString& track, qint64 serverPid,
                            double seconds, const PrivateSessionBus& bus)
{
    QProcess process;
    process.setProcessEnvironment(bus.environment());
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(player.program, player.arguments);
    if (!process.waitForStarted(5000))
        return std::nullopt;
    wait(3); // launch, first decoding, the stream settling
    Cost cost;
    const double playerStart = cpuSeconds(process.processId()), serverStart = cpuSeconds(serverPid);
    QElapsedTimer wall;
    wall.start();
    wait(seconds);
    const double elapsed = double(wall.elapsed()) / 1000;
    cost.playerPercent = 100 * (cpuSeconds(process.processId()) - playerStart) / elapsed;
    cost.serverPercent = 100 * (cpuSeconds(serverPid) - serverStart) / elapsed;
    cost.streamLatency = streamLatency();
    cost.readsTheTrack = hasOpen(process.processId(), track);
    cost.heard = soundAtTheSink();
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(3000);
    }
    return cost;
}

// The track repeated, in Audacious's private config (its output is PulseAudio by default).
bool configureAudacious()
{
    const QString folder = qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/audacious");
    QDir().mkpath(folder);
    QFile config(folder + QStringLiteral("/config"));
    return config.open(QIODevice::WriteOnly) && config.write("[audacious]\nrepeat=TRUE\n") > 0;
}

} // namespace

int main(int argc, char** argv)
{
    TemporaryXdgDirectories xdg;
    QCoreApplication app(argc, argv);
    const double seconds = argc > 1 ? std::max(1.0, std::atof(argv[1])) : 60.0;
    const QString binaries = QCoreApplication::applicationDirPath();
    // The starter track Calmcove plays first in its Focus mood, which sets its sound
    // settings too (rate 1.0).
    const QString track =
        QDir::cleanPath(binaries + "/../share/calmcove/StarterAudio/morning-tea-steam.m4a");
    if (!QFile::exists(track)) {
        std::fprintf(stderr, "%s is missing: build calmcove_resources\n", qPrintable(track));
        return 1;
    }
    PrivatePulseServer server;
    PrivateSessionBus bus;
    if (!PrivatePulseServer::isAvailable() || !server.start() || bus.address().isEmpty() ||
        !configureAudacious()) {
        std::fprintf(stderr, "could not set up a private PulseAudio server and session bus\n");
        return 1;
    }

    const std::vector<Player> players = {
        {"calmcove",
         binaries + "/calmcove",
         {"--headless", "--audio-output=pulse", "--setting", "selectedMood=Focus"}},
        {"mpv", "mpv", {"--no-video", "--no-terminal", "--ao=pulse", "--loop-file=inf", track}},
        {"audacious", "audacious", {"-H", track}},
    };
    std::printf("%s, %.0f s each; %% of one core\n", qPrintable(QDir(track).dirName()), seconds);
    std::printf("%-10s %8s %8s %8s   %s\n", "player", "player", "server", "total",
                "stream latency at the server");
    const double idleStart = cpuSeconds(server.pid());
    wait(seconds);
    const double idle = 100 * (cpuSeconds(server.pid()) - idleStart) / seconds;
    std::printf("%-10s %8s %8.2f %8.2f\n", "(none)", "", idle, idle);

    std::optional<double> ours, audacious;
    for (const Player& player : players) {
        const auto cost = measure(player, track, server.pid(), seconds, bus);
        if (!cost) {
            std::printf("%-10s did not start\n", qPrintable(player.name));
            continue;
        }
        const double total = cost->playerPercent + cost->serverPercent;
        std::printf("%-10s %8.2f %8.2f %8.2f   %s%s%s\n", qPrintable(player.name),
                    cost->playerPercent, cost->serverPercent, total,
                    qPrintable(cost->streamLatency), cost->heard ? "" : "  NOT HEARD at the sink",
                    cost->readsTheTrack ? "" : "  NOT READING the track");
        if (!cost->heard || !cost->readsTheTrack)
            continue;
        if (player.name == "calmcove")
            ours = total;
        else if (player.name == "audacious")
            audacious = total;
    }
    if (!ours || !audacious) {
        std::printf("target: not measured (a player was not heard playing the track)\n");
        return 1;
    }
    const bool met = *ours <= *audacious;
    std::printf("target: Calmcove + server at most Audacious + server: %.2f %% vs %.2f %%, %s\n",
                *ours, *audacious, met ? "met" : "MISSED");
    return met ? 0 : 2;
}
