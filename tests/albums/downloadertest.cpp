// FastURLDownloader against real HTTP(S) servers on loopback that misbehave on purpose.

#include "albums/downloadengine.h"
#include "albums/fasturldownloader.h"
#include "rangetestserver.h"

#include "support/loopback.h"

#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <QCoreApplication>
#include <QCoro/QCoroTask>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QSslConfiguration>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

namespace calmcove {
namespace {

using namespace std::chrono_literals;
using test::RangeTestServer;
using Behaviour = RangeTestServer::Behaviour;
using ByteRange = FastURLDownloader::ByteRange;
constexpr qint64 C = FastURLDownloader::chunkSize;

QByteArray randomBytes(qint64 size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    for (char& byte : bytes)
        byte = char(generator.bounded(256));
    return bytes;
}

// Anything of ours left in the (per-process) temporary directory.
QStringList leftovers()
{
    return QDir(QDir::tempPath())
        .entryList({QStringLiteral("Calmcove-*")},
                   QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

// Runs the event loop until `task` is done (the result type has no empty state, which
// QCoro::waitFor would need).
template <typename T> T wait(QCoro::Task<T> task)
{
    std::optional<T> result;
    QEventLoop loop;
    auto continuation = task.then([&](T value) {
        result = std::move(value);
        loop.quit();
    });
    if (!result)
        loop.exec();
    return std::move(*result);
}

struct Outcome
{
    DownloadResult<FastURLDownloader::DownloadedFile> result;
    QByteArray contents;
    QList<std::pair<qint64, qint64>> progress;
    bool progressOnMainThread = true;
};

FastURLDownloader::Timeouts quickTimeouts()
{
    return {5s, 10s, 30s};
}

// Downloads `url`, reads the result and deletes it as the import would.
Outcome fetch(FastURLDownloader& downloader, const QUrl& url)
{
    auto progress = std::make_shared<Outcome>(Outcome{FileSystemError{}, {}, {}, true});
    auto result = wait(downloader.download(url, [progress](qint64 written, qint64 expected) {
        progress->progress.append({written, expected});
        if (QThread::currentThread() != QCoreApplication::instance()->thread())
            progress->progressOnMainThread = false;
    }));
    Outcome outcome{result, {}, progress->progress, progress->progressOnMainThread};
    if (result) {
        QFile file(result->path());
        EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << result->path().toStdString();
        outcome.contents = file.readAll();
        file.close();
        file.remove();
    }
    return outcome;
}

Outcome fetch(const QUrl& url, FastURLDownloader::Timeouts timeouts = quickTimeouts())
{
    FastURLDownloader downloader(timeouts);
    return fetch(downloader, url);
}

std::string describe(const DownloadResult<FastURLDownloader::DownloadedFile>& result)
{
    return result ? std::string("a file") : errorDescription(result.error()).toStdString();
}

std::vector<std::string> rangeHeaders(qint64 size)
{
    std::vector<std::string> headers;
    for (const ByteRange& range : FastURLDownloader::chunkRanges(size))
        headers.push_back("bytes=" + std::to_string(range.first) + "-" +
                          std::to_string(range.last));
    std::sort(headers.begin(), headers.end());
    return headers;
}

class DownloaderTest : public ::testing::Test
{
protected:
    void TearDown() override { EXPECT_EQ(leftovers(), QStringList()); }

    RangeTestServer server;
};

TEST(ChunkRangesTest, CoverTheFileInTwoMebibyteSteps)
{
    const struct
    {
        qint64 total;
        QList<ByteRange> ranges;
    } cases[] = {
        {-1, {}},
        {0, {}},
        {1, {{0, 0}}},
        {C - 1, {{0, C - 2}}},
        {C, {{0, C - 1}}},
        {C + 1, {{0, C - 1}, {C, C}}},
        {3 * C, {{0, C - 1}, {C, 2 * C - 1}, {2 * C, 3 * C - 1}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.total);
        EXPECT_EQ(FastURLDownloader::chunkRanges(c.total), c.ranges);
    }
    EXPECT_EQ(FastURLDownloader::chunkRanges(12 * C + 1).size(), 13);
}

TEST(ContentRangeTest, MustNameExactlyTheRangeOfTheProbedFile)
{
    const struct
    {
        QByteArray header;
        bool matches;
    } cases[] = {
        {"bytes 10-19/100", true},   {"Bytes 10-19/100", true},
        {" bytes 10-19/100 ", true}, {"bytes 10-19/101", false}, // the file changed length
        {"bytes 10-18/100", false},                              // a shorter range
        {"bytes 10-20/100", false},                              // a longer one
        {"bytes 11-19/100", false},  {"bytes 10-19/*", false},
        {"bytes */100", false},      {"items 10-19/100", false},
        {"bytes 10-19", false},      {"bytes -19/100", false},
        {"bytes 10-1x/100", false},  {"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.header.toStdString());
        EXPECT_EQ(contentRangeMatches(c.header, {10, 19}, 100), c.matches);
    }
}

TEST(IfRangeTest, PrefersAStrongEntityTagThenTheModificationDate)
{
    const QByteArray date = "Mon, 01 Jan 2024 10:00:00 GMT";
    const auto response = [](QList<std::pair<QByteArray, QByteArray>> headers) {
        DownloadResponse r;
        r.statusCode = 200;
        r.headers = std::move(headers);
        return r;
    };
    EXPECT_EQ(ifRangeValidator(response({{"etag", "\"abc\""}, {"Last-Modified", date}})),
              "\"abc\"");
    EXPECT_EQ(ifRangeValidator(response({{"ETag", "W/\"abc\""}, {"Last-Modified", date}})), date);
    EXPECT_EQ(ifRangeValidator(response({{"Last-Modified", date}})), date);
    EXPECT_EQ(ifRangeValidator(response({})), "");
}

TEST_F(DownloaderTest, ThirteenRangesSixAtATimeJoinToTheSameBytes)
{
    const qint64 size = 12 * C + 12345;
    const QByteArray file = randomBytes(size, 13);
    server.setFiles({file});
    Behaviour behaviour;
    behaviour.rangeDelayUpTo = 150ms; // ranges finish in a random order
    server.setBehaviour(behaviour);

    const Outcome outcome = fetch(server.url());

    ASSERT_TRUE(outcome.result.ok()) << describe(outcome.result);
    EXPECT_TRUE(outcome.contents == file);
    EXPECT_EQ(server.headCount(), 1);
    EXPECT_EQ(server.plainGetCount(), 0);
    EXPECT_EQ(server.rangesRequested(), rangeHeaders(size));
    EXPECT_LE(server.maxConcurrentRanges(), FastURLDownloader::maxParallelChunks);
    EXPECT_GE(server.maxConcurrentRanges(), 2);

    // The parallel path answers with the probe's response.
    const DownloadResponse& response = outcome.result->response;
    EXPECT_EQ(response.statusCode, 200);
    EXPECT_EQ(response.mimeType, "audio/mpeg");
    EXPECT_EQ(response.expectedContentLength, size);
    EXPECT_EQ(response.url, server.url());
    EXPECT_TRUE(outcome.result->fileURL.isLocalFile());

    // Progress: once per finished range at most, always growing, ending at the whole file.
    EXPECT_TRUE(outcome.progressOnMainThread);
    ASSERT_FALSE(outcome.progress.isEmpty());
    EXPECT_LE(outcome.progress.size(), 13);
    for (qsizetype i = 0; i < outcome.progress.size(); ++i) {
        EXPECT_EQ(outcome.progress[i].second, size);
        if (i > 0) {
            EXPECT_GT(outcome.progress[i].first, outcome.progress[i - 1].first);
        }
    }
    EXPECT_EQ(outcome.progress.last().first, size);
}

TEST_F(DownloaderTest, RedirectsAreFollowedOnEveryPath)
{
    const QByteArray file = randomBytes(2 * C + 3, 17);
    server.setFiles({file});
    const QUrl moved = server.url(QStringLiteral("/moved/music/track.mp3"));

    Outcome outcome = fetch(moved);
    ASSERT_TRUE(outcome.result.ok()) << describe(outcome.result);
    EXPECT_TRUE(outcome.contents == file);
    EXPECT_EQ(server.rangesRequested(), rangeHeaders(file.size()));
    EXPECT_EQ(outcome.result->response.url, server.url()); // where the file really is

    server.clearRecords();
    Behaviour behaviour;
    behaviour.acceptRanges.clear();
    server.setBehaviour(behaviour);
    outcome = fetch(moved);
    ASSERT_TRUE(outcome.result.ok()) << describe(outcome.result);
    EXPECT_TRUE(outcome.contents == file);
    EXPECT_EQ(server.plainGetCount(), 1);
    EXPECT_EQ(outcome.result->response.url, server.url());

    // As many hops as a browser follows, and not one more.
    const QString path = QStringLiteral("/music/track.mp3");
    outcome = fetch(server.url(QStringLiteral("/moved").repeated(50) + path));
    EXPECT_TRUE(outcome.result.ok()) << describe(outcome.result);
    outcome = fetch(server.url(QStringLiteral("/moved").repeated(51) + path));
    ASSERT_FALSE(outcome.result.ok());
    const auto* failure = std::get_if<TransferError>(&outcome.result.error());
    ASSERT_NE(failure, nullptr);
    EXPECT_EQ(failure->code, QNetworkReply::TooManyRedirectsError);
}

TEST_F(DownloaderTest, RequestsCarryTheFixedHeadersAndTheProbedValidator)
{
    server.setFiles({randomBytes(2 * C + 10, 1)});
    const Outcome outcome = fetch(server.url());
    ASSERT_TRUE(outcome.result.ok()) << describe(outcome.result);

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 4u); // HEAD and three ranges
    EXPECT_EQ(requests[0].method, "HEAD");
    for (const auto& request : requests) {
        EXPECT_EQ(request.userAgent, "Calmcove/1.0 CFNetwork");
        EXPECT_EQ(request.accept, "*/*");
        EXPECT_EQ(request.connection, "keep-alive");
        EXPECT_EQ(request.acceptEncoding, "identity");
        if (request.method == "GET") {
            EXPECT_EQ(request.ifRange, "\"v0\"");
        }
    }
}

TEST_F(DownloaderTest, OneChunkIsFetchedPlainlyOneByteMoreAsTwoRanges)
{
    const QByteArray oneChunk = randomBytes(C, 2);
    server.setFiles({oneChunk});
    Outcome outcome = fetch(server.url());
    ASSERT_TRUE(outcome.result.ok()) << describe(outcome.result);
    EXPECT_TRUE(outcome.contents == oneChunk);
    EXPECT_EQ(server.rangesRequested(), std::vector<std::string>());
    EXPECT_EQ(server.plainGetCount(), 1);
    EXPECT_EQ(outcome.progress.last(), std::make_pair(C, C));

    server.clearRecords();
    const QByteArray oneByteMore = randomBytes(C + 1, 3);
    server.setFiles({oneByteMore});
    outcome = fetch(server.url());
    ASSERT_TRUE(outcome.result.ok()) << describe(outcome.result);
    EXPECT_TRUE(outcome.contents == oneByteMore);
    EXPECT_EQ(server.rangesRequested(),
              (std::vector<std::string>{"bytes=0-2097151", "bytes=2097152-2097152"}));
    EXPECT_EQ(server.plainGetCount(), 0);
}

TEST_F(DownloaderTest, EveryUnusableServerEndsInOneWholePlainDownload)
{
    const qint64 size = 3 * C + 5;
    const QByteArray first = randomBytes(size, 4);
    const QByteArray sameLength = randomBytes(size, 5);
    const QByteArray longer = randomBytes(size + 1000, 6);

    struct Case
    {
        const char* name;
        Behaviour behaviour;
        bool triesRanges;
        QByteArray laterVersion; // the file after `changeAfterRanges` ranges
    };
    std::vector<Case> cases;
    const auto add = [&cases](const char* name, bool triesRanges, auto change,
                              QByteArray later = {}) {
        Behaviour behaviour;
        change(behaviour);
        cases.push_back({name, behaviour, triesRanges, later});
    };
    add("no Accept-Ranges", false, [](Behaviour& b) { b.acceptRanges.clear(); });
    add("Accept-Ranges: none", false, [](Behaviour& b) { b.acceptRanges = "none"; });
    add("HEAD answered 405", false, [](Behaviour& b) { b.answerHead = false; });
    add("no Content-Length", false, [](Behaviour& b) { b.sendContentLength = false; });
    add("200 instead of 206", true, [](Behaviour& b) { b.honourRanges = false; });
    add("a short range", true, [](Behaviour& b) { b.rangeLengthError = 100; });
    add("a short range, said so", true, [](Behaviour& b) {
        b.rangeLengthError = 100;
        b.honestContentRange = true;
    });
    add("a long range", true, [](Behaviour& b) { b.rangeLengthError = -100; });
    add(
        "changed between ranges (ETag)", true, [](Behaviour& b) { b.changeAfterRanges = 1; },
        sameLength);
    add(
        "changed between ranges (Last-Modified)", true,
        [](Behaviour& b) {
            b.changeAfterRanges = 1;
            b.sendEntityTag = false;
        },
        sameLength);
    add(
        "changed length, If-Range ignored", true,
        [](Behaviour& b) {
            b.changeAfterRanges = 1;
            b.honourIfRange = false;
        },
        longer);

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server.clearRecords();
        server.setFiles(c.laterVersion.isEmpty() ? std::vector<QByteArray>{first}
                                                 : std::vector<QByteArray>{first, c.laterVersion});
        server.setBehaviour(c.behaviour);

        const Outcome outcome = fetch(server.url());

        ASSERT_TRUE(outcome.result.ok()) << describe(outcome.result);
        EXPECT_TRUE(outcome.contents == (c.laterVersion.isEmpty() ? first : c.laterVersion));
        EXPECT_EQ(outcome.result->response.statusCode, 200);
        EXPECT_EQ(server.headCount(), 1);
        EXPECT_EQ(server.plainGetCount(), 1);
        EXPECT_EQ(!server.rangesRequested().empty(), c.triesRanges);
        EXPECT_EQ(leftovers(), QStringList());
    }
}

TEST_F(DownloaderTest, ARangeThatRunsLongIsCutOffAtItsEnd)
{
    const QByteArray file = randomBytes(C + 1, 16);
    server.setFiles({file});
    Behaviour behaviour;
    behaviour.rangeLengthError = -(1 << 20); // a mebibyte too many after every range
    behaviour.bytesPerSecond = 8000000;
    server.setBehaviour(behaviour);

    const Outcome outcome = fetch(server.url());

    ASSERT_TRUE(outcome.result.ok()) << describe(outcome.result);
    EXPECT_TRUE(outcome.contents == file);
    EXPECT_EQ(server.plainGetCount(), 1);
    // We hung up at the first byte too many instead of taking the surplus in.
    EXPECT_EQ(server.rangesCutOff(), 2);
}

TEST_F(DownloaderTest, IfRangeCarriesTheModificationDateWithoutAnEntityTag)
{
    server.setFiles({randomBytes(2 * C + 1, 7)});
    Behaviour behaviour;
    behaviour.sendEntityTag = false;
    server.setBehaviour(behaviour);
    const Outcome outcome = fetch(server.url());
    ASSERT_TRUE(outcome.result.ok()) << describe(outcome.result);
    EXPECT_EQ(server.plainGetCount(), 0);
    for (const auto& request : server.requests()) {
        if (request.method == "GET") {
            EXPECT_EQ(request.ifRange, "Mon, 01 Jan 2024 10:00:00 GMT");
        }
    }
}

TEST_F(DownloaderTest, AnErrorPageIsReturnedWithItsStatusForTheCallerToReject)
{
    server.setFiles({randomBytes(3 * C, 8)});
    Behaviour behaviour;
    behaviour.status = 404;
    server.setBehaviour(behaviour);

    const Outcome outcome = fetch(server.url());

    ASSERT_TRUE(outcome.result.ok()) << describe(outcome.result);
    EXPECT_EQ(outcome.result->response.statusCode, 404);
    EXPECT_FALSE(outcome.result->response.isSuccess());
    EXPECT_EQ(outcome.result->response.mimeType, "text/html");
    EXPECT_EQ(outcome.contents, "<html><body>Not here</body></html>");
    EXPECT_EQ(server.plainGetCount(), 1);
}

TEST_F(DownloaderTest, PlainProgressFollowsTheBytesAndKnowsNoTotalWithoutALength)
{
    const qint64 size = 3 * C;
    const QByteArray file = randomBytes(size, 9);
    server.setFiles({file});
    Behaviour behaviour;
    behaviour.sendContentLength = false;
    server.setBehaviour(behaviour);

    const Outcome outcome = fetch(server.url());

    ASSERT_TRUE(outcome.result.ok()) << describe(outcome.result);
    EXPECT_TRUE(outcome.contents == file);
    EXPECT_EQ(outcome.result->response.expectedContentLength, -1);
    EXPECT_TRUE(outcome.progressOnMainThread);
    ASSERT_FALSE(outcome.progress.isEmpty());
    for (const auto& [written, expected] : outcome.progress)
        EXPECT_EQ(expected, -1);
    EXPECT_EQ(outcome.progress.last().first, size);
}

TEST_F(DownloaderTest, TransportFailuresReachTheCallerAndLeaveNoFile)
{
    const Outcome refused =
        fetch(QUrl(QStringLiteral("http://127.0.0.1:%1/a.mp3").arg(test::closedLoopbackPort())));
    ASSERT_FALSE(refused.result.ok());
    const auto* error = std::get_if<TransferError>(&refused.result.error());
    ASSERT_NE(error, nullptr) << describe(refused.result);
    EXPECT_EQ(error->code, QNetworkReply::ConnectionRefusedError);
    EXPECT_FALSE(error->message.isEmpty());
}

TEST_F(DownloaderTest, ABodyCutShortOfItsLengthIsNoFile)
{
    // Qt may report such a body as complete; ranges and the plain download must not.
    server.setFiles({randomBytes(2 * C + 1, 19)});
    Behaviour behaviour;
    behaviour.dropAfterBytes = 100000;
    server.setBehaviour(behaviour);

    const Outcome outcome = fetch(server.url());

    // Either Qt notices (RemoteHostClosedError) or we do (downloadFailed).
    ASSERT_FALSE(outcome.result.ok()) << outcome.contents.size() << " bytes";
    EXPECT_FALSE(server.rangesRequested().empty());
    EXPECT_GE(server.plainGetCount(), 1); // Qt may send it again on a fresh connection
}

TEST_F(DownloaderTest, OnlyHttpAndHttpsAreFetched)
{
    for (const char* link : {"ftp://127.0.0.1/a.mp3", "file:///etc/hostname", "a.mp3"}) {
        SCOPED_TRACE(link);
        const Outcome outcome = fetch(QUrl(QString::fromLatin1(link)));
        ASSERT_FALSE(outcome.result.ok());
        EXPECT_EQ(outcome.result.error(), DownloadError(URLImportError::invalidURL));
    }
    EXPECT_TRUE(server.requests().empty());
}

TEST(DownloaderConnectivityTest, WithoutNetworkTheDownloadWaitsForTheServerToBeReachable)
{
    const int port = test::closedLoopbackPort();
    const QUrl url(QStringLiteral("http://127.0.0.1:%1/late.mp3").arg(port));
    const QByteArray file = randomBytes(C + 1, 18);

    std::unique_ptr<RangeTestServer> server; // outlives the downloader's connections
    FastURLDownloader downloader(quickTimeouts());
    downloader.setNetworkUnavailable(true);
    QTimer::singleShot(500, [&] {
        server = std::make_unique<RangeTestServer>(std::string(), std::string(), port);
        server->setFiles({file});
        downloader.setNetworkUnavailable(false);
    });
    const Outcome outcome = fetch(downloader, url);

    ASSERT_TRUE(outcome.result.ok()) << describe(outcome.result);
    EXPECT_TRUE(outcome.contents == file);
    EXPECT_EQ(leftovers(), QStringList());
}

TEST_F(DownloaderTest, ASilentProbeTimesOutIntoThePlainDownload)
{
    const QByteArray file = randomBytes(2 * C + 1, 10);
    server.setFiles({file});
    Behaviour behaviour;
    behaviour.headDelay = 3s;
    server.setBehaviour(behaviour);

    const Outcome outcome = fetch(server.url(), {300ms, 10s, 30s});

    ASSERT_TRUE(outcome.result.ok()) << describe(outcome.result);
    EXPECT_TRUE(outcome.contents == file);
    EXPECT_EQ(server.plainGetCount(), 1);
    EXPECT_TRUE(server.rangesRequested().empty());
}

TEST_F(DownloaderTest, TheResourceTimeoutEndsASlowDownload)
{
    server.setFiles({randomBytes(C, 11)});
    Behaviour behaviour;
    behaviour.bytesPerSecond = 100000;
    server.setBehaviour(behaviour);

    const Outcome outcome = fetch(server.url(), {5s, 10s, 500ms});

    ASSERT_FALSE(outcome.result.ok());
    const auto* error = std::get_if<TransferError>(&outcome.result.error());
    ASSERT_NE(error, nullptr) << describe(outcome.result);
    EXPECT_EQ(error->code, QNetworkReply::TimeoutError);
}

TEST_F(DownloaderTest, TheMainLoopKeepsTurningDuringADownload)
{
    server.setFiles({randomBytes(2 * C + 1, 12)});
    Behaviour behaviour;
    behaviour.bytesPerSecond = 4000000; // about half a second per range
    server.setBehaviour(behaviour);

    FastURLDownloader downloader(quickTimeouts());
    bool finished = false;
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ticks += finished ? 0 : 1; });
    ticker.start(10);
    const Outcome outcome = fetch(downloader, server.url());
    finished = true;

    ASSERT_TRUE(outcome.result.ok()) << describe(outcome.result);
    EXPECT_GT(ticks, 3);
}

TEST_F(DownloaderTest, DestroyingTheDownloaderCancelsWhatRuns)
{
    server.setFiles({randomBytes(3 * C, 14)}); // no range can finish before the end
    Behaviour behaviour;
    behaviour.bytesPerSecond = 500000;
    server.setBehaviour(behaviour);

    auto downloader = std::make_unique<FastURLDownloader>(quickTimeouts());
    int progressCalls = 0;
    auto task = downloader->download(server.url(), [&](qint64, qint64) { ++progressCalls; });
    QEventLoop loop;
    QTimer::singleShot(300, &loop, &QEventLoop::quit);
    loop.exec();
    downloader.reset();

    const auto result = wait(std::move(task));
    ASSERT_FALSE(result.ok());
    const auto* error = std::get_if<TransferError>(&result.error());
    ASSERT_NE(error, nullptr) << errorDescription(result.error()).toStdString();
    EXPECT_EQ(error->code, QNetworkReply::OperationCanceledError);
    EXPECT_EQ(progressCalls, 0);
}

// A self-signed certificate for 127.0.0.1, trusted by this process alone.
struct TrustedCertificate
{
    QTemporaryDir folder;
    std::string certificate;
    std::string key;

