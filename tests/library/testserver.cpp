#include "testserver.h"

#include <httplib.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace calmcove::test {

namespace {

void runOpenSsl(const QString& directory, const QStringList& arguments)
{
    QProcess openssl;
    openssl.setWorkingDirectory(directory);
    openssl.start(QStringLiteral("openssl"), arguments);
    if (!openssl.waitForFinished(30000) || openssl.exitStatus() != QProcess::NormalExit ||
        openssl.exitCode() != 0)
        throw std::runtime_error("openssl failed: " + openssl.readAllStandardError().toStdString());
}

TestCertificates makeCertificates()
{
    static QTemporaryDir folder(QDir::tempPath() + QStringLiteral("/calmcove-test-ca-XXXXXX"));
    const QString dir = folder.path();
    const QStringList ecKey = {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                               "-nodes"};
    runOpenSsl(dir, QStringList{"req", "-x509", "-new"} + ecKey +
                        QStringList{"-keyout", "ca.key", "-out", "ca.pem", "-days", "2", "-subj",
                                    "/CN=Calmcove Test CA", "-addext",
                                    "basicConstraints=critical,CA:TRUE", "-addext",
                                    "keyUsage=critical,keyCertSign,cRLSign"});
    runOpenSsl(dir, QStringList{"req", "-new"} + ecKey +
                        QStringList{"-keyout", "server.key", "-out", "server.csr", "-subj",
                                    "/CN=127.0.0.1"});
    QFile extensions(dir + QStringLiteral("/server.ext"));
    if (!extensions.open(QIODevice::WriteOnly))
        throw std::runtime_error("cannot write server.ext");
    extensions.write("subjectAltName=IP:127.0.0.1,DNS:localhost\n"
                     "basicConstraints=CA:FALSE\n"
                     "keyUsage=critical,digitalSignature\n"
                     "extendedKeyUsage=serverAuth\n");
    extensions.close();
    runOpenSsl(dir,
               {"x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key",
                "-CAcreateserial", "-out", "server.pem", "-days", "2", "-extfile", "server.ext"});
    return {dir + QStringLiteral("/ca.pem"), dir + QStringLiteral("/server.pem"),
            dir + QStringLiteral("/server.key")};
}

} // namespace

const TestCertificates& TestCertificates::shared()
{
    static const TestCertificates certificates = makeCertificates();
    return certificates;
}

TestServer::Response TestServer::json(const std::string& body, int status)
{
    Response response;
    response.status = status;
    response.body = body;
    response.contentType = "application/json";
    return response;
}

TestServer::Response TestServer::status(int code,
                                        std::vector<std::pair<std::string, std::string>> headers)
{
    Response response;
    response.status = code;
    response.body = "status " + std::to_string(code);
    response.contentType = "text/plain";
    response.headers = std::move(headers);
    return response;
}

TestServer::TestServer()
{
    const TestCertificates& certificates = TestCertificates::shared();
    m_server = std::make_unique<httplib::SSLServer>(
        QFile::encodeName(certificates.certificateFile).constData(),
        QFile::encodeName(certificates.keyFile).constData());
    if (!m_server->is_valid())
        throw std::runtime_error("the test server's TLS set-up failed");

    m_server->Get(".*", [this](const httplib::Request& request, httplib::Response& reply) {
        Response response;
        {
            std::lock_guard lock(m_mutex);
            m_requests.push_back({request.method, request.path,
                                  request.get_header_value("User-Agent"),
                                  request.get_header_value("Accept")});
            auto route = m_routes.find(request.path);
            if (route == m_routes.end()) {
                response = status(404);
            } else {
                Route& r = route->second;
                response = r.responses[std::min(r.next, r.responses.size() - 1)];
                ++r.next;
            }
        }
        for (auto waited = std::chrono::milliseconds(0); waited < response.delay && !m_stopping;
             waited += std::chrono::milliseconds(10))
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        reply.status = response.status;
        for (const auto& [name, value] : response.headers)
            reply.set_header(name, value);
        if (response.cutAfter) {
            const auto body = std::make_shared<std::string>(response.body);
            const size_t cut = std::min(*response.cutAfter, body->size());
            reply.set_content_provider(body->size(), response.contentType,
                                       [body, cut](size_t offset, size_t, httplib::DataSink& sink) {
                                           if (offset < cut)
                                               sink.write(body->data() + offset, cut - offset);
                                           return false; // drop the connection
                                       });
        } else {
            reply.set_content(response.body, response.contentType);
        }
    });

    m_port = m_server->bind_to_any_port("127.0.0.1");
    if (m_port <= 0)
        throw std::runtime_error("the test server cannot bind");
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    while (!m_server->is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TestServer::~TestServer()
{
    m_stopping = true;
    m_server->stop();
    m_thread.join();
}

QUrl TestServer::url(const QString& path) const
{
    return QUrl(QStringLiteral("https://127.0.0.1:%1%2").arg(m_port).arg(path));
}

void TestServer::script(const std::string& path, std::vector<Response> responses)
{
    std::lock_guard lock(m_mutex);
    m_routes[path] = Route{std::move(responses), 0};
}

int TestServer::requestCount(const std::string& path) const
{
    std::lock_guard lock(m_mutex);
    return int(std::count_if(m_requests.begin(), m_requests.end(),
                             [&](const Request& r) { return r.path == path; }));
}

std::vector<TestServer::Request> TestServer::requests() const
{
    std::lock_guard lock(m_mutex);
    return m_requests;
}

void TestServer::clearRequests()
{
    std::lock_guard lock(m_mutex);
    m_requests.clear();
}

} // namespace calmcove::test
