// Track-library throughput: verifying an installed library against `openssl dgst -sha256`
// over the same files in the same run, and installing it from a loopback HTTPS server
// next to curl fetching the same files one after another.
//
//   library_bench [track count] [total megabytes]     (default: 51 tracks, 150 MB)
//
// Target: verification at least 0.9x the throughput of openssl dgst. The install figure is
// reported beside curl's; it has no target.

#include "../../tests/library/librarytesting.h"

#include "library/filedigest.h"
#include "library/verificationrecords.h"
#include "support/tempxdg.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <random>

using namespace calmcove;

namespace {

QByteArray randomBytes(qsizetype size, quint64 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    std::mt19937_64 generator(seed);
    qsizetype i = 0;
    for (; i + 8 <= size; i += 8) {
        const quint64 word = generator();
        memcpy(bytes.data() + i, &word, 8);
    }
    for (; i < size; ++i)
        bytes[i] = char(generator());
    return bytes;
}

double seconds(const QElapsedTimer& timer)
{
    return double(timer.nsecsElapsed()) / 1e9;
}

// Wall time of a command, or a negative value when it fails.
double runTimed(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer timer;
    timer.start();
    process.start(program, arguments);
    if (!process.waitForFinished(600000) || process.exitCode() != 0)
        return -1;
    return seconds(timer);
}

} // namespace

int main(int argc, char** argv)
{
    const test::TemporaryXdgDirectories xdg;
    QCoreApplication app(argc, argv);
    const int trackCount = argc > 1 ? std::max(1, atoi(argv[1])) : 51;
    const double totalMB = argc > 2 ? std::max(1.0, atof(argv[2])) : 150.0;
    const qsizetype trackSize = qsizetype(totalMB * 1e6 / trackCount);

    test::LibraryHarness h;
    h.timeouts = AudioPackClientTimeouts{};
    QStringList ids;
    for (int i = 0; i < trackCount; ++i)
        ids << QStringLiteral("bench-track-%1").arg(i + 1, 2, 10, QLatin1Char('0'));

    std::printf("Preparing %d tracks of %.2f MB (%.1f MB in all)...\n", trackCount,
                double(trackSize) / 1e6, double(trackSize) * trackCount / 1e6);
    test::TestPack pack;
    pack.version = QStringLiteral("bench");
    pack.manifest.version = pack.version;
    pack.manifest.minimumAppVersion = QStringLiteral("1.0");
    pack.manifest.generatedAt = QStringLiteral("2024-06-01T12:00:00Z");
    for (int i = 0; i < trackCount; ++i) {
        const QByteArray bytes = randomBytes(trackSize, quint64(i) + 1);
        const QString fileName = ids[i] + QStringLiteral(".m4a");
        pack.contents.insert(fileName, bytes);
        AudioPackTrack track;
        track.id = ids[i];
        track.fileName = fileName;
        track.byteCount = bytes.size();
        track.sha256 = test::sha256Hex(bytes);
        track.downloadURL = h.server.url(QString::fromStdString(pack.trackPath(fileName)));
        pack.manifest.tracks.append(track);
        pack.manifest.totalBytes += bytes.size();
    }
    pack.manifest.trackCount = trackCount;
    pack.publish(h.server);
    h.useManifest(pack);
    const double megabytes = double(pack.manifest.totalBytes) / 1e6;

    // ---- install from the loopback server
    auto store = h.makeStore();
    QElapsedTimer timer;
    timer.start();
    test::await(store->installLatestPackIfNeeded(false));
    const double installSeconds = seconds(timer);
    if (store->status() != AudioPackStatus::ready(pack.version)) {
        std::fprintf(stderr, "install failed: %s\n", qPrintable(store->statusDetail()));
        return 1;
    }
    store.reset();

    QTemporaryDir curlFolder;
    QStringList curlArguments = {QStringLiteral("-s"), QStringLiteral("-f"),
                                 QStringLiteral("--cacert"),
                                 test::TestCertificates::shared().caFile};
    for (const AudioPackTrack& track : pack.manifest.tracks)
        curlArguments << QStringLiteral("-o") << curlFolder.filePath(track.fileName)
                      << track.downloadURL.toString();
    const double curlSeconds = runTimed(QStringLiteral("curl"), curlArguments);

    // ---- verification, with the files in the page cache for both
    const QString audioDir = h.packsRoot() + QStringLiteral("/bench/Audio");
    QStringList files;
    for (const AudioPackTrack& track : pack.manifest.tracks)
        files << audioDir + QLatin1Char('/') + track.fileName;
    double bestOpenSsl = 1e9;
    double bestOurs = 1e9;
    bool allVerified = true;
    for (int round = 0; round < 5; ++round) {
        const double openssl =
            runTimed(QStringLiteral("openssl"), QStringList{"dgst", "-sha256"} + files);
        if (openssl > 0)
            bestOpenSsl = std::min(bestOpenSsl, openssl);
        FileDigestCache cache; // a new launch: nothing known yet
        timer.restart();
        for (qsizetype i = 0; i < files.size(); ++i)
            allVerified = allVerified && cache.digest(files[i]) == pack.manifest.tracks[i].sha256;
        bestOurs = std::min(bestOurs, seconds(timer));
    }

    // ---- launches with the full library: with its verification records, then without
    // them (the files are hashed on a worker thread; measured until that is done)
    timer.restart();
    store = h.makeStore(test::LibraryHarness::Launch::asConstructed);
    const double launchSeconds = seconds(timer);
    const bool trusted = !store->verifyingInstalledFiles() && store->fullLibraryIsInstalled();
    store.reset();
    QFile::remove(h.packsRoot() + QStringLiteral("/bench/") + verificationRecordsFileName);
    timer.restart();
    store = h.makeStore(test::LibraryHarness::Launch::asConstructed);
    const double unrecordedLaunchSeconds = seconds(timer);
    test::runUntilOrAbort([&] { return !store->verifyingInstalledFiles(); });
    const double backgroundSeconds = seconds(timer);
    timer.restart();
    const bool stillVerified = trusted && store->allTracksVerified(pack.manifest);
    const double recheckSeconds = seconds(timer);

    const double ratio = bestOpenSsl / bestOurs;
    std::printf("\n%-44s %10s %10s\n", "", "seconds", "MB/s");
    std::printf("%-44s %10.3f %10.0f\n", "install from loopback HTTPS (calmcove)", installSeconds,
                megabytes / installSeconds);
    if (curlSeconds > 0)
        std::printf("%-44s %10.3f %10.0f\n", "curl, same files one after another", curlSeconds,
                    megabytes / curlSeconds);
    std::printf("%-44s %10.3f %10.0f\n", "verify, streamed SHA-256 (calmcove)", bestOurs,
                megabytes / bestOurs);
    std::printf("%-44s %10.3f %10.0f\n", "openssl dgst -sha256, same files", bestOpenSsl,
                megabytes / bestOpenSsl);
    std::printf("%-44s %10.4f\n", "launch with the full library and its records", launchSeconds);
    std::printf("%-44s %10.4f\n", "launch without records (store ready)", unrecordedLaunchSeconds);
    std::printf("%-44s %10.3f\n", "  until the worker verified every file", backgroundSeconds);
    std::printf("%-44s %10.4f\n", "verify again in the same launch (cached)", recheckSeconds);
    std::printf("\nverification throughput: %.2fx openssl (target >= 0.90): %s\n", ratio,
                ratio >= 0.9 && allVerified && stillVerified ? "PASS" : "FAIL");
    return ratio >= 0.9 && allVerified && stillVerified ? 0 : 1;
}
