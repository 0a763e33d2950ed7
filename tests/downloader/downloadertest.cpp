// FastURLDownloader against real HTTP(S) servers on loopback that misbehave on purpose.

#include "downloader/downloadengine.h"
#include "downloader/fasturldownloader.h"
#include "platform/apppaths.h"
#include "rangetestserver.h"

#include "support/loopback.h"
#include "support/smallfilesystem.h"

#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <QCoreApplication>
#include <QCoro/QCoroTask>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QThread>
#include <QTimer>

namespace calmcove {
namespace {

using namespace std::chrono_literals;
using test::RangeTestServer;
using Behaviour = RangeTestServer::Behaviour;
using ByteRange = FastURLDownloader::ByteRange;
using Result = DownloadResult<FastURLDownloader::DownloadedFile>;
constexpr qint64 C = FastURLDownloader::chunkSize;

QByteArray randomBytes(qint64 size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    for (char& byte : bytes)
        byte = char(generator.bounded(256));
    return bytes;
}

// Anything of ours left in Calmcove's (per-process) temporary folder.
QStringList leftovers(const QString& folder = AppPaths::temporaryDirectory())
{
    return QDir(folder).entryList({"Calmcove-*"},
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
    Result result;
    QByteArray contents{};
    QList<std::pair<qint64, qint64>> progress{};
    bool progressOnMainThread = true;
    int ticks = 0; // of a 10 ms timer on the main loop while the download ran
};

const FastURLDownloader::Timeouts quickTimeouts{5s, 10s, 30s};

// Downloads `url`, reads the result and deletes it as the import would.
Outcome fetch(FastURLDownloader& downloader, const QUrl& url, const DownloadLimits& limits = {})
{
    auto outcome = std::make_shared<Outcome>(Outcome{FileSystemError{}});
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [outcome] { ++outcome->ticks; });
    ticker.start(10);
    outcome->result = wait(downloader.download(
        url,
        [outcome](qint64 written, qint64 expected) {
            outcome->progress.append({written, expected});
            outcome->progressOnMainThread &=
                QThread::currentThread() == QCoreApplication::instance()->thread();
        },
        limits));
    ticker.stop();
    if (outcome->result) {
        QFile file(outcome->result->path());
        EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << file.fileName().toStdString();
        outcome->contents = file.readAll();
        file.remove();
    }
    return *outcome;
}

Outcome fetch(const QUrl& url, const DownloadLimits& limits = {},
              FastURLDownloader::Timeouts timeouts = quickTimeouts)
{
    FastURLDownloader downloader(timeouts);
    return fetch(downloader, url, limits);
}

bool failedWith(const Outcome& outcome, DownloadFailure failure)
{
    return !outcome.result && outcome.result.error() == DownloadError(failure);
}

// The download succeeded and brought exactly `file`.
::testing::AssertionResult delivered(const Outcome& outcome, const QByteArray& file)
{
    if (!outcome.result)
        return ::testing::AssertionFailure()
               << describeDownloadError(outcome.result.error()).toStdString();
    if (outcome.contents != file)
        return ::testing::AssertionFailure() << outcome.contents.size() << " other bytes";
    return ::testing::AssertionSuccess();
}

QNetworkReply::NetworkError transferError(const Result& r)
{
    const auto* error = r ? nullptr : std::get_if<TransferError>(&r.error());
    return error ? error->code : QNetworkReply::NoError;
}

// The ranges the downloader should ask for, sorted as the server reports them.
std::vector<std::string> rangeHeaders(qint64 size)
{
    std::vector<std::string> headers;
    for (qint64 first = 0; first < size; first += C)
        headers.push_back("bytes=" + std::to_string(first) + "-" +
                          std::to_string(std::min(first + C, size) - 1));
    std::sort(headers.begin(), headers.end());
    return headers;
}

// The server speaks HTTPS, as the real ones do, with a certificate for 127.0.0.1 that only
// this process trusts.
class DownloaderTest : public ::testing::Test
{
protected:
    void TearDown() override { EXPECT_EQ(leftovers(), QStringList()); }

