#pragma once

// The parts the library tests share: an HTTPS server on loopback, a clock that moves by
// hand, a network monitor the test drives, packs of random track files, and a harness that
// builds stores on a temporary packs folder with their own settings file.

#include "support/qtprinters.h"

#include "library/audiopackstore.h"
#include "platform/userdefaults.h"

#include <QPointer>
#include <QTemporaryDir>

#include <QCoro/QCoroTask>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <type_traits>
#include <vector>

namespace httplib {
class SSLServer;
}

namespace calmcove::test {

// The test CA and the server certificate (for 127.0.0.1 and localhost), in a temporary
// folder that lives as long as the process.
struct TestCertificates
{
    QString caFile;
    QString certificateFile;
    QString keyFile;

    static const TestCertificates& shared();
};

// A real HTTPS server on loopback (cpp-httplib) with a certificate of the test CA. Each
// path answers from a script: a list of responses used in turn, the last one repeating.
// Every request is recorded.
class TestServer
{
public:
    using Headers = std::vector<std::pair<std::string, std::string>>;
    struct Response
    {
        std::string body;
        std::string contentType = "application/octet-stream";
        int status = 200;
        Headers headers = {};
        std::chrono::milliseconds delay{0}; // before answering
        // Announces the whole body, sends only this many bytes, then drops the connection.
        std::optional<size_t> cutAfter = std::nullopt;
    };
    struct Request
    {
        std::string path, userAgent, accept;
    };

    static Response json(std::string body) { return {std::move(body), "application/json"}; }
    static Response status(int code, Headers headers = {})
    {
        return {"status " + std::to_string(code), "text/plain", code, std::move(headers)};
    }

    TestServer();
    ~TestServer();

    QUrl url(const QString& path) const;
    // Answers `path` with `responses` in turn; the last one repeats.
    void script(const std::string& path, std::vector<Response> responses);
    void serve(const std::string& path, Response response) { script(path, {std::move(response)}); }

    int requestCount(const std::string& path) const;
    std::vector<Request> requests() const;
    void clearRequests();

private:
    std::unique_ptr<httplib::SSLServer> m_server;
    std::thread m_thread;
    int m_port = 0;
    std::atomic<bool> m_stopping = false;
    mutable std::mutex m_mutex;
    std::map<std::string, std::pair<std::vector<Response>, size_t>> m_routes; // and next
    std::vector<Request> m_requests;
};

// Each scheduled delay is recorded and added to now(); the timer fires on the next turn of
// the event loop. Delays that `park` selects wait until releaseParked().
class ManualClock : public LibraryClock
{
public:
    QDateTime now() const override { return m_now; }
    void schedule(std::chrono::nanoseconds delay, QObject* context,
                  std::function<void()> callback) override;
    const QList<double>& delays() const { return m_delays; } // in seconds
    void clearDelays() { m_delays.clear(); }
    void releaseParked();

    std::function<bool(std::chrono::nanoseconds)> park;
    // Runs before a delay is recorded (tests change the world here).
    std::function<void(std::chrono::nanoseconds)> onSchedule;

private:
    QDateTime m_now = QDateTime::currentDateTimeUtc();
    QList<double> m_delays;
    QList<std::pair<QPointer<QObject>, std::function<void()>>> m_parked;
};

// Reports synchronously whatever path the test sets.
class TestNetworkMonitor : public NetworkPathMonitor
{
public:
    WatchID watch(Handler handler) override
    {
        m_handlers.emplace(m_nextID, std::move(handler));
        return m_nextID++;
    }
    void unwatch(WatchID id) override { m_handlers.erase(id); }
    void setPath(const NetworkPath& path)
    {
        for (const auto& [id, handler] : m_handlers)
            handler(path);
    }
    void setOnline(bool online) { setPath(NetworkPath{online, false, false}); }

private:
    std::map<WatchID, Handler> m_handlers;
    WatchID m_nextID = 1;
};

// A pack of tracks with random content, its manifest, and the server routes for both.
struct TestPack
{
    QString version;
    AudioPackManifest manifest;
    QMap<QString, QByteArray> contents; // by file name
    QString publishedAt;                // for indexJSON, left out when empty

    // `ids` become tracks of `size` bytes; the same id and `seed` give the same bytes.
    static TestPack make(TestServer& server, const QString& version, const QStringList& ids,
                         int size = 3000, int seed = 1, const QString& minimumAppVersion = "1.0");
    void publish(TestServer& server) const;
    std::string manifestPath() const
    {
        return "/packs/" + version.toStdString() + "/manifest.json";
    }
    std::string trackPath(const QString& name) const
    {
        return "/packs/" + version.toStdString() + "/" + name.toStdString();
    }
    QByteArray manifestJSON() const { return encodeAudioPackManifest(manifest); }
};

std::string indexJSON(TestServer& server, const QList<TestPack>& packs);

class LibraryHarness
{
public:
    LibraryHarness();
    ~LibraryHarness();

    TestServer server;
    QTemporaryDir folder;
    std::unique_ptr<UserDefaults> defaults;
    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    BuildInfo buildInfo{"1.0", {}, {}, {}};
    AudioPackClientTimeouts timeouts;
    TestNetworkMonitor* monitor = nullptr;                     // of the last store made
    std::vector<std::unique_ptr<TestNetworkMonitor>> monitors; // of every store made

    QString packsRoot() const { return folder.path() + QStringLiteral("/AudioPacks"); }
    QString starterDirectory() const { return folder.path() + QStringLiteral("/StarterAudio"); }
    // Points the manifest URL setting at a pack (and clears the index URL).
    void useManifest(const TestPack& pack);
    enum class Launch
    {
        settled,
        asConstructed
    };
    // A store on the temporary packs folder. `settled`: once files without a matching
    // verification record have been hashed (at once when there are none).
    std::unique_ptr<AudioPackStore> makeStore(Launch launch = Launch::settled);
    // Points the manifest URL at `pack`, serves it and installs it with a store that is
    // gone afterwards, so that the next store is a new launch.
    void install(const TestPack& pack);
    // The track and archive downloads left in the program's temporary folder.
    static QStringList leftoverDownloads();
};

// Runs the event loop until `done` holds or `timeoutMs` passes; returns whether it held.
bool runUntil(const std::function<bool()>& done, int timeoutMs = 10000);
// The same for a minute, then ends the test process: nothing could be trusted after a
// stuck task.
void runUntilOrAbort(const std::function<bool()>& done);

// Runs the event loop until `task` finishes and returns its value.
template <typename T> T await(QCoro::Task<T>&& task)
{
    using Slot = std::conditional_t<std::is_void_v<T>, bool, T>;
    std::optional<Slot> result;
    [](QCoro::Task<T> running, std::optional<Slot>& out) -> QCoro::Task<> {
        if constexpr (std::is_void_v<T>) {
            co_await std::move(running);
            out.emplace(true);
        } else {
            out.emplace(co_await std::move(running));
        }
    }(std::move(task), result);
    runUntilOrAbort([&] { return result.has_value(); });
    if constexpr (!std::is_void_v<T>)
        return std::move(*result);
}

QString sha256Hex(const QByteArray& data);

} // namespace calmcove::test
