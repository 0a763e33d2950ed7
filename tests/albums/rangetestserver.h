#pragma once

// A real HTTP(S) server on loopback (cpp-httplib on its own threads) that serves one file
// at every path, with switchable behaviour: what HEAD answers, whether and how byte
// ranges are honoured, a file that changes between ranges, an error status, and a pace
// per connection. Paths under "/moved" redirect to the same path without that prefix. It
// records every request and the most ranges it ever served at once.

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <QByteArray>
#include <QUrl>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
struct Response;
} // namespace httplib

namespace calmcove::test {

class RangeTestServer
{
public:
    struct Behaviour
    {
        // The "Accept-Ranges" value of every answer; empty: no such header.
        std::string acceptRanges = "bytes";
        bool answerHead = true;        // false: HEAD gets 405
        bool sendContentLength = true; // false: chunked bodies, HEAD without a length
        bool honourRanges = true;      // false: a range request gets 200 and the whole file
        bool honourIfRange = true;     // false: If-Range is ignored
        int status = 200;              // anything else: every request gets it and a page
        bool sendEntityTag = true;     // false: only Last-Modified identifies the file
        // Ranges carry this many bytes fewer (negative: more) than they should...
        long rangeLengthError = 0;
        // ...and "Content-Range" tells the truth about it (else it names the asked range).
        bool honestContentRange = false;
        // The file is replaced by the next version after this many ranges were answered.
        int changeAfterRanges = -1;
        // Each range waits a random time up to this before answering.
        std::chrono::milliseconds rangeDelayUpTo{0};
        std::chrono::milliseconds headDelay{0};
        // Every body stops after this many bytes and the connection drops; -1: never.
        long long dropAfterBytes = -1;
        // Bytes per second per connection; 0: as fast as possible.
        long long bytesPerSecond = 0;
    };

    struct Request
    {
        std::string method;
        std::string path;
        std::string range;
        std::string ifRange;
        std::string userAgent;
        std::string accept;
        std::string connection;
        std::string acceptEncoding;
    };

    // Without files, HTTP; with a certificate and key (PEM), HTTPS. Port 0: any free one.
    explicit RangeTestServer(const std::string& certificateFile = {},
                             const std::string& keyFile = {}, int port = 0);
    ~RangeTestServer();
    RangeTestServer(const RangeTestServer&) = delete;
    RangeTestServer& operator=(const RangeTestServer&) = delete;

    QUrl url(const QString& path = QStringLiteral("/music/track.mp3")) const;

    // The file served now; later versions follow it when the behaviour changes the file.
    void setFiles(std::vector<QByteArray> versions);
    void setBehaviour(Behaviour behaviour);

    std::vector<Request> requests() const;
    std::vector<std::string> rangesRequested() const;
    int plainGetCount() const;
    int headCount() const;
    int maxConcurrentRanges() const { return m_maxConcurrentRanges; }
    // Range answers whose body could not be sent whole because the client hung up.
    int rangesCutOff() const { return m_rangesCutOff; }
    void clearRecords();

private:
    void answer(const Request& request, httplib::Response& reply);

    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    int m_port = 0;
    bool m_tls = false;
    std::atomic<bool> m_stopping = false;
    std::atomic<int> m_concurrentRanges = 0;
    std::atomic<int> m_maxConcurrentRanges = 0;
    std::atomic<int> m_rangesCutOff = 0;

    mutable std::mutex m_mutex;
    Behaviour m_behaviour;
    std::vector<std::shared_ptr<const QByteArray>> m_versions;
    size_t m_version = 0;
    int m_rangesAnswered = 0;
    std::vector<Request> m_requests;
};

} // namespace calmcove::test
