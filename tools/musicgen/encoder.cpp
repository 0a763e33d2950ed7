#include "encoder.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace calmcove::musicgen {

namespace {

// Closes a descriptor when it goes out of scope.
struct FileDescriptor
{
    int fd = -1;
    explicit FileDescriptor(int value = -1) : fd(value) {}
    ~FileDescriptor() { reset(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    void reset()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
};

std::string lastLine(int fd)
{
    std::string text;
    ::lseek(fd, 0, SEEK_SET);
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<std::size_t>(n));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    const std::size_t start = text.find_last_of('\n');
    return start == std::string::npos ? text : text.substr(start + 1);
}

EncodeResult failure(std::string message)
{
    return EncodeResult{false, std::move(message)};
}

} // namespace

EncodeResult encodeM4a(const std::vector<float>& samples, const std::string& path,
                       const EncodeSettings& settings)
{
    namespace fs = std::filesystem;
    const fs::path target(path);
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    std::error_code error;
    if (!fs::is_directory(folder, error))
        return failure("cannot write " + path + ": the folder " + folder.string() +
                       " does not exist");
    if (fs::is_directory(target, error))
        return failure("cannot write " + path + ": it is a folder");

    // Prove the folder is writable before starting ffmpeg, with the partial file itself.
    std::string partialName = target.filename().string();
    partialName.insert(partialName.begin(), '.');
    partialName.append(".partial");
    const std::string partial = (folder / partialName).string();
    {
        FileDescriptor probe(
            ::open(partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        if (probe.fd < 0)
            return failure("cannot write " + path + ": " + std::strerror(errno));
    }

    char logTemplate[] = "/tmp/calmcove-musicgen-ffmpeg-XXXXXX";
    FileDescriptor log(::mkostemp(logTemplate, O_CLOEXEC));
    if (log.fd < 0) {
        ::unlink(partial.c_str());
        return failure(std::string("cannot create a temporary file: ") + std::strerror(errno));
    }
    ::unlink(logTemplate);

    // A socket pair rather than a pipe: send() with MSG_NOSIGNAL reports a vanished
    // ffmpeg as an error instead of raising SIGPIPE in the whole process.
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        ::unlink(partial.c_str());
        return failure(std::string("cannot start ffmpeg: ") + std::strerror(errno));
    }
    FileDescriptor ours(pair[0]);
    FileDescriptor theirs(pair[1]);

    const std::string bitrate = std::to_string(settings.bitrateKbps) + "k";
    std::vector<std::string> arguments = {
        "ffmpeg", "-hide_banner", "-nostats", "-loglevel", "error",     "-y",        "-f",
        "f32le",  "-ar",          "44100",    "-ac",       "2",         "-i",        "pipe:0",
        "-c:a",   "aac",          "-b:a",     bitrate,     "-movflags", "+faststart"};
    if (!settings.title.empty()) {
        arguments.push_back("-metadata");
        arguments.push_back("title=" + settings.title);
    }
    if (!settings.artist.empty()) {
        arguments.push_back("-metadata");
        arguments.push_back("artist=" + settings.artist);
    }
    arguments.insert(arguments.end(), {"-f", "ipod", partial});
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, theirs.fd, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, log.fd, 2);
    pid_t child = -1;
    const int spawned = ::posix_spawnp(&child, "ffmpeg", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    theirs.reset();
    if (spawned != 0) {
        ::unlink(partial.c_str());
        if (spawned == ENOENT)
            return failure("ffmpeg not found: the ffmpeg program must be installed and on PATH");
        return failure(std::string("cannot start ffmpeg: ") + std::strerror(spawned));
    }

    const char* data = reinterpret_cast<const char*>(samples.data());
    std::size_t remaining = samples.size() * sizeof(float);
    bool sendFailed = false;
    while (remaining > 0) {
        const ssize_t sent =
            ::send(ours.fd, data, std::min<std::size_t>(remaining, 1 << 16), MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR)
                continue;
            sendFailed = true;
            break;
        }
        data += sent;
        remaining -= static_cast<std::size_t>(sent);
    }
    ours.reset();

    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            break;
    }
    const bool exitedCleanly = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!exitedCleanly || sendFailed) {
        ::unlink(partial.c_str());
        std::string detail = lastLine(log.fd);
        if (detail.empty())
            detail = WIFEXITED(status) ? "exit status " + std::to_string(WEXITSTATUS(status))
                                       : "ffmpeg was stopped";
        return failure("ffmpeg could not encode " + path + ": " + detail);
    }
    if (::rename(partial.c_str(), path.c_str()) != 0) {
        const std::string reason = std::strerror(errno);
        ::unlink(partial.c_str());
        return failure("cannot write " + path + ": " + reason);
    }
    return EncodeResult{true, {}};
}

} // namespace calmcove::musicgen
