// The library server client against a real HTTPS server on loopback: addresses, headers,
// the retry policy, the pack choice with its fallbacks, and streamed track downloads.

#include "librarytesting.h"
#include "platform/apppaths.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
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
    // The chosen pack's version, or the error's description.
    QString chosenVersion()
    {
        const auto chosen = test::await(client().fetchLatestCompatibleManifest());
        return chosen.ok() ? chosen->version : errorDescription(chosen.error());
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
        h.defaults->setValue(AudioPackClient::indexURLKey, ignored);
        EXPECT_EQ(client().audioPackIndexURL(), QUrl("https://build.example/index.json"))
            << ignored;
    }
    h.defaults->setValue(AudioPackClient::indexURLKey, "  https://settings.example/index.json \n");
    EXPECT_EQ(client().audioPackIndexURL(), QUrl("https://settings.example/index.json"));

    EXPECT_FALSE(client().manifestURLIsConfigured());
    EXPECT_EQ(errorDescription(client().manifestURL().error()),
              "No audio library URL is configured.");
    h.defaults->setOverride(AudioPackClient::manifestURLKey, "https://override.example/m.json");
    EXPECT_EQ(client().manifestURL().value(), QUrl("https://override.example/m.json"));
}

TEST_F(ClientTest, ResponseStatusAndRetryAfter)
{
    const std::tuple<int, const char*, std::optional<AudioPackError>> cases[] = {
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
    for (const auto& [status, retryAfter, expected] : cases)
        EXPECT_EQ(AudioPackClient::validateHTTPResponse(status, retryAfter), expected)
            << status << " " << retryAfter;
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

TEST_F(ClientTest, ServerErrorsAreRetriedUntilItComesBack)
{
    // Retry-After is capped at 30 s; 502 and 429 back off 2 s and 4 s (plus jitter).
    const TestPack pack = TestPack::make(h.server, "7", {"a", "b"});
    h.server.script(pack.manifestPath(),
                    {TestServer::status(503, {{"Retry-After", "120"}}), TestServer::status(502),
                     TestServer::status(429), TestServer::json(pack.manifestJSON().toStdString())});
    const QUrl url = h.server.url(QString::fromStdString(pack.manifestPath()));
    QElapsedTimer elapsed;
    elapsed.start();
    const auto manifest = test::await(client().fetchManifest(url));
    EXPECT_LT(elapsed.elapsed(), 5000) << "the injected clock makes the waits free";
    EXPECT_EQ(manifest.value(), pack.manifest);
    EXPECT_EQ(h.server.requestCount(pack.manifestPath()), 4);
    ASSERT_EQ(h.clock->delays().size(), 3);
    EXPECT_EQ(h.clock->delays()[0], 30.0);
    for (int i : {1, 2}) {
        EXPECT_GE(h.clock->delays()[i], 1 << i);
        EXPECT_LE(h.clock->delays()[i], (1 << i) + 0.35);
    }
    EXPECT_EQ(h.server.requests()[0].userAgent, "Calmcove/1.0");
    EXPECT_EQ(h.server.requests()[0].accept, "application/json");

    h.server.serve(pack.manifestPath(), TestServer::status(503));
    EXPECT_FALSE(test::await(client().fetchManifest(url)).ok());
    EXPECT_EQ(h.server.requestCount(pack.manifestPath()), 8) << "four attempts in all";
}

TEST_F(ClientTest, FailuresThatCannotMendThemselvesAreNotRetried)
{
    const TestPack pack = TestPack::make(h.server, "7", {"a"});
    AudioPackManifest wrongCount = pack.manifest;
    wrongCount.trackCount = 2;
    h.server.serve("/count.json",
                   TestServer::json(encodeAudioPackManifest(wrongCount).toStdString()));
    h.server.serve("/broken.json", TestServer::json("{\"version\": "));
    h.server.serve("/missing.json", TestServer::status(404));
    const auto fetch = [&](const std::string& path) {
        auto result = test::await(client().fetchManifest(h.server.url(path.c_str())));
        EXPECT_EQ(h.server.requestCount(path), 1) << path;
        return result.ok() ? LibraryError(FileError{"<no error>"}) : result.error();
    };
    EXPECT_EQ(errorDescription(fetch("/count.json")), "The audio pack track count is incorrect.");
    EXPECT_EQ(std::get<AudioPackError>(fetch("/missing.json")), AudioPackError::httpStatus(404));
    EXPECT_TRUE(std::holds_alternative<DecodingError>(fetch("/broken.json")));
    EXPECT_TRUE(h.clock->delays().isEmpty());

    // Without the extra CA file the loopback server is not trusted: no request gets through.
    h.defaults->remove(AudioPackClient::caCertificatesFileKey);
    m_client.reset();
    const auto untrusted = test::await(client().fetchManifest(h.server.url("/count.json")));
    EXPECT_TRUE(std::holds_alternative<NetworkError>(untrusted.error()));
    EXPECT_FALSE(isConnectivityError(untrusted.error()));
    EXPECT_EQ(h.server.requestCount("/count.json"), 1);
    EXPECT_TRUE(h.clock->delays().isEmpty());
}

TEST_F(ClientTest, PackChoiceTakesTheNewestCompatibleVersion)
{
    h.buildInfo.version = "1.9";
    const TestPack old = TestPack::make(h.server, "1.9", {"a"}, 100, 1, "1.0");
    const TestPack newest = TestPack::make(h.server, "1.10", {"a"}, 100, 2, "1.9.0");
    const TestPack tooNew = TestPack::make(h.server, "2.0", {"a"}, 100, 3, "1.10");
    // Equal versions: the latest publication wins, an entry without a date loses.
    TestPack a = TestPack::make(h.server, "3.0", {"a"}, 100, 1);
    TestPack b = TestPack::make(h.server, "3.00", {"b"}, 100, 2);
    TestPack c = TestPack::make(h.server, "3.000", {"c"}, 100, 3);
    b.publishedAt = "2024-05-01";
    c.publishedAt = "2024-06-01";
    for (const TestPack& pack : {old, newest, tooNew, a, b, c})
        pack.publish(h.server);
    h.defaults->setValue(AudioPackClient::indexURLKey, h.server.url("/index.json").toString());
    const auto choice = [&](const QList<TestPack>& packs) {
        h.server.serve("/index.json", TestServer::json(test::indexJSON(h.server, packs)));
        return chosenVersion();
    };
    EXPECT_EQ(choice({old, tooNew, newest}), "1.10");
    EXPECT_EQ(h.server.requestCount(tooNew.manifestPath()), 0);
    EXPECT_EQ(choice({a, b, c}), "3.000");
    EXPECT_EQ(choice({b, a}), "3.00");
}

TEST_F(ClientTest, FallsBackToTheManifestURL)
{
    const TestPack fallback = TestPack::make(h.server, "5", {"a"});
    const TestPack tooNew = TestPack::make(h.server, "6", {"a"}, 100, 2, "99");
    const TestPack unreachable = TestPack::make(h.server, "7", {"a"});
    fallback.publish(h.server);
    tooNew.publish(h.server);
    h.server.serve(unreachable.manifestPath(), TestServer::status(410));
    const auto index = [&](const TestPack& pack) {
        return TestServer::json(test::indexJSON(h.server, {pack}));
    };
    struct Case
    {
        TestServer::Response index;
        const TestPack* manifest; // the configured manifest URL's pack
        QString expected;         // a version, or an error description
    };
    const Case cases[] = {
        {index(tooNew), &fallback, "5"},
        {index(tooNew), nullptr, "No audio library URL is configured."},
        {TestServer::json("[1, 2"), &fallback, "5"},
        {TestServer::status(404), nullptr, "The audio library server returned HTTP 404."},
        {TestServer::json(R"({"packs": []})"), &fallback, "5"},
        {index(unreachable), &fallback, "5"},
        {index(unreachable), &tooNew,
         "Update Calmcove to version 99 or newer to install this track library."},
    };
    for (const Case& c : cases) {
        h.server.serve("/index.json", c.index);
        if (c.manifest)
            h.useManifest(*c.manifest);
        else
            h.defaults->remove(AudioPackClient::manifestURLKey);
        h.defaults->setValue(AudioPackClient::indexURLKey, h.server.url("/index.json").toString());
        EXPECT_EQ(chosenVersion(), c.expected) << &c - cases;
    }
}

TEST_F(ClientTest, DownloadStreamsIntoATemporaryFileAndHashesOnTheWay)
{
    const TestPack pack = TestPack::make(h.server, "1", {"track-one"}, 300000);
    pack.publish(h.server);
    const AudioPackTrack& track = pack.manifest.tracks[0];
    const auto file = test::await(client().download(track));
    ASSERT_TRUE(file.ok()) << errorDescription(file.error()).toStdString();
    EXPECT_TRUE(QRegularExpression("^Calmcove-AudioPack-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-"
                                   "[0-9A-F]{4}-[0-9A-F]{12}\\.download$")
                    .match(QFileInfo(file->path).fileName())
                    .hasMatch())
        << file->path.toStdString();
    EXPECT_EQ(QFileInfo(file->path).absolutePath(),
              QFileInfo(AppPaths::temporaryDirectory()).absoluteFilePath());
    EXPECT_EQ(file->size, 300000);
    EXPECT_EQ(file->sha256, track.sha256);
    QFile written(file->path);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(written.readAll(), pack.contents.first());
    QFile::remove(file->path);
    EXPECT_EQ(h.server.requests().back().accept, "*/*");
}

TEST_F(ClientTest, OversizedBodyIsStoppedAsAnInvalidFile)
{
    const TestPack pack = TestPack::make(h.server, "1", {"big"}, 1000);
    h.server.serve(pack.trackPath("big.m4a"), TestServer::Response{std::string(4 << 20, 'x')});
    const auto file = test::await(client().download(pack.manifest.tracks[0]));
    EXPECT_EQ(errorDescription(file.error()), "big.m4a did not pass verification.");
    EXPECT_EQ(h.server.requestCount(pack.trackPath("big.m4a")), 1);
    EXPECT_TRUE(h.leftoverDownloads().isEmpty());
}

TEST_F(ClientTest, DroppedAndSlowTransfersAreRetried)
{
    const TestPack pack = TestPack::make(h.server, "1", {"t"}, 200000);
    const std::string path = pack.trackPath("t.m4a");
    const auto full = TestServer::Response{pack.contents.first().toStdString()};
    auto cut = full, slow = full;
    cut.cutAfter = 50000;
    slow.delay = std::chrono::milliseconds(3000);
    h.server.script(path, {cut, slow, full});

    const auto file = test::await(client().download(pack.manifest.tracks[0]));
    EXPECT_EQ(file.value().sha256, pack.manifest.tracks[0].sha256)
        << "no bytes of a failed attempt remain";
    EXPECT_EQ(h.server.requestCount(path), 3);
    EXPECT_EQ(h.clock->delays().size(), 2);
    QFile::remove(file->path);
}

TEST_F(ClientTest, CancellationEndsATransferAtOnce)
{
    const TestPack pack = TestPack::make(h.server, "1", {"t"});
    auto slow = TestServer::Response{pack.contents.first().toStdString()};
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
