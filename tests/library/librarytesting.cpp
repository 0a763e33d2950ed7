#include "librarytesting.h"

#include <QCryptographicHash>
#include <QDir>
#include <QRandomGenerator>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

namespace calmcove::test {

void ManualClock::schedule(std::chrono::nanoseconds delay, QObject* context,
                           std::function<void()> callback)
{
    if (onSchedule)
        onSchedule(delay);
    m_delays.append(double(delay.count()) / 1e9);
    m_now = m_now.addMSecs(std::chrono::duration_cast<std::chrono::milliseconds>(delay).count());
    if (park && park(delay)) {
        m_parked.append(Parked{context, std::move(callback)});
        return;
    }
    QTimer::singleShot(0, context, std::move(callback));
}

void ManualClock::releaseParked()
{
    const QList<Parked> parked = std::exchange(m_parked, {});
    for (const Parked& entry : parked) {
        if (entry.context)
            QTimer::singleShot(0, entry.context.data(), entry.callback);
    }
}

TestPack TestPack::make(TestServer& server, const QString& version, const QStringList& ids,
                        int size, int seed, const QString& minimumAppVersion)
{
    TestPack pack;
    pack.version = version;
    pack.manifest.version = version;
    pack.manifest.minimumAppVersion = minimumAppVersion;
    pack.manifest.generatedAt = QStringLiteral("2024-06-01T12:00:00Z");
    for (const QString& id : ids) {
        QByteArray bytes(size, Qt::Uninitialized);
        QRandomGenerator generator(quint32(qHash(id) ^ uint(seed)));
        for (char& byte : bytes)
            byte = char(generator.bounded(256));
        const QString fileName = id + QStringLiteral(".m4a");
        pack.contents.insert(fileName, bytes);
        AudioPackTrack track;
        track.id = id;
        track.fileName = fileName;
        track.byteCount = bytes.size();
        track.sha256 = sha256Hex(bytes);
        track.downloadURL = server.url(QString::fromStdString(pack.trackPath(fileName)));
        pack.manifest.tracks.append(track);
        pack.manifest.totalBytes += bytes.size();
    }
    pack.manifest.trackCount = pack.manifest.tracks.size();
    return pack;
}

std::string TestPack::manifestPath() const
{
    return "/packs/" + version.toStdString() + "/manifest.json";
}

std::string TestPack::trackPath(const QString& fileName) const
{
    return "/packs/" + version.toStdString() + "/" + fileName.toStdString();
}

void TestPack::publish(TestServer& server) const
{
    server.serve(manifestPath(), TestServer::json(manifestJSON().toStdString()));
    for (auto it = contents.cbegin(); it != contents.cend(); ++it) {
        TestServer::Response response;
        response.body = it.value().toStdString();
        response.contentType = "audio/mp4";
        server.serve(trackPath(it.key()), response);
    }
}

std::string indexJSON(TestServer& server, const QList<TestPack>& packs)
{
    std::string json = R"({"generatedAt": "2024-06-01T12:00:00Z", "packs": [)";
    for (qsizetype i = 0; i < packs.size(); ++i) {
        const AudioPackManifest& m = packs[i].manifest;
        json +=
            (i ? "," : "") + std::string(R"({"version": ")") + m.version.toStdString() +
            R"(", "minimumAppVersion": ")" + m.minimumAppVersion.toStdString() +
            R"(", "manifestURL": ")" +
            server.url(QString::fromStdString(packs[i].manifestPath())).toString().toStdString() +
            R"(", "trackCount": )" + std::to_string(m.trackCount) + R"(, "totalBytes": )" +
            std::to_string(m.totalBytes) + "}";
    }
    return json + "]}";
}

LibraryHarness::LibraryHarness()
    : folder(QDir::tempPath() + QStringLiteral("/calmcove-library-XXXXXX")),
      defaults(std::make_unique<UserDefaults>(folder.path() + QStringLiteral("/settings.conf")))
{
    defaults->setValue(AudioPackClient::caCertificatesFileKey, TestCertificates::shared().caFile);
    // Short time-outs keep the slow-server tests short; the real values are minutes.
    timeouts.documentRequest = std::chrono::milliseconds(1500);
    timeouts.trackRequest = std::chrono::milliseconds(1500);
    timeouts.resource = std::chrono::milliseconds(20000);
    QDir().mkpath(starterDirectory());
}

LibraryHarness::~LibraryHarness() = default;

void LibraryHarness::useManifest(const TestPack& pack)
{
    defaults->remove(AudioPackClient::indexURLKey);
    defaults->setValue(AudioPackClient::manifestURLKey,
                       server.url(QString::fromStdString(pack.manifestPath())).toString());
}

std::unique_ptr<AudioPackStore> LibraryHarness::makeStore()
{
    auto networkMonitor = std::make_unique<TestNetworkMonitor>();
    monitor = networkMonitor.get();
    AudioPackStoreOptions options;
    options.packsRoot = packsRoot();
    options.starterDirectory = starterDirectory();
    options.networkMonitor = std::move(networkMonitor);
    options.clock = clock;
    options.buildInfo = buildInfo;
    options.timeouts = timeouts;
    return std::make_unique<AudioPackStore>(*defaults, std::move(options));
}

QStringList LibraryHarness::leftoverDownloads() const
{
    return QDir(QDir::tempPath())
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

void failStuckTask()
{
    std::fputs("A library task did not finish within a minute.\n", stderr);
    std::abort();
}

QString sha256Hex(const QByteArray& data)
{
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Sha256).toHex());
}

} // namespace calmcove::test
