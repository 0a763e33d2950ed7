#pragma once

// A real HTTP(S) server on loopback (cpp-httplib on its own threads) serving one file at
// every path but a few fixed ones, misbehaving on demand. "/moved/x" redirects to "/x".
// It records every other request and the most ranges it ever served at once.

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <QByteArray>
#include <QUrl>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace httplib {
class Server;
struct Response;
} // namespace httplib

namespace calmcove::test {

// A certificate and key for 127.0.0.1, made once per process with openssl and trusted by
// Qt's default TLS configuration from then on, so that a RangeTestServer given them speaks
// HTTPS that only this process trusts.
struct LoopbackCertificate
{
    std::string certificateFile;
    std::string keyFile;

    static const LoopbackCertificate& trusted();
};

class RangeTestServer
{
public:
    struct Behaviour
    {
        std::string acceptRanges = "bytes"; // empty: no such header
        bool answerHead = true;             // false: HEAD gets 405
        bool sendContentLength = true;      // false: chunked bodies, HEAD without a length
        bool honourRanges = true;           // false: a range request gets 200 and the whole file
        bool honourIfRange = true;
        int status = 200;          // anything else: every request gets it and a page
        bool sendEntityTag = true; // false: only Last-Modified identifies the file
        // Ranges carry this many bytes fewer (negative: more) than asked, and
        // "Content-Range" says so only when honest (else it names the asked range).
        long rangeLengthError = 0;
        bool honestContentRange = false;
        // The file is replaced by its next version after this many ranges were answered.
        int changeAfterRanges = -1;
        std::chrono::milliseconds rangeDelayUpTo{0}; // a random wait before each range
        std::chrono::milliseconds headDelay{0};
        long long dropAfterBytes = -1; // every body hangs up after this many bytes
        long long bytesPerSecond = 0;  // per connection; 0: as fast as possible
        // The file's bytes repeated: as a chunked body that never ends, or as a file of
        // this many bytes (ranges included) whatever the real file's size. -1: off.
        bool endless = false;
        long long claimedSize = -1;
    };

    struct Request
    {
        std::string method, path, range, ifRange, userAgent, accept, connection, acceptEncoding;
    };

    // Without files, HTTP; with a certificate and key (PEM), HTTPS. Port 0: any free one.
    explicit RangeTestServer(const std::string& certificateFile = {},
                             const std::string& keyFile = {}, int port = 0);
    ~RangeTestServer();
    RangeTestServer(const RangeTestServer&) = delete;
    RangeTestServer& operator=(const RangeTestServer&) = delete;

    QUrl url(const QString& path = QStringLiteral("/music/track.mp3")) const;
    void setFiles(std::vector<QByteArray> versions);
    void setBehaviour(Behaviour behaviour);
    // A fixed answer at `path` instead of the file.
    void serve(const std::string& path, int status, const QByteArray& body, std::string type);

    std::vector<Request> requests() const;
    std::vector<std::string> rangesRequested() const; // sorted
    int count(const std::string& method, bool withRange = false) const;
    int maxConcurrentRanges() const { return m_maxConcurrentRanges; }
    int redirectsAnswered() const { return m_redirectsAnswered; }
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

    mutable std::mutex m_mutex;
    Behaviour m_behaviour;
    std::vector<std::shared_ptr<const QByteArray>> m_versions;
    size_t m_version = 0;
    int m_rangesAnswered = 0;
    std::atomic<int> m_redirectsAnswered = 0;
    int m_concurrentRanges = 0;
    std::atomic<int> m_maxConcurrentRanges = 0; // both written under the mutex
    std::atomic<int> m_rangesCutOff = 0;
    std::vector<Request> m_requests;
    std::map<std::string, std::tuple<int, std::string, std::string>> m_fixedAnswers;
};

} // namespace calmcove::test
