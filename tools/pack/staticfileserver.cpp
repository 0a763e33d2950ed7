#include "staticfileserver.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <httplib.h>
#include <QFileInfo>
#include <QHostAddress>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace calmcove {

namespace {

const char* contentType(const QString& path)
{
    if (path.endsWith(QLatin1String(".json")))
        return "application/json";
    if (path.endsWith(QLatin1String(".m4a")))
        return "audio/mp4";
    if (path.endsWith(QLatin1String(".pem")))
        return "application/x-pem-file";
    return "application/octet-stream";
}

// An open file shared by the content provider's calls; closed with the last of them.
struct OpenFile
{
    explicit OpenFile(int descriptor) : fd(descriptor) {}
    ~OpenFile() { ::close(fd); }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    int fd;
};

// A single range clamped to the file, or nothing when it cannot be satisfied. httplib
// would otherwise trust the client's end position and read past the end of the file.
std::optional<httplib::Range> clampRange(httplib::Range range, qint64 size)
{
    auto [first, last] = range;
    if (first < 0) { // suffix: the last `last` bytes
        if (last <= 0 || size == 0)
            return std::nullopt;
        return httplib::Range{std::max<qint64>(0, size - last), size - 1};
    }
    if (first >= size || (last >= 0 && last < first))
        return std::nullopt;
    if (last < 0 || last >= size)
        last = size - 1;
    return httplib::Range{first, last};
}

// Request text as it may go into a log or a terminal: control characters become "?".
QString printable(const std::string& text)
{
    QString result = QString::fromStdString(text);
    for (QChar& c : result)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = QLatin1Char('?');
    return result;
}

} // namespace

ServedPath resolveRequestPath(const QString& canonicalRoot, const QByteArray& requestPath)
{
    if (!requestPath.startsWith('/'))
        return {ServedPath::Kind::forbidden, {}};
    for (const char c : requestPath)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f || c == '\\')
            return {ServedPath::Kind::forbidden, {}};
    const QString path = QString::fromUtf8(requestPath);
    QStringList segments;
    for (const QString& segment : path.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (segment == QLatin1String(".") || segment == QLatin1String(".."))
            return {ServedPath::Kind::forbidden, {}};
        // Hidden names include the tool's staging folders, which are not published yet.
        if (segment.startsWith(QLatin1Char('.')))
            return {ServedPath::Kind::notFound, {}};
        segments.append(segment);
    }
    if (segments.isEmpty())
        return {ServedPath::Kind::notFound, {}};
    const QFileInfo info(canonicalRoot + QLatin1Char('/') + segments.join(QLatin1Char('/')));
    const QString canonical = info.canonicalFilePath();
    if (canonical.isEmpty())
        return {ServedPath::Kind::notFound, {}};
    if (!canonical.startsWith(canonicalRoot + QLatin1Char('/')))
        return {ServedPath::Kind::forbidden, {}};
    if (!QFileInfo(canonical).isFile())
        return {ServedPath::Kind::notFound, {}};
    return {ServedPath::Kind::file, canonical};
}

struct StaticFileServer::Impl
{
    QString root;
    QString certificatePath;
    QString keyPath;
    Logger logger;
    std::unique_ptr<httplib::SSLServer> server;
    std::thread thread;
    std::atomic<bool> listening = false;
    QUrl url;

    void handle(const httplib::Request& request, httplib::Response& response) const;
};

void StaticFileServer::Impl::handle(const httplib::Request& request,
                                    httplib::Response& response) const
{
    const ServedPath served = resolveRequestPath(root, QByteArray::fromStdString(request.path));
    if (served.kind != ServedPath::Kind::file) {
        const bool forbidden = served.kind == ServedPath::Kind::forbidden;
        response.status = forbidden ? 403 : 404;
        response.set_content(forbidden ? "Forbidden\n" : "Not found\n", "text/plain");
        return;
    }
    const int fd = ::open(QFile::encodeName(served.filePath).constData(), O_RDONLY | O_CLOEXEC);
    struct stat status = {};
    if (fd < 0 || ::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        if (fd >= 0)
            ::close(fd);
        response.status = 404;
        response.set_content("Not found\n", "text/plain");
        return;
    }
    const auto file = std::make_shared<OpenFile>(fd);
    const qint64 size = status.st_size;

    // One range is answered with 206; several are answered with the whole file, which the
    // standard allows, rather than a multipart body no client of ours asks for.
    auto& ranges = const_cast<httplib::Request&>(request).ranges;
    if (ranges.size() > 1)
        ranges.clear();
    if (ranges.size() == 1) {
        const std::optional<httplib::Range> range = clampRange(ranges.front(), size);
        if (!range) {
            ranges.clear();
            response.status = 416;
            response.set_header("Content-Range", "bytes */" + std::to_string(size));
            response.set_content("Range not satisfiable\n", "text/plain");
            return;
        }
        ranges.front() = *range;
    }

    response.set_header("Accept-Ranges", "bytes");
    if (size == 0) {
        // A provider of no bytes would go out without a Content-Length, and clients would
        // wait for the connection to close.
        response.set_content("", contentType(served.filePath));
        return;
    }
    response.set_content_provider(
        static_cast<size_t>(size), contentType(served.filePath),
        [file, size](size_t offset, size_t length, httplib::DataSink& sink) {
            char block[64 * 1024];
            const size_t wanted = std::min(length, sizeof block);
            const ssize_t count = ::pread(file->fd, block, wanted, static_cast<off_t>(offset));
            // A file that shrank since it was opened ends the connection rather than
            // sending a body shorter than announced.
            if (count <= 0 || static_cast<qint64>(offset) + count > size)
                return false;
            return sink.write(block, static_cast<size_t>(count));
        });
}

