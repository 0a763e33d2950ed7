// Measures how fast the music generator renders, as a multiple of real time on one core:
// composition and synthesis, mastering (loudness and limiter) and, with --encode, AAC
// encoding by ffmpeg. Speeds are computed from CPU time (this thread, and ffmpeg's for
// encoding), so a busy machine does not distort them; wall time is shown beside.
// Usage: calmcove-bench-musicgen [SECONDS] [--encode]
// One track of each kind is rendered SECONDS long (default 120).

#include "musicgen/encoder.h"
#include "musicgen/loudness.h"
#include "musicgen/renderer.h"
#include "musicgen/trackspec.h"
#include "support/procfs.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <set>
#include <string>

using namespace calmcove::musicgen;
using calmcove::bench::childrenCpuSeconds;
using calmcove::bench::threadCpuSeconds;

namespace {

double wallSeconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct Timing
{
    double cpu = 0;
    double wall = 0;
};

} // namespace

int main(int argc, char** argv)
{
    double length = 120;
    bool encode = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--encode") == 0)
            encode = true;
        else
            length = std::max(1.0, std::atof(argv[i]));
    }

    std::set<calmcove::CalmKind> seen;
    double audio = 0;
    Timing synthesis, mastering, encoding;
    std::printf("%-24s %-12s %12s %12s %12s   (CPU-time multiples of real time)\n", "track", "kind",
                "synthesis", "mastering", "encoding");
    for (const TrackSpec& track : catalogueTracks()) {
        if (!seen.insert(track.kind).second)
            continue;
        double cpu = threadCpuSeconds();
        double wall = wallSeconds();
        std::vector<float> samples = renderMix(track, length);
        const Timing synthesized{threadCpuSeconds() - cpu, wallSeconds() - wall};
        cpu = threadCpuSeconds();
        wall = wallSeconds();
        master(samples, -16, -2.0);
        const Timing mastered{threadCpuSeconds() - cpu, wallSeconds() - wall};
        Timing encoded;
        if (encode) {
            const std::string path =
                (std::filesystem::temp_directory_path() / "calmcove-bench-musicgen.m4a").string();
            cpu = threadCpuSeconds() + childrenCpuSeconds();
            wall = wallSeconds();
            const EncodeResult result = encodeM4a(samples, path);
            encoded = {threadCpuSeconds() + childrenCpuSeconds() - cpu, wallSeconds() - wall};
            std::filesystem::remove(path);
            if (!result.ok) {
                std::fprintf(stderr, "%s\n", result.error.c_str());
                return 1;
            }
        }
        const std::string encodeText =
            encode ? std::to_string(static_cast<int>(length / encoded.cpu)) + "x" : "-";
        std::printf("%-24s %-12s %11.0fx %11.0fx %12s\n", track.id.c_str(),
                    kindName(track.kind).c_str(), length / synthesized.cpu, length / mastered.cpu,
                    encodeText.c_str());
        audio += length;
        synthesis.cpu += synthesized.cpu;
        synthesis.wall += synthesized.wall;
        mastering.cpu += mastered.cpu;
        mastering.wall += mastered.wall;
        encoding.cpu += encoded.cpu;
        encoding.wall += encoded.wall;
    }
    std::printf(
        "\nrender (synthesis + mastering): %.0fx real time on one core (wall clock: %.0fx)\n",
        audio / (synthesis.cpu + mastering.cpu), audio / (synthesis.wall + mastering.wall));
    if (encode) {
        std::printf("with encoding: %.0fx (wall clock: %.0fx)\n",
                    audio / (synthesis.cpu + mastering.cpu + encoding.cpu),
                    audio / (synthesis.wall + mastering.wall + encoding.wall));
    }
    return 0;
}
