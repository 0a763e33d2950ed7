// The library server client against a real HTTPS server on loopback: addresses, headers,
// the retry policy, the pack choice with its fallbacks, and streamed track downloads.

#include "librarytesting.h"

#include "support/loopback.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace calmcove {
namespace {

using test::TestPack;
using test::TestServer;

class ClientTest : public ::testing::Test
{
protected:
    AudioPackClient& client()
    {
        if (!m_client)
            m_client = std::make_unique<AudioPackClient>(
                *h.defaults, h.buildInfo, *h.clock, cancellation, [this] { return online; },
                h.timeouts);
        return *m_client;
    }
    template <typename T> Result<T> run(QCoro::Task<Result<T>>&& task)
    {
        return test::await(std::move(task));
    }
    static AudioPackError packError(const LibraryError& error)
    {
        const auto* e = std::get_if<AudioPackError>(&error);
        return e ? *e : AudioPackError::invalidManifest("<not an AudioPackError>");
    }

    test::LibraryHarness h;
    Cancellation cancellation;
    bool online = true;
    std::unique_ptr<AudioPackClient> m_client;
};

TEST_F(ClientTest, AddressesComeFromSettingsThenBuildConfiguration)
{
    h.buildInfo.audioPackIndexURL = "https://build.example/index.json";
    EXPECT_EQ(client().audioPackIndexURL(), QUrl("https://build.example/index.json"));
    for (const char* ignored : {"   ", "", "http://bad host/ x"}) {
        h.setSetting(AudioPackClient::indexURLKey, ignored);
        EXPECT_EQ(client().audioPackIndexURL(), QUrl("https://build.example/index.json"))
            << ignored;
    }
    h.setSetting(AudioPackClient::indexURLKey, "  https://settings.example/index.json \n");
    EXPECT_EQ(client().audioPackIndexURL(), QUrl("https://settings.example/index.json"));

    EXPECT_FALSE(client().manifestURLIsConfigured());
    const Result<QUrl> missing = client().manifestURL();
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(errorDescription(missing.error()), "No audio library URL is configured.");
    h.defaults->setOverride(AudioPackClient::manifestURLKey, "https://override.example/m.json");
    EXPECT_EQ(client().manifestURL().value(), QUrl("https://override.example/m.json"));
}

TEST_F(ClientTest, ResponseStatusAndRetryAfter)
{
    struct Case
    {
        int status;
        const char* retryAfter;
        std::optional<AudioPackError> expected;
    };
    const Case cases[] = {
        {200, "", std::nullopt},
        {299, "", std::nullopt},
        {0, "", std::nullopt},
        {404, "", AudioPackError::httpStatus(404)},
        {503, "120", AudioPackError::httpStatus(503, 120.0)},
        {503, "1.5", AudioPackError::httpStatus(503, 1.5)},
        {429, "0", AudioPackError::httpStatus(429, 0.0)},
        {503, "Wed, 21 Oct 2015 07:28:00 GMT", AudioPackError::httpStatus(503)},
        {503, "soon", AudioPackError::httpStatus(503)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(AudioPackClient::validateHTTPResponse(c.status, c.retryAfter), c.expected)
            << c.status << " " << c.retryAfter;
    EXPECT_EQ(AudioPackError::httpStatus(503).errorDescription(),
              "The audio library server returned HTTP 503.");
}

TEST_F(ClientTest, RetryPolicyDecidesWhichErrorsWaitAndHowLong)
{
    const LibraryError refused = NetworkError{QNetworkReply::ConnectionRefusedError, "refused"};
    const auto seconds = [&](const LibraryError& error, int attempt) -> std::optional<double> {
        const auto delay = client().retryDelay(error, attempt, 4);
        if (!delay)
            return std::nullopt;
        return double(delay->count()) / 1e9;
    };
    for (int code : {408, 429, 500, 502, 503, 504}) {
        const auto first = seconds(AudioPackError::httpStatus(code), 1);
        ASSERT_TRUE(first) << code;
        EXPECT_GE(*first, 1.0);
        EXPECT_LE(*first, 1.35);
    }
    for (int code : {400, 401, 403, 404, 410, 501})
        EXPECT_FALSE(seconds(AudioPackError::httpStatus(code), 1)) << code;
    EXPECT_GE(*seconds(refused, 2), 2.0);
    EXPECT_LE(*seconds(refused, 3), 4.35);
    EXPECT_FALSE(seconds(refused, 4)) << "the last attempt ends the operation";
    EXPECT_EQ(seconds(AudioPackError::httpStatus(503, 120.0), 1), 30.0);
    EXPECT_EQ(seconds(AudioPackError::httpStatus(503, 2.5), 3), 2.5);
    EXPECT_LE(*seconds(AudioPackError::httpStatus(503, 0.0), 1), 1.35) << "0 falls back";
    EXPECT_FALSE(seconds(DecodingError{"bad"}, 1));
    EXPECT_FALSE(seconds(AudioPackError::invalidManifest("x"), 1));
    EXPECT_FALSE(seconds(NetworkError{QNetworkReply::SslHandshakeFailedError, "tls"}, 1));
    EXPECT_FALSE(seconds(FileError{"disk"}, 1));
    EXPECT_EQ(client().retryDelay(refused, 1, 0), std::nullopt) << "at least one attempt";

    online = false;
    EXPECT_FALSE(seconds(refused, 1)) << "offline: no retries for connectivity errors";
    EXPECT_TRUE(seconds(AudioPackError::httpStatus(503), 1));
}

TEST_F(ClientTest, NotFoundIsReportedAfterOneRequest)
{
    h.server.serve("/index.json", TestServer::status(404));
    const auto index = run(client().fetchIndex(h.server.url("/index.json")));
    ASSERT_FALSE(index.ok());
    EXPECT_EQ(packError(index.error()), AudioPackError::httpStatus(404));
    EXPECT_EQ(h.server.requestCount("/index.json"), 1);
    EXPECT_TRUE(h.clock->delays().isEmpty());
}

TEST_F(ClientTest, ServiceUnavailableIsRetriedWithBackoffOrRetryAfter)
{
    h.server.serve("/m.json", TestServer::status(503));
    const auto first = run(client().fetchManifest(h.server.url("/m.json")));
    ASSERT_FALSE(first.ok());
    EXPECT_EQ(packError(first.error()).statusCode, 503);
    EXPECT_EQ(h.server.requestCount("/m.json"), 4);
    ASSERT_EQ(h.clock->delays().size(), 3);
    const double expected[] = {1, 2, 4};
    for (int i = 0; i < 3; ++i) {
        EXPECT_GE(h.clock->delays()[i], expected[i]);
        EXPECT_LE(h.clock->delays()[i], expected[i] + 0.35);
    }

    h.clock->clearDelays();
    h.server.clearRequests();
    h.server.serve("/m.json", TestServer::status(503, {{"Retry-After", "120"}}));
    QElapsedTimer elapsed;
    elapsed.start();
    const auto second = run(client().fetchManifest(h.server.url("/m.json")));
    EXPECT_EQ(packError(second.error()).retryAfter, 120.0);
    EXPECT_EQ(h.clock->delays(), QList<double>({30, 30, 30}));
    EXPECT_LT(elapsed.elapsed(), 5000) << "the injected clock makes the waits free";
}

TEST_F(ClientTest, RecoversWhenTheServerComesBack)
{
    const TestPack pack = TestPack::make(h.server, "7", {"a", "b"});
    h.server.script(pack.manifestPath(), {TestServer::status(502), TestServer::status(429),
                                          TestServer::json(pack.manifestJSON().toStdString())});
    const auto manifest =
        run(client().fetchManifest(h.server.url(QString::fromStdString(pack.manifestPath()))));
    ASSERT_TRUE(manifest.ok()) << errorDescription(manifest.error()).toStdString();
    EXPECT_EQ(*manifest, pack.manifest);
    EXPECT_EQ(h.server.requestCount(pack.manifestPath()), 3);

    const auto requests = h.server.requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests[0].userAgent, "Calmcove/1.0");
    EXPECT_EQ(requests[0].accept, "application/json");
}

TEST_F(ClientTest, InvalidDocumentsAreNotRetried)
{
    const TestPack pack = TestPack::make(h.server, "7", {"a"});
    AudioPackManifest wrongCount = pack.manifest;
    wrongCount.trackCount = 2;
    h.server.serve("/count.json",
                   TestServer::json(encodeAudioPackManifest(wrongCount).toStdString()));
    h.server.serve("/broken.json", TestServer::json("{\"version\": "));
    const auto invalid = run(client().fetchManifest(h.server.url("/count.json")));
    EXPECT_EQ(errorDescription(invalid.error()), "The audio pack track count is incorrect.");
    const auto broken = run(client().fetchManifest(h.server.url("/broken.json")));
    EXPECT_TRUE(std::holds_alternative<DecodingError>(broken.error()));
    EXPECT_EQ(h.server.requestCount("/count.json"), 1);
    EXPECT_EQ(h.server.requestCount("/broken.json"), 1);
}

TEST_F(ClientTest, ConnectivityErrorWhileOfflineEndsAtOnce)
{
    const QUrl dead(QStringLiteral("https://127.0.0.1:%1/index.json").arg(test::closedLoopbackPort()));
    online = false;
    const auto offline = run(client().fetchIndex(dead));
    ASSERT_FALSE(offline.ok());
    EXPECT_TRUE(isConnectivityError(offline.error()));
    EXPECT_TRUE(h.clock->delays().isEmpty());

    online = true;
    const auto retried = run(client().fetchIndex(dead));
    EXPECT_TRUE(isConnectivityError(retried.error()));
    EXPECT_EQ(h.clock->delays().size(), 3);
}

TEST_F(ClientTest, UntrustedServerFailsWithoutRetrying)
{
    h.defaults->remove(AudioPackClient::caCertificatesFileKey);
    h.server.serve("/m.json", TestServer::json("{}"));
    const auto result = run(client().fetchManifest(h.server.url("/m.json")));
    ASSERT_FALSE(result.ok());
    EXPECT_FALSE(isConnectivityError(result.error()));
    EXPECT_TRUE(std::holds_alternative<NetworkError>(result.error()));
    EXPECT_EQ(h.server.requestCount("/m.json"), 0);
    EXPECT_TRUE(h.clock->delays().isEmpty());
}

TEST_F(ClientTest, PackChoiceTakesTheNewestCompatibleVersion)
{
    h.buildInfo.version = "1.9";
    const TestPack old = TestPack::make(h.server, "1.9", {"a"}, 100, 1, "1.0");
    const TestPack newest = TestPack::make(h.server, "1.10", {"a"}, 100, 2, "1.9.0");
    const TestPack tooNew = TestPack::make(h.server, "2.0", {"a"}, 100, 3, "1.10");
    for (const TestPack* pack : {&old, &newest, &tooNew})
        pack->publish(h.server);
    h.server.serve("/index.json",
                   TestServer::json(test::indexJSON(h.server, {old, tooNew, newest})));
    h.setSetting(AudioPackClient::indexURLKey, h.server.url("/index.json").toString());

    const auto chosen = run(client().fetchLatestCompatibleManifest());
    ASSERT_TRUE(chosen.ok()) << errorDescription(chosen.error()).toStdString();
    EXPECT_EQ(chosen->version, "1.10");
    EXPECT_EQ(h.server.requestCount(tooNew.manifestPath()), 0);
}

TEST_F(ClientTest, EqualVersionsAreOrderedByPublicationDate)
{
    const TestPack a = TestPack::make(h.server, "3.0", {"a"}, 100, 1);
    const TestPack b = TestPack::make(h.server, "3.00", {"b"}, 100, 2);
    const TestPack c = TestPack::make(h.server, "3.000", {"c"}, 100, 3);
    for (const TestPack* pack : {&a, &b, &c})
        pack->publish(h.server);
    const auto entry = [&](const TestPack& pack, const char* published) {
        std::string json =
            R"({"version": ")" + pack.version.toStdString() +
            R"(", "minimumAppVersion": "1", "manifestURL": ")" +
            h.server.url(QString::fromStdString(pack.manifestPath())).toString().toStdString() +
            R"(", "trackCount": 1, "totalBytes": 100)";
        if (published)
            json += std::string(R"(, "publishedAt": ")") + published + "\"";
        return json + "}";
    };
    h.server.serve("/index.json",
                   TestServer::json(R"({"packs": [)" + entry(a, nullptr) + "," +
                                    entry(b, "2024-05-01") + "," + entry(c, "2024-06-01") + "]}"));
    h.setSetting(AudioPackClient::indexURLKey, h.server.url("/index.json").toString());
    const auto chosen = run(client().fetchLatestCompatibleManifest());
    ASSERT_TRUE(chosen.ok()) << errorDescription(chosen.error()).toStdString();
    EXPECT_EQ(chosen->version, "3.000");