StaticFileServer::StaticFileServer(QString root, QString certificatePath, QString keyPath,
                                   Logger logger)
    : m_impl(std::make_unique<Impl>())
{
    m_impl->root = std::move(root);
    m_impl->certificatePath = std::move(certificatePath);
    m_impl->keyPath = std::move(keyPath);
    m_impl->logger = std::move(logger);
}

StaticFileServer::~StaticFileServer()
{
    stop();
}

PackResult<int> StaticFileServer::start(const QString& host, int port)
{
    if (m_impl->server)
        return packFailure(QStringLiteral("The server runs already."));
    const QString canonicalRoot = QFileInfo(m_impl->root).canonicalFilePath();
    if (canonicalRoot.isEmpty() || !QFileInfo(canonicalRoot).isDir())
        return packFailure(QStringLiteral("The root folder %1 does not exist.").arg(m_impl->root));
    m_impl->root = canonicalRoot;
    for (const QString& path : {m_impl->certificatePath, m_impl->keyPath})
        if (!QFileInfo(path).isReadable())
            return packFailure(QStringLiteral("Cannot read %1.").arg(path));
    if (port < 0 || port > 65535)
        return packFailure(QStringLiteral("%1 is not a port number.").arg(port));

    auto server =
        std::make_unique<httplib::SSLServer>(QFile::encodeName(m_impl->certificatePath).constData(),
                                             QFile::encodeName(m_impl->keyPath).constData());
    if (!server->is_valid())
        return packFailure(QStringLiteral("Cannot use the certificate %1 with the key %2.")
                               .arg(m_impl->certificatePath, m_impl->keyPath));
    Impl* impl = m_impl.get();
    server->Get(".*", [impl](const httplib::Request& request, httplib::Response& response) {
        impl->handle(request, response);
    });
    if (m_impl->logger)
        server->set_logger(
            [impl](const httplib::Request& request, const httplib::Response& response) {
                impl->logger(QStringLiteral("%1 %2 %3")
                                 .arg(printable(request.method), printable(request.path))
                                 .arg(response.status));
            });
    server->set_keep_alive_timeout(5);
    // httplib's default also sets SO_REUSEPORT, which would let a second server share a
    // port that is in use instead of failing.
    server->set_socket_options([](socket_t socket) {
        const int yes = 1;
        ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });

    const std::string address = host.toStdString();
    int bound = port;
    if (port == 0)
        bound = server->bind_to_any_port(address);
    else if (!server->bind_to_port(address, port))
        bound = -1;
    if (bound <= 0)
        return packFailure(QStringLiteral("Cannot listen on %1 port %2 (in use, or not an address "
                                          "of this machine).")
                               .arg(host)
                               .arg(port));

    m_impl->server = std::move(server);
    m_impl->listening = true;
    m_impl->thread = std::thread([impl] {
        impl->server->listen_after_bind();
        impl->listening = false;
    });
    // stop() only takes effect on a server that listens already.
    while (m_impl->listening && !m_impl->server->is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));

    QUrl url;
    url.setScheme(QStringLiteral("https"));
    url.setHost(host);
    url.setPort(bound);
    url.setPath(QStringLiteral("/"));
    m_impl->url = url;
    return bound;
}

bool StaticFileServer::isRunning() const
{
    return m_impl->listening;
}

void StaticFileServer::stop()
{
    if (!m_impl->server)
        return;
    m_impl->server->stop();
    if (m_impl->thread.joinable())
        m_impl->thread.join();
    m_impl->server.reset();
    m_impl->listening = false;
}

QUrl StaticFileServer::url() const
{
    return m_impl->url;
}

} // namespace calmcove