    TrustedCertificate()
    {
        QProcess openssl;
        openssl.setWorkingDirectory(folder.path());
        openssl.start(QStringLiteral("openssl"),
                      {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                       "-nodes", "-keyout", "key.pem", "-out", "cert.pem", "-days", "2", "-subj",
                       "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"});
        openssl.waitForFinished(30000);
        certificate = (folder.path() + QStringLiteral("/cert.pem")).toStdString();
        key = (folder.path() + QStringLiteral("/key.pem")).toStdString();
    }
};

TEST(DownloaderTlsTest, RangesRunOverHttpsToo)
{
    TrustedCertificate certificate;
    RangeTestServer server(certificate.certificate, certificate.key);
    const QSslConfiguration original = QSslConfiguration::defaultConfiguration();
    QSslConfiguration trusting = original;
    ASSERT_TRUE(trusting.addCaCertificates(QString::fromStdString(certificate.certificate)));
    QSslConfiguration::setDefaultConfiguration(trusting);

    const QByteArray file = randomBytes(3 * C + 7, 15);
    server.setFiles({file});
    const Outcome outcome = fetch(server.url());
    QSslConfiguration::setDefaultConfiguration(original);

    ASSERT_TRUE(outcome.result.ok()) << describe(outcome.result);
    EXPECT_TRUE(outcome.contents == file);
    EXPECT_EQ(server.rangesRequested(), rangeHeaders(file.size()));
    EXPECT_EQ(server.plainGetCount(), 0);
    EXPECT_EQ(leftovers(), QStringList());
}

} // namespace
} // namespace calmcove