    h.server.serve("/index.json", TestServer::json(R"({"packs": [)" + entry(a, nullptr) + "," +
                                                   entry(b, "2024-05-01") + "]}"));
    EXPECT_EQ(run(client().fetchLatestCompatibleManifest())->version, "3.00")
        << "an entry without publishedAt loses";
}

TEST_F(ClientTest, FallsBackToTheManifestURL)
{
    const TestPack fallback = TestPack::make(h.server, "5", {"a"});
    fallback.publish(h.server);
    const TestPack tooNew = TestPack::make(h.server, "6", {"a"}, 100, 2, "99");
    tooNew.publish(h.server);
    const QString indexURL = h.server.url("/index.json").toString();
    h.setSetting(AudioPackClient::indexURLKey, indexURL);

    struct Case
    {
        const char* name;
        TestServer::Response index;
        bool manifestConfigured;
        QString expected; // a version, or an error description
    };
    const Case cases[] = {
        {"all packs too new", TestServer::json(test::indexJSON(h.server, {tooNew})), true, "5"},
        {"all packs too new, nothing else", TestServer::json(test::indexJSON(h.server, {tooNew})),
         false, "No audio library URL is configured."},
        {"index does not decode", TestServer::json("[1, 2"), true, "5"},
        {"index missing", TestServer::status(404), false,
         "The audio library server returned HTTP 404."},
        {"index empty", TestServer::json(R"({"packs": []})"), true, "5"},
    };
    for (const Case& c : cases) {
        h.server.serve("/index.json", c.index);
        if (c.manifestConfigured)
            h.useManifest(fallback);
        else
            h.defaults->remove(AudioPackClient::manifestURLKey);
        h.setSetting(AudioPackClient::indexURLKey, indexURL);
        const auto result = run(client().fetchLatestCompatibleManifest());
        EXPECT_EQ(result.ok() ? result->version : errorDescription(result.error()), c.expected)
            << c.name;
    }

    // The chosen pack's manifest fails: the manifest URL stands in; a fallback manifest
    // that is too new fails with the version gate.
    const TestPack chosen = TestPack::make(h.server, "7", {"a"});
    h.server.serve("/index.json", TestServer::json(test::indexJSON(h.server, {chosen})));
    h.server.serve(chosen.manifestPath(), TestServer::status(410));
    h.useManifest(fallback);
    h.setSetting(AudioPackClient::indexURLKey, indexURL);
    EXPECT_EQ(run(client().fetchLatestCompatibleManifest())->version, "5");
    h.useManifest(tooNew);
    h.setSetting(AudioPackClient::indexURLKey, indexURL);
    EXPECT_EQ(errorDescription(run(client().fetchLatestCompatibleManifest()).error()),
              "Update Calmcove to version 99 or newer to install this track library.");
}

