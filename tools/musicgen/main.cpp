// calmcove-musicgen: renders catalogue tracks as music into .m4a files.
// Usage: see usageText below (or --help).

#include "encoder.h"
#include "renderer.h"
#include "trackspec.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace calmcove::musicgen;

constexpr const char* usageText =
    "Usage:\n"
    "  calmcove-musicgen --id ID [--duration SECONDS] --output FILE.m4a\n"
    "  calmcove-musicgen --all --output-dir DIR [--duration SECONDS] [--jobs N]\n"
    "  calmcove-musicgen --list\n"
    "  calmcove-musicgen --help\n"
    "\n"
    "Renders tracks of the built-in catalogue as music: the track's kind sets the style,\n"
    "its moods the tempo and colour, its id seeds every choice. Output is 44.1 kHz stereo\n"
    "AAC (96 kb/s) at -16 LUFS, encoded by the ffmpeg program.\n"
    "\n"
    "  --id ID             the catalogue id of the track to render\n"
    "  --output FILE       where to write it\n"
    "  --all               render every catalogue track\n"
    "  --output-dir DIR    where --all writes <id>.m4a (created if missing)\n"
    "  --duration SECONDS  render this length instead of the track's own (1 to 3600)\n"
    "  --jobs N            tracks rendered at once with --all (default: processor count)\n"
    "  --list              print the catalogue: id, kind, moods, duration, title\n";

struct Options
{
    bool help = false;
    bool list = false;
    bool all = false;
    std::string id;
    std::string output;
    std::string outputDir;
    std::optional<double> duration;
    int jobs = 0;
};

int usageError(const std::string& message)
{
    std::fprintf(stderr, "calmcove-musicgen: %s\n%s", message.c_str(), usageText);
    return 2;
}

// Parses the command line; returns an error message or nothing.
std::optional<std::string> parse(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        std::optional<std::string> inlineValue;
        if (const std::size_t equals = argument.find('=');
            argument.rfind("--", 0) == 0 && equals != std::string::npos) {
            inlineValue = argument.substr(equals + 1);
            argument.resize(equals);
        }
        const auto value = [&]() -> std::optional<std::string> {
            if (inlineValue)
                return inlineValue;
            if (i + 1 < argc)
                return std::string(argv[++i]);
            return std::nullopt;
        };
        const auto flag = [&](bool& target) -> std::optional<std::string> {
            if (inlineValue)
                return argument + " takes no value";
            target = true;
            return std::nullopt;
        };
        std::optional<std::string> problem;
        if (argument == "--help" || argument == "-h") {
            problem = flag(options.help);
        } else if (argument == "--list") {
            problem = flag(options.list);
        } else if (argument == "--all") {
            problem = flag(options.all);
        } else if (argument == "--id" || argument == "--output" || argument == "--output-dir" ||
                   argument == "--duration" || argument == "--jobs") {
            const std::optional<std::string> text = value();
            if (!text || text->empty())
                return argument + " needs a value";
            if (argument == "--id") {
                options.id = *text;
            } else if (argument == "--output") {
                options.output = *text;
            } else if (argument == "--output-dir") {
                options.outputDir = *text;
            } else if (argument == "--duration") {
                char* end = nullptr;
                const double seconds = std::strtod(text->c_str(), &end);
                if (end == text->c_str() || *end != '\0' || !(seconds >= 1 && seconds <= 3600))
                    return "--duration must be a number of seconds from 1 to 3600, not \"" + *text +
                           "\"";
                options.duration = seconds;
            } else {
                char* end = nullptr;
                const long jobs = std::strtol(text->c_str(), &end, 10);
                if (end == text->c_str() || *end != '\0' || jobs < 1 || jobs > 64)
                    return "--jobs must be a whole number from 1 to 64, not \"" + *text + "\"";
                options.jobs = static_cast<int>(jobs);
            }
        } else {
            return "unknown argument \"" + std::string(argv[i]) + "\"";
        }
        if (problem)
            return problem;
    }
    return std::nullopt;
}

