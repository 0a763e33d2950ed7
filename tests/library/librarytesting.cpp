#include "librarytesting.h"

#include "platform/apppaths.h"

#include <httplib.h>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace calmcove::test {

const TestCertificates& TestCertificates::shared()
{
    static const TestCertificates certificates = [] {
        static QTemporaryDir folder(QDir::tempPath() + QStringLiteral("/calmcove-test-ca-XXXXXX"));
        QProcess shell;
        shell.setWorkingDirectory(folder.path());
        shell.start(QStringLiteral("sh"), {QStringLiteral("-ec"), QStringLiteral(R"(
            key="-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes"
            openssl req -x509 -new $key -keyout ca.key -out ca.pem -days 2 \
                -subj "/CN=Calmcove Test CA" -addext basicConstraints=critical,CA:TRUE \
                -addext keyUsage=critical,keyCertSign,cRLSign
            openssl req -new $key -keyout server.key -out server.csr -subj /CN=127.0.0.1
            printf '%s\n' subjectAltName=IP:127.0.0.1,DNS:localhost basicConstraints=CA:FALSE \
                keyUsage=critical,digitalSignature extendedKeyUsage=serverAuth > server.ext
            openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial \
                -out server.pem -days 2 -extfile server.ext)")});
        if (!shell.waitForFinished(30000) || shell.exitStatus() != QProcess::NormalExit ||
            shell.exitCode() != 0)
            throw std::runtime_error("openssl failed: " +
                                     shell.readAllStandardError().toStdString());
        return TestCertificates{folder.filePath("ca.pem"), folder.filePath("server.pem"),
                                folder.filePath("server.key")};
    }();
    return certificates;
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
        Response response = status(404);
        {
            std::lock_guard lock(m_mutex);
            m_requests.push_back({request.path, request.get_header_value("User-Agent"),
                                  request.get_header_value("Accept")});
            if (auto route = m_routes.find(request.path); route != m_routes.end()) {
                auto& [responses, next] = route->second;
                response = responses[std::min(next++, responses.size() - 1)];
            }
        }
        // In steps, so that stopping is not held up.
        for (auto waited = std::chrono::milliseconds(0); waited < response.delay && !m_stopping;
             waited += std::chrono::milliseconds(10))
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        reply.status = response.status;
        for (const auto& [name, value] : response.headers)
            reply.set_header(name, value);
        if (!response.cutAfter)
            return reply.set_content(response.body, response.contentType);
        const auto body = std::make_shared<std::string>(response.body);
        const size_t cut = std::min(*response.cutAfter, body->size());
        reply.set_content_provider(body->size(), response.contentType,
                                   [body, cut](size_t offset, size_t, httplib::DataSink& sink) {
                                       if (offset < cut)
                                           sink.write(body->data() + offset, cut - offset);
                                       return false; // drop the connection
                                   });
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
    m_routes[path] = {std::move(responses), 0};
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

void ManualClock::schedule(std::chrono::nanoseconds delay, QObject* context,
                           std::function<void()> callback)
{
    if (onSchedule)
        onSchedule(delay);
    m_delays.append(double(delay.count()) / 1e9);
    m_now = m_now.addMSecs(std::chrono::duration_cast<std::chrono::milliseconds>(delay).count());
    if (park && park(delay))
        m_parked.append({context, std::move(callback)});
    else
        QTimer::singleShot(0, context, std::move(callback));
}

void ManualClock::releaseParked()
{
    for (const auto& [context, callback] : std::exchange(m_parked, {}))
        if (context)
            QTimer::singleShot(0, context.data(), callback);
}

TestPack TestPack::make(TestServer& server, const QString& version, const QStringList& ids,
                        int size, int seed, const QString& minimumAppVersion)
{
    TestPack pack;
    pack.version = pack.manifest.version = version;
    pack.manifest.minimumAppVersion = minimumAppVersion;
    pack.manifest.generatedAt = QStringLiteral("2024-06-01T12:00:00Z");
    for (const QString& id : ids) {
        QByteArray bytes(size, Qt::Uninitialized);
        QRandomGenerator generator(quint32(qHash(id) ^ uint(seed)));
        for (char& byte : bytes)
            byte = char(generator.bounded(256));
        const QString fileName = id + QStringLiteral(".m4a");
        pack.contents.insert(fileName, bytes);
        const QUrl url = server.url(QString::fromStdString(pack.trackPath(fileName)));
        AudioPackTrack& track = pack.manifest.tracks.emplace_back();
        track.id = id;
        track.fileName = fileName;
        track.byteCount = bytes.size();
        track.sha256 = sha256Hex(bytes);
        track.downloadURL = url;
        pack.manifest.totalBytes += bytes.size();
    }
    pack.manifest.trackCount = pack.manifest.tracks.size();
    return pack;
}

void TestPack::publish(TestServer& server) const
{
    server.serve(manifestPath(), TestServer::json(manifestJSON().toStdString()));
    for (const auto& [name, bytes] : contents.asKeyValueRange())
        server.serve(trackPath(name), {bytes.toStdString(), "audio/mp4"});
}

std::string indexJSON(TestServer& server, const QList<TestPack>& packs)
{
    std::string json = R"({"generatedAt": "2024-06-01T12:00:00Z", "packs": [)";
    for (const TestPack& pack : packs) {
        const AudioPackManifest& m = pack.manifest;
        const QUrl url = server.url(QString::fromStdString(pack.manifestPath()));
        json += (&pack == &packs.first() ? "{" : ",{") + std::string(R"("version": ")") +
                m.version.toStdString() + R"(", "minimumAppVersion": ")" +
                m.minimumAppVersion.toStdString() + R"(", "manifestURL": ")" +
                url.toString().toStdString() + R"(", "trackCount": )" +
                std::to_string(m.trackCount) + R"(, "totalBytes": )" + std::to_string(m.totalBytes);
        if (!pack.publishedAt.isEmpty())
            json += R"(, "publishedAt": ")" + pack.publishedAt.toStdString() + "\"";
        json += "}";
    }
    return json + "]}";
}

LibraryHarness::LibraryHarness()
    : folder(QDir::tempPath() + QStringLiteral("/calmcove-library-XXXXXX")),
      defaults(std::make_unique<UserDefaults>(folder.path() + QStringLiteral("/settings.conf")))
{
    defaults->setValue(AudioPackClient::caCertificatesFileKey, TestCertificates::shared().caFile);
    // Short time-outs keep the slow-server tests short; the real values are minutes.
    timeouts = {std::chrono::milliseconds(1500), std::chrono::milliseconds(1500),
                std::chrono::milliseconds(20000)};
    QDir().mkpath(starterDirectory());
}

LibraryHarness::~LibraryHarness() = default;

void LibraryHarness::useManifest(const TestPack& pack)
{
    defaults->remove(AudioPackClient::indexURLKey);
    defaults->setValue(AudioPackClient::manifestURLKey,
                       server.url(QString::fromStdString(pack.manifestPath())).toString());
}

std::unique_ptr<AudioPackStore> LibraryHarness::makeStore(Launch launch)
{
    monitors.push_back(std::make_unique<TestNetworkMonitor>());
    monitor = monitors.back().get();
    AudioPackStoreOptions options{packsRoot(), starterDirectory(), monitor,
                                  clock,       buildInfo,          timeouts};
    auto store = std::make_unique<AudioPackStore>(*defaults, std::move(options));
    if (launch == Launch::settled)
        runUntilOrAbort([&] { return !store->verifyingInstalledFiles(); });
    return store;
}

void LibraryHarness::install(const TestPack& pack)
{
    pack.publish(server);
    useManifest(pack);
    auto store = makeStore();
    await(store->installLatestPackIfNeeded(false));
    if (store->status() != AudioPackStatus::ready(pack.version))
        throw std::runtime_error("the pack did not install");
    server.clearRequests();
}

QStringList LibraryHarness::leftoverDownloads()
{
    return QDir(AppPaths::temporaryDirectory())
        .entryList({QStringLiteral("Calmcove-AudioPack-*.download")}, QDir::Files);
}

bool runUntil(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

void runUntilOrAbort(const std::function<bool()>& done)
{
    if (runUntil(done, 60000))
        return;
    std::fputs("A library task did not finish within a minute.\n", stderr);
    std::abort();
}

QString sha256Hex(const QByteArray& data)
{
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex());
}

} // namespace calmcove::test