TEST_F(ClientTest, DownloadStreamsIntoATemporaryFileAndHashesOnTheWay)
{
    const TestPack pack = TestPack::make(h.server, "1", {"track-one"}, 300000);
    pack.publish(h.server);
    const AudioPackTrack& track = pack.manifest.tracks[0];
    const auto file = run(client().download(track));
    ASSERT_TRUE(file.ok()) << errorDescription(file.error()).toStdString();
    EXPECT_TRUE(QRegularExpression("^Calmcove-AudioPack-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-"
                                   "[0-9A-F]{4}-[0-9A-F]{12}\\.download$")
                    .match(QFileInfo(file->path).fileName())
                    .hasMatch())
        << file->path.toStdString();
    EXPECT_EQ(QFileInfo(file->path).absolutePath(), QFileInfo(QDir::tempPath()).absoluteFilePath());
    EXPECT_EQ(file->size, 300000);
    EXPECT_EQ(file->sha256, track.sha256);
    QFile written(file->path);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(written.readAll(), pack.contents.first());
    QFile::remove(file->path);
    const auto requests = h.server.requests();
    EXPECT_EQ(requests.back().accept, "*/*");
}

TEST_F(ClientTest, OversizedBodyIsStoppedAsAnInvalidFile)
{
    const TestPack pack = TestPack::make(h.server, "1", {"big"}, 1000);
    TestServer::Response huge;
    huge.body = std::string(4 * 1024 * 1024, 'x');
    h.server.serve(pack.trackPath("big.m4a"), huge);
    const auto file = run(client().download(pack.manifest.tracks[0]));
    ASSERT_FALSE(file.ok());
    EXPECT_EQ(errorDescription(file.error()), "big.m4a did not pass verification.");
    EXPECT_EQ(h.server.requestCount(pack.trackPath("big.m4a")), 1);
    EXPECT_TRUE(h.leftoverDownloads().isEmpty());
}

