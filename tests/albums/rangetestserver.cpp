#include "rangetestserver.h"

#include <algorithm>
#include <httplib.h>
#include <netinet/in.h>
#include <random>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace calmcove::test {

namespace {

using namespace std::chrono;

constexpr size_t writeBlock = 64 * 1024;

// "bytes=first-last" (one range, both ends given), as our downloader asks.
std::optional<std::pair<long long, long long>> parseRange(const std::string& header)
{
    long long first = 0;
    long long last = 0;
    char tail = 0;
    if (std::sscanf(header.c_str(), "bytes=%lld-%lld%c", &first, &last, &tail) != 2)
        return std::nullopt;
    return std::make_pair(first, last);
}

// Paces one answer (one connection at a time) to a number of bytes per second.
struct Pace
{
    long long bytesPerSecond = 0;
    steady_clock::time_point start = steady_clock::now();
    long long sent = 0;

    void after(size_t count, const std::atomic<bool>& stopping)
    {
        sent += static_cast<long long>(count);
        if (bytesPerSecond <= 0)
            return;
        const auto due = start + microseconds(sent * 1000000 / bytesPerSecond);
        while (!stopping && steady_clock::now() < due)
            std::this_thread::sleep_for(
                std::min<steady_clock::duration>(due - steady_clock::now(), milliseconds(20)));
    }
};

void sleepUnlessStopping(milliseconds delay, const std::atomic<bool>& stopping)
{
    const auto due = steady_clock::now() + delay;
    while (!stopping && steady_clock::now() < due)
        std::this_thread::sleep_for(milliseconds(5));
}

} // namespace