// Renders and encodes one track; prints a line of results. Returns an error or nothing.
std::optional<std::string> produce(const TrackSpec& track, std::optional<double> duration,
                                   const std::string& path, std::mutex& printing)
{
    const auto started = std::chrono::steady_clock::now();
    RenderOptions options;
    options.durationSeconds = duration.value_or(0);
    const Rendering rendering = renderTrack(track, options);
    const auto rendered = std::chrono::steady_clock::now();
    const EncodeResult encoded =
        encodeM4a(rendering.samples, path, {96, track.title, track.artist});
    if (!encoded.ok)
        return encoded.error;
    const auto finished = std::chrono::steady_clock::now();
    const double renderSeconds = std::chrono::duration<double>(rendered - started).count();
    const double totalSeconds = std::chrono::duration<double>(finished - started).count();
    std::error_code error;
    const auto bytes = std::filesystem::file_size(path, error);
    const std::lock_guard lock(printing);
    std::printf("%s: %.1f s, %.1f LUFS, %.1f dBTP, %.2f MB, rendered at %.0fx real time (%.1f s "
                "with encoding)\n",
                path.c_str(), rendering.seconds(), rendering.loudness, rendering.truePeak,
                error ? 0.0 : static_cast<double>(bytes) / 1e6,
                rendering.seconds() / std::max(renderSeconds, 1e-6), totalSeconds);
    std::fflush(stdout);
    return std::nullopt;
}

int list()
{
    for (const TrackSpec& track : catalogueTracks()) {
        std::printf("%s\t%s\t%s\t%d\t%s\n", track.id.c_str(), kindName(track.kind).c_str(),
                    moodNames(track.moods).c_str(), static_cast<int>(track.durationSeconds),
                    track.title.c_str());
    }
    return 0;
}

int renderAll(const Options& options)
{
    std::error_code error;
    std::filesystem::create_directories(options.outputDir, error);
    if (error || !std::filesystem::is_directory(options.outputDir)) {
        std::fprintf(stderr, "calmcove-musicgen: cannot create the folder %s: %s\n",
                     options.outputDir.c_str(), error ? error.message().c_str() : "not a folder");
        return 1;
    }
    const std::vector<TrackSpec> tracks = catalogueTracks();
    const int jobs = options.jobs > 0
                         ? options.jobs
                         : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    std::atomic<std::size_t> next{0};
    std::atomic<int> failures{0};
    std::mutex printing;
    const auto work = [&] {
        for (std::size_t i = next++; i < tracks.size(); i = next++) {
            const std::string path =
                (std::filesystem::path(options.outputDir) / (tracks[i].id + ".m4a")).string();
            if (const auto problem = produce(tracks[i], options.duration, path, printing)) {
                ++failures;
                const std::lock_guard lock(printing);
                std::fprintf(stderr, "calmcove-musicgen: %s\n", problem->c_str());
            }
        }
    };
    std::vector<std::thread> threads;
    for (int j = 1; j < std::min<int>(jobs, static_cast<int>(tracks.size())); ++j)
        threads.emplace_back(work);
    work();
    for (std::thread& thread : threads)
        thread.join();
    if (failures > 0) {
        std::fprintf(stderr, "calmcove-musicgen: %d of %zu tracks failed\n", failures.load(),
                     tracks.size());
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (const auto problem = parse(argc, argv, options))
        return usageError(*problem);
    if (options.help) {
        std::printf("%s", usageText);
        return 0;
    }
    const int modes =
        (options.list ? 1 : 0) + (options.all ? 1 : 0) + (!options.id.empty() ? 1 : 0);
    if (modes != 1)
        return usageError("choose exactly one of --id, --all and --list");
    if (options.list)
        return list();
    if (options.all) {
        if (options.outputDir.empty())
            return usageError("--all needs --output-dir");
        if (!options.output.empty())
            return usageError("--output goes with --id; --all writes into --output-dir");
        return renderAll(options);
    }
    if (options.output.empty())
        return usageError("--id needs --output");
    if (!options.outputDir.empty() || options.jobs > 0)
        return usageError("--output-dir and --jobs go with --all");
    const std::optional<TrackSpec> track = catalogueTrack(options.id);
    if (!track) {
        std::fprintf(stderr, "calmcove-musicgen: unknown track id \"%s\" (see --list)\n",
                     options.id.c_str());
        return 1;
    }
    std::mutex printing;
    if (const auto problem = produce(*track, options.duration, options.output, printing)) {
        std::fprintf(stderr, "calmcove-musicgen: %s\n", problem->c_str());
        return 1;
    }
    return 0;
}