TEST_F(ClientTest, DroppedAndSlowTransfersAreRetried)
{
    const TestPack pack = TestPack::make(h.server, "1", {"t"}, 200000);
    const std::string path = pack.trackPath("t.m4a");
    TestServer::Response full;
    full.body = pack.contents.first().toStdString();
    TestServer::Response cut = full;
    cut.cutAfter = 50000;
    TestServer::Response slow = full;
    slow.delay = std::chrono::milliseconds(3000);
    h.server.script(path, {cut, slow, full});

    const auto file = run(client().download(pack.manifest.tracks[0]));
    ASSERT_TRUE(file.ok()) << errorDescription(file.error()).toStdString();
    EXPECT_EQ(file->sha256, pack.manifest.tracks[0].sha256)
        << "no bytes of a failed attempt remain";
    EXPECT_EQ(h.server.requestCount(path), 3);
    EXPECT_EQ(h.clock->delays().size(), 2);
    QFile::remove(file->path);
}

TEST_F(ClientTest, CancellationEndsATransferAtOnce)
{
    const TestPack pack = TestPack::make(h.server, "1", {"t"});
    TestServer::Response slow;
    slow.body = pack.contents.first().toStdString();
    slow.delay = std::chrono::milliseconds(5000);
    h.server.serve(pack.trackPath("t.m4a"), slow);
    h.timeouts.trackRequest = std::chrono::milliseconds(60000);

    auto task = client().download(pack.manifest.tracks[0]);
    ASSERT_TRUE(
        test::runUntil([&] { return h.server.requestCount(pack.trackPath("t.m4a")) == 1; }));
    QElapsedTimer elapsed;
    elapsed.start();
    cancellation.cancel();
    const auto result = test::await(std::move(task));
    EXPECT_TRUE(std::holds_alternative<CancelledError>(result.error()));
    EXPECT_LT(elapsed.elapsed(), 1000);
    EXPECT_TRUE(h.leftoverDownloads().isEmpty());
}

} // namespace
} // namespace calmcove
