#pragma once

// The parts the library tests share: a clock that moves by hand, a network monitor the
// test drives, packs of random track files served by a TestServer, and a harness that
// builds stores on a temporary packs folder with their own settings file.

#include "librarytestsupport.h"
#include "testserver.h"

#include "library/audiopackstore.h"
#include "platform/userdefaults.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QTemporaryDir>

#include <QCoro/QCoroTask>

#include <functional>
#include <memory>

namespace calmcove::test {

// Time moves only when a timer is scheduled: each scheduled delay is recorded and added
// to now(), and the timer fires on the next turn of the event loop. Delays that `park`
// selects wait until releaseParked() (or until their owner cancels them).
class ManualClock : public LibraryClock
{
public:
    QDateTime now() const override { return m_now; }
    void schedule(std::chrono::nanoseconds delay, QObject* context,
                  std::function<void()> callback) override;

    void setNow(const QDateTime& now) { m_now = now; }
    void advance(std::chrono::seconds by) { m_now = m_now.addSecs(by.count()); }
    // The delays asked for so far, in seconds.
    const QList<double>& delays() const { return m_delays; }
    void clearDelays() { m_delays.clear(); }

    std::function<bool(std::chrono::nanoseconds)> park;
    // Runs when a delay is scheduled, before it is recorded (tests change the world here).
    std::function<void(std::chrono::nanoseconds)> onSchedule;
    void releaseParked();

private:
    struct Parked
    {
        QPointer<QObject> context;
        std::function<void()> callback;
    };
    QDateTime m_now = QDateTime::currentDateTimeUtc();
    QList<double> m_delays;
    QList<Parked> m_parked;
};

// Reports whatever path the test sets; synchronously, like a monitor whose updates were
// already handed to the main thread.
class TestNetworkMonitor : public NetworkPathMonitor
{
public:
    void start(Handler handler) override { m_handler = std::move(handler); }
    void stop() override { m_handler = nullptr; }
    void setPath(const NetworkPath& path)
    {
        if (m_handler)
            m_handler(path);
    }
    void setOnline(bool online) { setPath(NetworkPath{online, false, false}); }

private:
    Handler m_handler;
};

// A pack of tracks with random content, its manifest, and the server routes for both.
struct TestPack
{
    QString version;
    AudioPackManifest manifest;
    QMap<QString, QByteArray> contents; // by file name

    // `ids` become tracks of `size` bytes; `seed` makes the content (the same id with the
    // same seed gives the same bytes).
    static TestPack make(TestServer& server, const QString& version, const QStringList& ids,
                         int size = 3000, int seed = 1, const QString& minimumAppVersion = "1.0");
    // Serves the manifest at /packs/<version>/manifest.json and every track file.
    void publish(TestServer& server) const;
    std::string manifestPath() const;
    std::string trackPath(const QString& fileName) const;
    QByteArray manifestJSON() const { return encodeAudioPackManifest(manifest); }
};

// An index listing `packs` (version, minimum app version, published at).
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
    TestNetworkMonitor* monitor = nullptr; // of the last store made

    QString packsRoot() const { return folder.path() + QStringLiteral("/AudioPacks"); }
    QString starterDirectory() const { return folder.path() + QStringLiteral("/StarterAudio"); }
    // Points the manifest URL setting at a pack (and clears the index URL).
    void useManifest(const TestPack& pack);
    void setSetting(const QString& key, const QString& value) { defaults->setValue(key, value); }

    std::unique_ptr<AudioPackStore> makeStore();
    // The .download files left in the temporary directory.
    QStringList leftoverDownloads() const;
};

// Runs the event loop until `done` holds or `timeoutMs` passes; returns whether it held.
bool runUntil(const std::function<bool()>& done, int timeoutMs = 10000);
[[noreturn]] void failStuckTask();

// Runs the event loop until `task` finishes and returns its value. A task that does not
// finish within a minute ends the test process: nothing else could be trusted after it.
template <typename T> T await(QCoro::Task<T>&& task)
{
    std::optional<T> result;
    [](QCoro::Task<T> running, std::optional<T>& out) -> QCoro::Task<> {
        out.emplace(co_await std::move(running));
    }(std::move(task), result);
    if (!runUntil([&] { return result.has_value(); }, 60000))
        failStuckTask();
    return std::move(*result);
}

inline void await(QCoro::Task<>&& task)
{
    bool done = false;
    [](QCoro::Task<> running, bool& finished) -> QCoro::Task<> {
        co_await std::move(running);
        finished = true;
    }(std::move(task), done);
    if (!runUntil([&] { return done; }, 60000))
        failStuckTask();
}

QString sha256Hex(const QByteArray& data);

} // namespace calmcove::test