RangeTestServer::RangeTestServer(const std::string& certificateFile, const std::string& keyFile,
                                 int port)
{
    if (certificateFile.empty()) {
        m_server = std::make_unique<httplib::Server>();
    } else {
        m_server = std::make_unique<httplib::SSLServer>(certificateFile.c_str(), keyFile.c_str());
        m_tls = true;
    }
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
        answer({request.method, request.path, request.get_header_value("Range"),
                request.get_header_value("If-Range"), request.get_header_value("User-Agent"),
                request.get_header_value("Accept"), request.get_header_value("Connection"),
                request.get_header_value("Accept-Encoding")},
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

void RangeTestServer::answer(const Request& request, httplib::Response& reply)
{
    if (request.path.rfind("/moved/", 0) == 0) {
        {
            std::lock_guard lock(m_mutex);
            m_requests.push_back(request);
        }
        reply.set_redirect(request.path.substr(6), 302);
        return;
    }
    const bool isHead = request.method == "HEAD";
    const auto range = isHead ? std::nullopt : parseRange(request.range);

    Behaviour behaviour;
    std::shared_ptr<const QByteArray> file;
    size_t version = 0;
    {
        std::lock_guard lock(m_mutex);
        m_requests.push_back(request);
        behaviour = m_behaviour;
        if (range) {
            if (behaviour.changeAfterRanges >= 0 &&
                m_rangesAnswered == behaviour.changeAfterRanges &&
                m_version + 1 < m_versions.size())
                ++m_version;
            ++m_rangesAnswered;
        }
        version = m_version;
        file = m_versions.at(m_version);
    }

    if (isHead) {
        sleepUnlessStopping(behaviour.headDelay, m_stopping);
        if (!behaviour.answerHead) {
            reply.status = 405;
            return;
        }
    }
    if (behaviour.status != 200) {
        reply.status = behaviour.status;
        reply.set_content("<html><body>Not here</body></html>", "text/html");
        return;
    }

    const std::string entityTag = "\"v" + std::to_string(version) + "\"";
    const std::string lastModified =
        "Mon, 0" + std::to_string(1 + version) + " Jan 2024 10:00:00 GMT";
    if (behaviour.sendEntityTag)
        reply.set_header("ETag", entityTag);
    reply.set_header("Last-Modified", lastModified);

    const long long size = file->size();
    long long first = 0;
    long long count = size;
    bool partial = range && behaviour.honourRanges;
    if (partial && behaviour.honourIfRange && !request.ifRange.empty()) {
        const bool isEntityTag = request.ifRange.front() == '"';
        partial = isEntityTag ? behaviour.sendEntityTag && request.ifRange == entityTag
                              : request.ifRange == lastModified;
    }
    bool counted = false;
    if (partial) {
        first = range->first;
        const long long last = std::min(range->second, size - 1);
        if (first > last) {
            reply.status = 416;
            reply.set_header("Content-Range", "bytes */" + std::to_string(size));
            return;
        }
        const long long asked = last - first + 1;
        count = std::max(asked - behaviour.rangeLengthError, 0LL);
        if (first + count > size) {
            // A surplus past the end of the file: filler bytes.
            auto padded = std::make_shared<QByteArray>(file->mid(first));
            padded->append(QByteArray(first + count - size, 'x'));
            file = std::move(padded);
            first = 0;
        }
        const long long shownLast = behaviour.honestContentRange ? range->first + count - 1 : last;
        reply.status = 206;
        reply.set_header("Content-Range", "bytes " + std::to_string(range->first) + "-" +
                                              std::to_string(shownLast) + "/" +
                                              std::to_string(size));

        const int now = ++m_concurrentRanges;
        int seen = m_maxConcurrentRanges;
        while (now > seen && !m_maxConcurrentRanges.compare_exchange_weak(seen, now)) {
        }
        counted = true;
        if (behaviour.rangeDelayUpTo.count() > 0) {
            thread_local std::mt19937 random(std::random_device{}());
            sleepUnlessStopping(milliseconds(std::uniform_int_distribution<long long>(
                                    0, behaviour.rangeDelayUpTo.count())(random)),
                                m_stopping);
        }
    } else {
        reply.status = 200;
    }

    auto pace = std::make_shared<Pace>();
    pace->bytesPerSecond = behaviour.bytesPerSecond;
    const char* data = file->constData() + first;
    const auto release = [this, counted, file](bool success) {
        if (counted) {
            --m_concurrentRanges;
            if (!success)
                ++m_rangesCutOff;
        }
    };
    if (behaviour.sendContentLength) {
        reply.set_content_provider(
            size_t(count), "audio/mpeg",
            [this, file, data, pace, drop = behaviour.dropAfterBytes](size_t offset, size_t length,
                                                                      httplib::DataSink& sink) {
                size_t block = std::min(length, writeBlock);
                if (drop >= 0)
                    block = std::min<size_t>(
                        block, size_t(std::max(drop - static_cast<long long>(offset), 0LL)));
                if (m_stopping || block == 0 || !sink.write(data + offset, block))
                    return false;
                pace->after(block, m_stopping);
                return true;
            },
            release);
    } else {
        reply.set_chunked_content_provider(
            "audio/mpeg",
            [this, file, data, count, pace,
             drop = behaviour.dropAfterBytes](size_t offset, httplib::DataSink& sink) {
                if (drop >= 0 && static_cast<long long>(offset) >= drop)
                    return false;
                if (offset >= size_t(count)) {
                    sink.done();
                    return true;
                }
                const size_t block = std::min(size_t(count) - offset, writeBlock);
                if (m_stopping || !sink.write(data + offset, block))
                    return false;
                pace->after(block, m_stopping);
                return true;
            },
            release);
    }
}

std::vector<RangeTestServer::Request> RangeTestServer::requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

std::vector<std::string> RangeTestServer::rangesRequested() const
{
    std::vector<std::string> ranges;
    for (const Request& request : requests()) {
        if (request.method == "GET" && !request.range.empty() &&
            request.path.rfind("/moved/", 0) != 0)
            ranges.push_back(request.range);
    }
    std::sort(ranges.begin(), ranges.end());
    return ranges;
}

int RangeTestServer::plainGetCount() const
{
    const auto all = requests();
    return int(std::count_if(all.begin(), all.end(), [](const Request& request) {
        return request.method == "GET" && request.range.empty() &&
               request.path.rfind("/moved/", 0) != 0;
    }));
}

int RangeTestServer::headCount() const
{
    const auto all = requests();
    return int(std::count_if(all.begin(), all.end(), [](const Request& request) {
        return request.method == "HEAD" && request.path.rfind("/moved/", 0) != 0;
    }));
}

void RangeTestServer::clearRecords()
{
    std::lock_guard lock(m_mutex);
    m_requests.clear();
    m_maxConcurrentRanges = 0;
    m_rangesCutOff = 0;
}

} // namespace calmcove::test