    RangeTestServer server{test::LoopbackCertificate::trusted().certificateFile,
                           test::LoopbackCertificate::trusted().keyFile};
};

TEST(ChunkRangesTest, NoRangesWithoutBytes)
{
    EXPECT_TRUE(FastURLDownloader::chunkRanges(-1).isEmpty());
    EXPECT_TRUE(FastURLDownloader::chunkRanges(0).isEmpty());
    EXPECT_EQ(FastURLDownloader::chunkRanges(1), QList<ByteRange>({{0, 0}}));
}

TEST(ContentRangeTest, MustNameExactlyTheRangeOfTheProbedFile)
{
    for (const char* header : {"bytes 10-19/100", "Bytes 10-19/100", " bytes 10-19/100 "})
        EXPECT_TRUE(contentRangeMatches(header, {10, 19}, 100)) << header;
    for (const char* header : {"bytes 10-19/101", "bytes 10-18/100", "bytes 10-20/100",
                               "bytes 11-19/100", "bytes 10-19/*", "bytes */100", "items 10-19/100",
                               "bytes 10-19", "bytes -19/100", "bytes 10-1x/100", ""})
        EXPECT_FALSE(contentRangeMatches(header, {10, 19}, 100)) << header;
}

TEST(IfRangeTest, PrefersAStrongEntityTagThenTheModificationDate)
{
    const QByteArray date = "Mon, 01 Jan 2024 10:00:00 GMT";
    const auto validator = [](QList<std::pair<QByteArray, QByteArray>> headers) {
        DownloadResponse response;
        response.statusCode = 200;
        response.headers = std::move(headers);
        return ifRangeValidator(response);
    };
    EXPECT_EQ(validator({{"etag", "\"abc\""}, {"Last-Modified", date}}), "\"abc\"");
    EXPECT_EQ(validator({{"ETag", "W/\"abc\""}, {"Last-Modified", date}}), date);
    EXPECT_EQ(validator({}), "");
}

TEST_F(DownloaderTest, ThirteenRangesSixAtATimeJoinToTheSameBytes)
{
    const qint64 size = 12 * C + 12345;
    const QByteArray file = randomBytes(size, 13);
    server.setFiles({file});
    server.setBehaviour({.rangeDelayUpTo = 150ms}); // ranges finish in a random order

    const Outcome outcome = fetch(server.url());

    ASSERT_TRUE(delivered(outcome, file));
    EXPECT_EQ(server.count("HEAD"), 1);
    EXPECT_EQ(server.count("GET"), 0);
    EXPECT_EQ(server.rangesRequested(), rangeHeaders(size));
    EXPECT_LE(server.maxConcurrentRanges(), FastURLDownloader::maxParallelChunks);
    EXPECT_GE(server.maxConcurrentRanges(), 2);
    for (const auto& request : server.requests()) {
        EXPECT_EQ(request.userAgent, "Calmcove/1.0 CFNetwork");
        EXPECT_EQ(request.accept, "*/*");
        EXPECT_EQ(request.connection, "keep-alive");
        EXPECT_EQ(request.acceptEncoding, "identity");
        EXPECT_EQ(request.ifRange, request.method == "GET" ? "\"v0\"" : "");
    }

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
        EXPECT_TRUE(i == 0 || outcome.progress[i].first > outcome.progress[i - 1].first);
    }
    EXPECT_EQ(outcome.progress.last().first, size);
}

TEST_F(DownloaderTest, RedirectsAreFollowedOnEveryPath)
{
    const QByteArray file = randomBytes(2 * C + 3, 17);
    server.setFiles({file});
    const QUrl moved = server.url("/moved/music/track.mp3");

    Outcome outcome = fetch(moved);
    ASSERT_TRUE(delivered(outcome, file));
    EXPECT_EQ(server.rangesRequested(), rangeHeaders(file.size()));
    EXPECT_EQ(server.redirectsAnswered(), 1);              // the ranges go straight to the file
    EXPECT_EQ(outcome.result->response.url, server.url()); // where the file really is

    server.clearRecords();
    server.setBehaviour({.acceptRanges = ""});
    outcome = fetch(moved);
    ASSERT_TRUE(delivered(outcome, file));
    EXPECT_EQ(server.count("GET"), 1);
    EXPECT_EQ(outcome.result->response.url, server.url());

    // As many hops as a browser follows, and not one more.
    const QString path = "/music/track.mp3";
    outcome = fetch(server.url(QStringLiteral("/moved").repeated(50) + path));
    EXPECT_TRUE(outcome.result.ok());
    outcome = fetch(server.url(QStringLiteral("/moved").repeated(51) + path));
    EXPECT_EQ(transferError(outcome.result), QNetworkReply::TooManyRedirectsError);
}

TEST_F(DownloaderTest, OneChunkIsFetchedPlainlyOneByteMoreAsTwoRanges)
{
    const struct
    {
        qint64 size;
        std::vector<std::string> ranges;
    } cases[] = {{2097152, {}}, {2097153, {"bytes=0-2097151", "bytes=2097152-2097152"}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        server.clearRecords();
        const QByteArray file = randomBytes(c.size, 2);
        server.setFiles({file});
        const Outcome outcome = fetch(server.url());
        ASSERT_TRUE(delivered(outcome, file));
        EXPECT_EQ(server.rangesRequested(), c.ranges);
        EXPECT_EQ(server.count("GET"), c.ranges.empty() ? 1 : 0);
        EXPECT_EQ(outcome.progress.last(), std::make_pair(c.size, c.size));
    }
}

TEST_F(DownloaderTest, EveryUnusableServerEndsInOneWholePlainDownload)
{
    const qint64 size = 3 * C + 5;
    const QByteArray first = randomBytes(size, 4);
    const QByteArray sameLength = randomBytes(size, 5);
    const QByteArray longer = randomBytes(size + 1000, 6);
    const struct
    {
        const char* name;
        Behaviour behaviour;
        bool triesRanges;
        QByteArray laterVersion; // the file after `changeAfterRanges` ranges
    } cases[] = {
        {"no Accept-Ranges", {.acceptRanges = ""}, false, {}},
        {"Accept-Ranges: none", {.acceptRanges = "none"}, false, {}},
        {"HEAD answered 405", {.answerHead = false}, false, {}},
        {"no Content-Length", {.sendContentLength = false}, false, {}},
        {"200 instead of 206", {.honourRanges = false}, true, {}},
        {"a short range", {.rangeLengthError = 100}, true, {}},
        {"a short range, said so", {.rangeLengthError = 100, .honestContentRange = true}, true, {}},
        {"a long range", {.rangeLengthError = -100}, true, {}},
        {"changed between ranges (ETag)", {.changeAfterRanges = 1}, true, sameLength},
        {"changed between ranges (Last-Modified)",
         {.sendEntityTag = false, .changeAfterRanges = 1},
         true,
         sameLength},
        {"changed length, If-Range ignored",
         {.honourIfRange = false, .changeAfterRanges = 1},
         true,
         longer},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        server.clearRecords();
        server.setFiles(c.laterVersion.isEmpty() ? std::vector<QByteArray>{first}
                                                 : std::vector<QByteArray>{first, c.laterVersion});
        server.setBehaviour(c.behaviour);

        const Outcome outcome = fetch(server.url());

        const QByteArray& file = c.laterVersion.isEmpty() ? first : c.laterVersion;
        ASSERT_TRUE(delivered(outcome, file));
        EXPECT_EQ(outcome.result->response.statusCode, 200);
        // Plain progress follows the bytes and knows no total without a length.
        const qint64 total = c.behaviour.sendContentLength ? file.size() : -1;
        EXPECT_EQ(outcome.result->response.expectedContentLength, total);
        EXPECT_EQ(outcome.progress.last(), std::make_pair(file.size(), total));
        EXPECT_TRUE(outcome.progressOnMainThread);
        EXPECT_EQ(server.count("HEAD"), 1);
        EXPECT_EQ(server.count("GET"), 1);
        EXPECT_EQ(!server.rangesRequested().empty(), c.triesRanges);
        EXPECT_EQ(leftovers(), QStringList());
    }
}

TEST_F(DownloaderTest, ARangeThatRunsLongIsCutOffAtItsEnd)
{
    const QByteArray file = randomBytes(C + 1, 16);
    server.setFiles({file});
    // A mebibyte too many after every range.
    server.setBehaviour({.rangeLengthError = -(1 << 20), .bytesPerSecond = 8000000});

    const Outcome outcome = fetch(server.url());

    ASSERT_TRUE(delivered(outcome, file));
    EXPECT_EQ(server.count("GET"), 1);
    // We hung up at the first byte too many instead of taking the surplus in.
    EXPECT_EQ(server.rangesCutOff(), 2);
    EXPECT_GT(outcome.ticks, 3); // the paced download took the main loop's time
}

TEST_F(DownloaderTest, FailuresAndErrorPagesReachTheCaller)
{
    const Outcome refused =
        fetch(QUrl(QStringLiteral("http://127.0.0.1:%1/a.mp3").arg(test::closedLoopbackPort())));
    EXPECT_EQ(transferError(refused.result), QNetworkReply::ConnectionRefusedError);
    EXPECT_FALSE(std::get<TransferError>(refused.result.error()).message.isEmpty());

    for (const char* link : {"ftp://127.0.0.1/a.mp3", "file:///etc/hostname", "a.mp3"}) {
        const Outcome outcome = fetch(QUrl(QString::fromLatin1(link)));
        EXPECT_EQ(outcome.result.error(), DownloadError(DownloadFailure::invalidURL)) << link;
    }
    EXPECT_TRUE(server.requests().empty());

    // Qt may report a body cut short as complete; ranges and the plain download must not.
    server.setFiles({randomBytes(2 * C + 1, 19)});
    server.setBehaviour({.dropAfterBytes = 100000});
    const Outcome cut = fetch(server.url());
    EXPECT_FALSE(cut.result.ok()) << cut.contents.size() << " bytes";
    EXPECT_FALSE(server.rangesRequested().empty());
    EXPECT_GE(server.count("GET"), 1); // Qt may send it again on a fresh connection

    // An error page is a file with its status, for the caller to reject.
    server.setBehaviour({.status = 404});
    const Outcome page = fetch(server.url());
    ASSERT_TRUE(delivered(page, "<html><body>Not here</body></html>"));
    EXPECT_EQ(page.result->response.statusCode, 404);
    EXPECT_FALSE(page.result->response.isSuccess());
    EXPECT_EQ(page.result->response.mimeType, "text/html");
}

TEST_F(DownloaderTest, WithoutNetworkTheDownloadWaitsForTheServerToBeReachable)
{
    const int port = test::closedLoopbackPort();
    const QByteArray file = randomBytes(C + 1, 18);
    std::unique_ptr<RangeTestServer> late; // outlives the downloader's connections
    FastURLDownloader downloader(quickTimeouts);
    downloader.setNetworkUnavailable(true);
    QTimer::singleShot(500, [&] {
        late = std::make_unique<RangeTestServer>(std::string(), std::string(), port);
        late->setFiles({file});
        downloader.setNetworkUnavailable(false);
    });
    EXPECT_TRUE(delivered(
        fetch(downloader, QUrl(QStringLiteral("http://127.0.0.1:%1/late.mp3").arg(port))), file));
}

TEST_F(DownloaderTest, TimeoutsEndASilentProbeOrASlowDownload)
{
    const QByteArray file = randomBytes(2 * C + 1, 10);
    server.setFiles({file});
    server.setBehaviour({.headDelay = 3s});
    ASSERT_TRUE(delivered(fetch(server.url(), {}, {300ms, 10s, 30s}), file));
    EXPECT_EQ(server.count("GET"), 1);
    EXPECT_TRUE(server.rangesRequested().empty());

    server.setFiles({randomBytes(C, 11)});
    server.setBehaviour({.bytesPerSecond = 100000});
    EXPECT_EQ(transferError(fetch(server.url(), {}, {5s, 10s, 500ms}).result),
              QNetworkReply::TimeoutError);
}

TEST_F(DownloaderTest, DestroyingTheDownloaderCancelsWhatRuns)
{
    server.setFiles({randomBytes(3 * C, 14)}); // no range can finish before the end
    server.setBehaviour({.bytesPerSecond = 500000});

    auto downloader = std::make_unique<FastURLDownloader>(quickTimeouts);
    int progressCalls = 0;
    auto task = downloader->download(server.url(), [&](qint64, qint64) { ++progressCalls; });
    QEventLoop loop;
    QTimer::singleShot(300, &loop, &QEventLoop::quit);
    loop.exec();
    downloader.reset();

    EXPECT_EQ(transferError(wait(std::move(task))), QNetworkReply::OperationCanceledError);
    EXPECT_EQ(progressCalls, 0);
}

TEST_F(DownloaderTest, NeverWritesMoreThanTheCap)
{
    const QByteArray file = randomBytes(3 * C + 5, 21);
    server.setFiles({file});
    // A body without a length is cut as it passes the cap; one that fits arrives whole.
    server.setBehaviour({.endless = true});
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(
        failedWith(fetch(server.url(), {.maximumBytes = 8 * C}), DownloadFailure::fileTooLarge));
    EXPECT_LT(clock.elapsed(), 20000);
    server.setBehaviour({.sendContentLength = false});
    EXPECT_TRUE(delivered(fetch(server.url(), {.maximumBytes = file.size()}), file));

    // A declared length above the cap fails before any body is asked for, a range included.
    server.clearRecords();
    server.setBehaviour({.claimedSize = 10'000'000'000LL});
    EXPECT_TRUE(failedWith(fetch(server.url(), {.maximumBytes = qint64(2) << 30}),
                           DownloadFailure::fileTooLarge));
    EXPECT_EQ(server.count("GET"), 0);
    EXPECT_TRUE(server.rangesRequested().empty());
    server.setBehaviour({.answerHead = false, .claimedSize = 10'000'000'000LL});
    EXPECT_TRUE(
        failedWith(fetch(server.url(), {.maximumBytes = 8 * C}), DownloadFailure::fileTooLarge));
    EXPECT_TRUE(server.rangesRequested().empty());

    // The cap itself is allowed, on the ranged path too.
    server.setBehaviour({});
    EXPECT_TRUE(delivered(fetch(server.url(), {.maximumBytes = file.size()}), file));
}

TEST_F(DownloaderTest, KeepsTheFreeSpaceReserveAndDeletesWhatItWrote)
{
    test::SmallFileSystem disk(24);
    if (!disk.isMounted())
        GTEST_SKIP() << disk.skipReason().toStdString();
    const DiskReserve reserve{.minimumBytes = 8 * 1048576, .fraction = 0.0};
    const QByteArray file = randomBytes(3 * C, 22);
    server.setFiles({file});

    // Room for the file above the reserve: it arrives, in the folder asked for.
    server.setBehaviour({.sendContentLength = false});
    FastURLDownloader downloader(quickTimeouts);
    const Result fitting =
        wait(downloader.download(server.url(), {}, {.folder = disk.path(), .reserve = reserve}));
    ASSERT_TRUE(fitting);
    EXPECT_EQ(QFileInfo(fitting->path()).absolutePath(), QFileInfo(disk.path()).absoluteFilePath());
    QFile::remove(fitting->path());

    // An endless body stops at the reserve, a declared length beyond it at once, and a
    // second folder (the albums') counts as much as the working one.
    server.setBehaviour({.endless = true});
    EXPECT_TRUE(failedWith(fetch(server.url(), {.folder = disk.path(), .reserve = reserve}),
                           DownloadFailure::notEnoughDiskSpace));
    EXPECT_EQ(leftovers(disk.path()), QStringList());
    server.clearRecords();
    server.setBehaviour({.claimedSize = 20 * 1048576});
    EXPECT_TRUE(failedWith(fetch(server.url(), {.folder = disk.path(), .reserve = reserve}),
                           DownloadFailure::notEnoughDiskSpace));
    EXPECT_EQ(server.count("GET"), 0);
    server.setBehaviour({});
    EXPECT_TRUE(failedWith(
        fetch(server.url(), {.reservedFolders = {disk.path()},
                             .reserve = {.minimumBytes = 23 * 1048576, .fraction = 0.0}}),
        DownloadFailure::notEnoughDiskSpace));
    EXPECT_EQ(leftovers(disk.path()), QStringList());
}

} // namespace
} // namespace calmcove
