#include "rangetestserver.h"

#include <algorithm>
#include <httplib.h>
#include <QProcess>
#include <QSslConfiguration>
#include <QTemporaryDir>
#include <random>
#include <stdexcept>

namespace calmcove::test {

namespace {

using namespace std::chrono;

void sleepUntil(steady_clock::time_point due, const std::atomic<bool>& stopping)
{
    while (!stopping && steady_clock::now() < due)
        std::this_thread::sleep_for(
            std::min<steady_clock::duration>(due - steady_clock::now(), milliseconds(20)));
}

} // namespace

RangeTestServer::RangeTestServer(const std::string& certificateFile, const std::string& keyFile,
                                 int port)
    : m_tls(!certificateFile.empty())
{
    m_server = m_tls
                   ? std::make_unique<httplib::SSLServer>(certificateFile.c_str(), keyFile.c_str())
                   : std::make_unique<httplib::Server>();
    if (!m_server->is_valid())
        throw std::runtime_error("the range test server cannot start");

    // More workers than the downloader may ever use, so that a seventh request would be
    // served (and counted) rather than queued.
    m_server->new_task_queue = [] { return new httplib::ThreadPool(24); };
    m_server->set_keep_alive_max_count(1000);
    m_server->set_keep_alive_timeout(2);
    m_server->set_tcp_nodelay(true);
    // Ranges are ours to answer, right or wrong: keep httplib from slicing bodies itself.
    m_server->set_pre_routing_handler([](const httplib::Request& request, httplib::Response&) {
        const_cast<httplib::Request&>(request).ranges.clear();
        return httplib::Server::HandlerResponse::Unhandled;
    });
    // httplib adds "Accept-Ranges: bytes" to HEAD answers by itself.
    m_server->set_post_routing_handler([this](const httplib::Request&, httplib::Response& reply) {
        reply.headers.erase("Accept-Ranges");
        std::lock_guard lock(m_mutex);
        if (!m_behaviour.acceptRanges.empty())
            reply.set_header("Accept-Ranges", m_behaviour.acceptRanges);
    });
    m_server->Get(".*", [this](const httplib::Request& request, httplib::Response& reply) {
        const auto header = [&](const char* name) { return request.get_header_value(name); };
        answer({request.method, request.path, header("Range"), header("If-Range"),
                header("User-Agent"), header("Accept"), header("Connection"),
                header("Accept-Encoding")},
               reply);
    });

    m_port = port == 0 ? m_server->bind_to_any_port("127.0.0.1")
                       : (m_server->bind_to_port("127.0.0.1", port) ? port : -1);
    if (m_port <= 0)
        throw std::runtime_error("the range test server cannot bind");
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    while (!m_server->is_running())
        std::this_thread::sleep_for(milliseconds(1));
}

RangeTestServer::~RangeTestServer()
{
    m_stopping = true;
    m_server->stop();
    m_thread.join();
}

QUrl RangeTestServer::url(const QString& path) const
{
    return QUrl(QStringLiteral("%1://127.0.0.1:%2%3")
                    .arg(m_tls ? QStringLiteral("https") : QStringLiteral("http"))
                    .arg(m_port)
                    .arg(path));
}

void RangeTestServer::setFiles(std::vector<QByteArray> versions)
{
    std::lock_guard lock(m_mutex);
    m_versions.clear();
    for (QByteArray& version : versions)
        m_versions.push_back(std::make_shared<const QByteArray>(std::move(version)));
    m_version = 0;
    m_rangesAnswered = 0;
}

void RangeTestServer::setBehaviour(Behaviour behaviour)
{
    std::lock_guard lock(m_mutex);
    m_behaviour = std::move(behaviour);
}

namespace {

// `length` bytes of `file` repeated without end, from `offset` on.
std::string repeated(const QByteArray& file, size_t offset, size_t length)
{
    std::string bytes(length, '\0');
    for (size_t i = 0; i < length; ++i)
        bytes[i] = file.at(qsizetype((offset + i) % size_t(file.size())));
    return bytes;
}

} // namespace

void RangeTestServer::serve(const std::string& path, int status, const QByteArray& body,
                            std::string type)
{
    std::lock_guard lock(m_mutex);
    m_fixedAnswers[path] = {status, body.toStdString(), std::move(type)};
}

void RangeTestServer::answer(const Request& request, httplib::Response& reply)
{
    if (request.path.rfind("/moved/", 0) == 0) {
        ++m_redirectsAnswered;
        return reply.set_redirect(request.path.substr(6), 302);
    }
    if (std::lock_guard lock(m_mutex); m_fixedAnswers.count(request.path)) {
        const auto& [status, body, type] = m_fixedAnswers.at(request.path);
        reply.status = status;
        return reply.set_content(body, type);
    }

    // One range, both ends given, as our downloader asks.
    long long asked[2] = {0, 0};
    char tail = 0;
    const bool isRange =
        request.method == "GET" &&
        std::sscanf(request.range.c_str(), "bytes=%lld-%lld%c", &asked[0], &asked[1], &tail) == 2;
    Behaviour behaviour;
    std::shared_ptr<const QByteArray> file;
    size_t version = 0;
    {
        std::lock_guard lock(m_mutex);
        m_requests.push_back(request);
        behaviour = m_behaviour;
        if (isRange && m_rangesAnswered++ == behaviour.changeAfterRanges &&
            m_version + 1 < m_versions.size())
            ++m_version;
        version = m_version;
        file = m_versions.at(m_version);
    }

    if (request.method == "HEAD") {
        sleepUntil(steady_clock::now() + behaviour.headDelay, m_stopping);
        if (!behaviour.answerHead) {
            reply.status = 405;
            return;
        }
    }
    if (behaviour.status != 200) {
        reply.status = behaviour.status;
        return reply.set_content("<html><body>Not here</body></html>", "text/html");
    }

    const std::string entityTag = "\"v" + std::to_string(version) + "\"";
    const std::string lastModified =
        "Mon, 0" + std::to_string(1 + version) + " Jan 2024 10:00:00 GMT";
    if (behaviour.sendEntityTag)
        reply.set_header("ETag", entityTag);
    reply.set_header("Last-Modified", lastModified);

    if (behaviour.endless && request.method == "GET") {
        reply.status = 200;
        return reply.set_chunked_content_provider(
            "audio/mpeg", [this, file](size_t offset, httplib::DataSink& sink) {
                const std::string block = repeated(*file, offset, 64 * 1024);
                return !m_stopping && sink.write(block.data(), block.size());
            });
    }
    const long long size = behaviour.claimedSize >= 0 ? behaviour.claimedSize : file->size();
    long long first = 0;
    long long count = size;
    bool partial = isRange && behaviour.honourRanges;
    if (partial && behaviour.honourIfRange && !request.ifRange.empty())
        partial = request.ifRange.front() == '"'
                      ? behaviour.sendEntityTag && request.ifRange == entityTag
                      : request.ifRange == lastModified;
    reply.status = partial ? 206 : 200;
    if (partial) {
        first = asked[0];
        const long long last = std::min(asked[1], size - 1);
        if (first > last) {
            reply.status = 416;
            return reply.set_header("Content-Range", "bytes */" + std::to_string(size));
        }
        count = std::max(last - first + 1 - behaviour.rangeLengthError, 0LL);
        if (behaviour.claimedSize < 0 && first + count > size) {
            // a surplus past the end of the file: filler bytes
            auto padded = std::make_shared<QByteArray>(file->mid(first));
            padded->append(QByteArray(first + count - size, 'x'));
            file = std::move(padded);
            first = 0;
        }
        const long long shownLast = behaviour.honestContentRange ? asked[0] + count - 1 : last;
        reply.set_header("Content-Range", "bytes " + std::to_string(asked[0]) + "-" +
                                              std::to_string(shownLast) + "/" +
                                              std::to_string(size));
        {
            std::lock_guard lock(m_mutex);
            m_maxConcurrentRanges = std::max(m_maxConcurrentRanges.load(), ++m_concurrentRanges);
        }
        if (behaviour.rangeDelayUpTo.count() > 0) {
            thread_local std::mt19937 random(std::random_device{}());
            sleepUntil(steady_clock::now() + milliseconds(std::uniform_int_distribution<long long>(
                                                 0, behaviour.rangeDelayUpTo.count())(random)),
                       m_stopping);
        }
    }

    const char* data = file->constData() + first;
    const auto start = steady_clock::now();
    const bool claimed = behaviour.claimedSize >= 0;
    const auto send = [this, file, data, first, count, start, claimed,
                       drop = behaviour.dropAfterBytes,
                       pace = behaviour.bytesPerSecond](size_t offset, httplib::DataSink& sink) {
        const auto at = static_cast<long long>(offset);
        if (drop >= 0 && at >= drop)
            return false;
        if (at >= count) { // only the chunked body gets here
            sink.done();
            return true;
        }
        const long long block = std::min({count - at, 64LL * 1024, drop < 0 ? count : drop - at});
        if (claimed) {
            const std::string bytes = repeated(*file, size_t(first) + offset, size_t(block));
            if (m_stopping || !sink.write(bytes.data(), bytes.size()))
                return false;
        } else if (m_stopping || !sink.write(data + offset, size_t(block))) {
            return false;
        }
        if (pace > 0)
            sleepUntil(start + microseconds((at + block) * 1000000 / pace), m_stopping);
        return true;
    };
    const auto release = [this, partial](bool success) {
        std::lock_guard lock(m_mutex);
        m_concurrentRanges -= partial ? 1 : 0;
        m_rangesCutOff += partial && !success ? 1 : 0;
    };
    if (behaviour.sendContentLength)
        reply.set_content_provider(
            size_t(count), "audio/mpeg",
            [send](size_t offset, size_t, httplib::DataSink& sink) { return send(offset, sink); },
            release);
    else
        reply.set_chunked_content_provider("audio/mpeg", send, release);
}

std::vector<RangeTestServer::Request> RangeTestServer::requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

std::vector<std::string> RangeTestServer::rangesRequested() const
{
    std::vector<std::string> ranges;
    for (const Request& request : requests())
        if (request.method == "GET" && !request.range.empty())
            ranges.push_back(request.range);
    std::sort(ranges.begin(), ranges.end());
    return ranges;
}

int RangeTestServer::count(const std::string& method, bool withRange) const
{
    const auto all = requests();
    return int(std::count_if(all.begin(), all.end(), [&](const Request& r) {
        return r.method == method && r.range.empty() != withRange;
    }));
}

void RangeTestServer::clearRecords()
{
    std::lock_guard lock(m_mutex);
    m_requests.clear();
    m_redirectsAnswered = 0;
    m_maxConcurrentRanges = 0;
    m_rangesCutOff = 0;
}

const LoopbackCertificate& LoopbackCertificate::trusted()
{
    static const LoopbackCertificate certificate = [] {
        static QTemporaryDir folder;
        QProcess openssl;
        openssl.setWorkingDirectory(folder.path());
        openssl.start("openssl",
                      {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                       "-nodes", "-keyout", "key.pem", "-out", "cert.pem", "-days", "2", "-subj",
                       "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"});
        openssl.waitForFinished(30000);
        const QString certificateFile = folder.filePath(QStringLiteral("cert.pem"));
        QSslConfiguration trusting = QSslConfiguration::defaultConfiguration();
        trusting.addCaCertificates(certificateFile);
        QSslConfiguration::setDefaultConfiguration(trusting);
        return LoopbackCertificate{certificateFile.toStdString(),
                                   folder.filePath(QStringLiteral("key.pem")).toStdString()};
    }();
    return certificate;
}

} // namespace calmcove::test
