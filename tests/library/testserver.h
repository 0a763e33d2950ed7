#pragma once

// A real HTTPS server on loopback for the library tests (cpp-httplib), with a certificate
// signed by a test CA made once per test process. Each path answers from a script: a
// list of responses used in turn, the last one repeating. Every request is recorded.

#include <QString>
#include <QUrl>

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class SSLServer;
}

namespace calmcove::test {

// The test CA and the server certificate (for 127.0.0.1 and localhost), made with the
// openssl command in a temporary folder that lives as long as the process.
struct TestCertificates
{
    QString caFile;
    QString certificateFile;
    QString keyFile;

    static const TestCertificates& shared();
};

class TestServer
{
public:
    struct Response
    {
        int status = 200;
        std::string body;
        std::string contentType = "application/octet-stream";
        std::vector<std::pair<std::string, std::string>> headers;
        // Waits this long before answering (in steps, so that stopping is not held up).
        std::chrono::milliseconds delay{0};
        // Sends the headers for the whole body, then only this many bytes, then drops the
        // connection.
        std::optional<size_t> cutAfter;
    };

    struct Request
    {
        std::string method;
        std::string path;
        std::string userAgent;
        std::string accept;
    };

    static Response json(const std::string& body, int status = 200);
    static Response status(int code, std::vector<std::pair<std::string, std::string>> headers = {});

    TestServer();
    ~TestServer();
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    int port() const { return m_port; }
    QUrl url(const QString& path) const;

    // Answers `path` with `responses` in turn; the last one repeats.
    void script(const std::string& path, std::vector<Response> responses);
    void serve(const std::string& path, Response response) { script(path, {std::move(response)}); }

    int requestCount(const std::string& path) const;
    std::vector<Request> requests() const;
    void clearRequests();

private:
    struct Route
    {
        std::vector<Response> responses;
        size_t next = 0;
    };

    std::unique_ptr<httplib::SSLServer> m_server;
    std::thread m_thread;
    int m_port = 0;
    std::atomic<bool> m_stopping = false;
    mutable std::mutex m_mutex;
    std::map<std::string, Route> m_routes;
    std::vector<Request> m_requests;
};

} // namespace calmcove::test
