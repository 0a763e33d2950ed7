// How fast FastURLDownloader fetches one file, next to the tools people would use instead.
//
// Paced: a local server lets every connection carry the same number of bytes per second,
// as many servers and networks do. Our parallel download should be at least 5x one
// connection (our own plain download) and at least 0.9x `aria2c -x6 -s6 -k2M`.
// Unpaced loopback: at least 0.8x `curl` on one connection.
//
// Usage: downloader_bench [megabytes, default 50] [bytes per second per connection,
// default 4000000] [unpaced runs of each, best counts, default 9]

#include "downloader/fasturldownloader.h"
#include "rangetestserver.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <QCoreApplication>
#include <QCoro/QCoroTask>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>

using namespace calmcove;
using calmcove::test::RangeTestServer;

namespace {

QTemporaryDir* outputFolder = nullptr;

bool sameAs(const QString& path, const QByteArray& expected)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.readAll() == expected;
}

// Seconds our downloader takes; the result is checked and removed.
double ours(const QUrl& url, const QByteArray& expected)
{
    FastURLDownloader downloader;
    QElapsedTimer clock;
    clock.start();
    std::optional<DownloadResult<FastURLDownloader::DownloadedFile>> result;
    QEventLoop loop;
    auto task = downloader.download(url).then([&](auto value) {
        result = std::move(value);
        loop.quit();
    });
    if (!result)
        loop.exec();
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    if (!*result) {
        std::printf("  our download failed: %s\n",
                    qPrintable(describeDownloadError(result->error())));
        return -1;
    }
    const bool same = sameAs((*result)->path(), expected);
    QFile::remove((*result)->path());
    if (!same) {
        std::printf("  our download differs from the served file\n");
        return -1;
    }
    return seconds;
}

// Seconds a command-line tool takes to write `expected` to `output`.
double tool(const QString& program, QStringList arguments, const QString& output,
            const QByteArray& expected)
{
    QFile::remove(output);
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer clock;
    clock.start();
    process.start(program, arguments);
    if (!process.waitForFinished(600000) || process.exitCode() != 0) {
        std::printf("  %s failed\n", qPrintable(program));
        return -1;
    }
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    const bool same = sameAs(output, expected);
    QFile::remove(output);
    if (!same) {
        std::printf("  %s wrote something else than the served file\n", qPrintable(program));
        return -1;
    }
    return seconds;
}

double aria2(const QUrl& url, const QByteArray& expected)
{
    const QString folder = outputFolder->path();
    return tool(QStringLiteral("aria2c"),
                {"-x6", "-s6", "-k2M", "--file-allocation=none", "--allow-overwrite=true",
                 "--auto-file-renaming=false", "--summary-interval=0", "-q", "-d", folder, "-o",
                 "aria2.out", url.toString()},
                folder + QStringLiteral("/aria2.out"), expected);
}

// curl's own figure for the transfer, which leaves out starting the process.
double curl(const QUrl& url, const QByteArray& expected)
{
    const QString output = outputFolder->path() + QStringLiteral("/curl.out");
    QFile::remove(output);
    QProcess process;
    process.start(QStringLiteral("curl"),
                  {"-s", "-f", "-o", output, "-w", "%{time_total}", url.toString()});
    if (!process.waitForFinished(600000) || process.exitCode() != 0) {
        std::printf("  curl failed\n");
        return -1;
    }
    const double seconds = process.readAllStandardOutput().trimmed().toDouble();
    const bool same = sameAs(output, expected);
    QFile::remove(output);
    if (!same) {
        std::printf("  curl wrote something else than the served file\n");
        return -1;
    }
    return seconds;
}

void line(const char* what, double seconds, double megabytes)
{
    if (seconds > 0)
        std::printf("  %-44s %7.2f s  %8.1f MB/s\n", what, seconds, megabytes / seconds);
    else
        std::printf("  %-44s failed\n", what);
}

bool verdict(const char* what, double ratio, double target)
{
    const bool met = ratio >= target;
    std::printf("  %-44s %7.2fx  (target >= %.1fx) %s\n", what, ratio, target,
                met ? "met" : "MISSED");
    return met;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const qint64 megabytes = argc > 1 ? QByteArray(argv[1]).toLongLong() : 50;
    const long long pace = argc > 2 ? QByteArray(argv[2]).toLongLong() : 4000000;
    const int runs = argc > 3 ? QByteArray(argv[3]).toInt() : 9;
    const double size = double(megabytes) * 1e6;
    const bool haveAria2 = !QStandardPaths::findExecutable(QStringLiteral("aria2c")).isEmpty();
    const bool haveCurl = !QStandardPaths::findExecutable(QStringLiteral("curl")).isEmpty();

    QTemporaryDir folder;
    outputFolder = &folder;
    QByteArray file(megabytes * 1000000, Qt::Uninitialized);
    QRandomGenerator generator(50);
    for (char& byte : file)
        byte = char(generator.bounded(256));

    RangeTestServer server;
    server.setFiles({file});
    const QUrl url = server.url(QStringLiteral("/bench/file.bin"));
    RangeTestServer::Behaviour paced;
    paced.bytesPerSecond = pace;
    bool allMet = true;

    std::printf("%lld MB file, every connection paced to %.1f MB/s\n", megabytes,
                double(pace) / 1e6);
    server.setBehaviour(paced);
    const double parallel = ours(url, file);
    line("parallel download (6 connections)", parallel, size / 1e6);
    const double aria = haveAria2 ? aria2(url, file) : -1;
    line(haveAria2 ? "aria2c -x6 -s6 -k2M" : "aria2c (not installed)", aria, size / 1e6);
    RangeTestServer::Behaviour single = paced;
    single.acceptRanges = "none";
    server.setBehaviour(single);
    const double plain = ours(url, file);
    line("single connection (our plain download)", plain, size / 1e6);
    if (parallel > 0 && plain > 0)
        allMet &= verdict("parallel vs single connection", plain / parallel, 5.0);
    if (parallel > 0 && aria > 0)
        allMet &= verdict("parallel vs aria2c", aria / parallel, 0.9);

    std::printf("\n%lld MB file, unpaced loopback, best of %d\n", megabytes, runs);
    server.setBehaviour({});
    double bestOurs = 1e9;
    double bestCurl = 1e9;
    for (int run = 0; run < runs; ++run) {
        const double o = ours(url, file);
        const double c = haveCurl ? curl(url, file) : -1;
        if (o > 0)
            bestOurs = std::min(bestOurs, o);
        if (c > 0)
            bestCurl = std::min(bestCurl, c);
    }
    line("parallel download", bestOurs < 1e9 ? bestOurs : -1, size / 1e6);
    line(haveCurl ? "curl (its own time_total)" : "curl (not installed)",
         bestCurl < 1e9 ? bestCurl : -1, size / 1e6);
    if (bestOurs < 1e9 && bestCurl < 1e9)
        allMet &= verdict("parallel vs curl", bestCurl / bestOurs, 0.8);
    return allMet ? 0 : 1;
}
