// calmcove-pack: publishes track-library packs and application releases, and serves them
// for development.
//
//   calmcove-pack build --input DIR --output DIR --version V --base-url https://HOST[:PORT]/PATH
//                       [--metadata FILE.json] [--minimum-app-version V] [--tag T]
//   calmcove-pack serve --root DIR --cert PEM --key PEM [--host 127.0.0.1] [--port N]
//   calmcove-pack make-ca --output DIR [--host 127.0.0.1]
//   calmcove-pack keygen --output DIR
//   calmcove-pack release --archive FILE --feed FEED.json --key PRIVATE.pem --version V
//                         --url URL [--notes TEXT] [--minimum-version V] [--release-page URL]
//
// Exit status: 0 done, 1 failed (the reason on standard error), 2 wrong usage.

#include "library/buildinfo.h"
#include "media/medialog.h"
#include "tools/pack/certificateauthority.h"
#include "tools/pack/packbuilder.h"
#include "tools/pack/releasepublisher.h"
#include "tools/pack/staticfileserver.h"

#include <csignal>
#include <cstdio>
#include <ctime>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QLocale>

namespace calmcove {
namespace {

const char usage[] =
    "Usage:\n"
    "  calmcove-pack build --input DIR --output DIR --version V --base-url URL\n"
    "                      [--metadata FILE.json] [--minimum-app-version V] [--tag T]\n"
    "  calmcove-pack serve --root DIR --cert PEM --key PEM [--host 127.0.0.1] [--port 8443]\n"
    "  calmcove-pack make-ca --output DIR [--host 127.0.0.1]\n"
    "  calmcove-pack keygen --output DIR\n"
    "  calmcove-pack release --archive FILE --feed FEED.json --key PRIVATE.pem --version V\n"
    "                        --url URL [--notes TEXT] [--minimum-version V]\n"
    "                        [--release-page URL]\n"
    "\n"
    "build    writes <output>/<version>/ (the .m4a files of the input folder and their\n"
    "         manifest) and adds the pack to <output>/index.json. URL is the https address\n"
    "         at which <output> is served. The metadata file maps track ids to\n"
    "         {\"title\", \"artist\", \"moods\", \"kind\"}; catalogue tracks default to their\n"
    "         catalogue entry.\n"
    "serve    serves a folder over HTTPS (GET, HEAD, byte ranges) until SIGINT or SIGTERM;\n"
    "         prints its URL. Port 0 picks a free port.\n"
    "make-ca  writes ca.pem, ca-key.pem, server.pem and server-key.pem: a new local CA and a\n"
    "         server certificate for the host.\n"
    "keygen   writes calmcove-release-key.pem (Ed25519, PKCS#8) and calmcove-release-key.pub.pem\n"
    "         (SubjectPublicKeyInfo); build Calmcove with CALMCOVE_UPDATE_PUBLIC_KEY set to\n"
    "         the public file's base64 line. Check a signature with: openssl pkeyutl -verify\n"
    "         -pubin -inkey calmcove-release-key.pub.pem -rawin -in FILE -sigfile SIG\n"
    "release  signs a release archive (calmcove-V-linux-x86_64.tar.xz) and adds it to the\n"
    "         update feed, replacing an entry of the same version. URL is the archive's\n"
    "         https address; serve the feed's folder with serve.\n";

void printError(const QString& message)
{
    std::fprintf(stderr, "calmcove-pack: %s\n", qPrintable(message));
}

int usageError(const QString& message)
{
    printError(message);
    std::fprintf(stderr, "\n%s", usage);
    return 2;
}

// Parses the options of one command; on failure prints why and returns false.
bool parse(QCommandLineParser& parser, const QStringList& arguments,
           const QList<QCommandLineOption>& options, const QStringList& required)
{
    parser.addOptions(options);
    if (!parser.parse(arguments)) {
        printError(parser.errorText());
        return false;
    }
    if (!parser.positionalArguments().isEmpty()) {
        printError(
            QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first()));
        return false;
    }
    for (const QString& name : required) {
        if (!parser.isSet(name)) {
            printError(QStringLiteral("--%1 is required").arg(name));
            return false;
        }
    }
    return true;
}

QCommandLineOption valueOption(const char* name, const char* description)
{
    return QCommandLineOption(QLatin1String(name), QLatin1String(description),
                              QStringLiteral("value"));
}

int runBuild(const QStringList& arguments)
{
    QCommandLineParser parser;
    if (!parse(parser, arguments,
               {valueOption("input", "folder of .m4a files"),
                valueOption("output", "folder served at the base URL"),
                valueOption("version", "pack version"),
                valueOption("base-url", "https URL of the output folder"),
                valueOption("metadata", "JSON file of track metadata"),
                valueOption("minimum-app-version", "lowest app version that may install it"),
                valueOption("tag", "informational tag")},
               {QStringLiteral("input"), QStringLiteral("output"), QStringLiteral("version"),
                QStringLiteral("base-url")}))
        return usageError(QStringLiteral("build: wrong usage"));

    PackBuildOptions options;
    options.inputDirectory = parser.value(QStringLiteral("input"));
    options.outputDirectory = parser.value(QStringLiteral("output"));
    options.version = parser.value(QStringLiteral("version"));
    options.baseURL = QUrl(parser.value(QStringLiteral("base-url")), QUrl::StrictMode);
    options.metadataFile = parser.value(QStringLiteral("metadata"));
    if (parser.isSet(QStringLiteral("tag")))
        options.tag = parser.value(QStringLiteral("tag"));
    if (parser.isSet(QStringLiteral("minimum-app-version")))
        options.minimumAppVersion = parser.value(QStringLiteral("minimum-app-version"));

    silenceMediaLog();
    const PackResult<PackBuildReport> report = buildPack(options);
    if (!report) {
        printError(report.message());
        return 1;
    }
    const AudioPackManifest& manifest = report->manifest;
    std::printf("%s pack %s: %lld tracks, %s, for Calmcove %s or newer, in %s\n",
                report->replacedEarlierBuild ? "Rebuilt" : "Built", qPrintable(manifest.version),
                static_cast<long long>(manifest.trackCount),
                qPrintable(QLocale::c().formattedDataSize(manifest.totalBytes, 1,
                                                          QLocale::DataSizeSIFormat)),
                qPrintable(manifest.minimumAppVersion), qPrintable(report->packDirectory));
    std::printf("Index %s lists %lld pack(s); latest %s\n", qPrintable(report->indexPath),
                static_cast<long long>(report->index.packs.size()),
                qPrintable(report->index.latest.value_or(QString())));
    return 0;
}

int runServe(const QStringList& arguments)
{
    QCommandLineParser parser;
    if (!parse(parser, arguments,
               {valueOption("root", "folder to serve"),
                valueOption("cert", "server certificate (PEM)"),
                valueOption("key", "server private key (PEM)"),
                valueOption("host", "address to listen on (default 127.0.0.1)"),
                valueOption("port", "port (default 8443; 0 picks a free one)")},
               {QStringLiteral("root"), QStringLiteral("cert"), QStringLiteral("key")}))
        return usageError(QStringLiteral("serve: wrong usage"));
    const QString host = parser.isSet(QStringLiteral("host")) ? parser.value(QStringLiteral("host"))
                                                              : QStringLiteral("127.0.0.1");
    bool portOk = true;
    const int port = parser.isSet(QStringLiteral("port"))
                         ? parser.value(QStringLiteral("port")).toInt(&portOk)
                         : 8443;
    if (!portOk || port < 0 || port > 65535)
        return usageError(QStringLiteral("serve: --port wants a number from 0 to 65535"));

    // The server's threads inherit this mask, so the signals reach only sigtimedwait below.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    // A client that disconnects mid-answer must not end the server.
    std::signal(SIGPIPE, SIG_IGN);

    StaticFileServer server(
        parser.value(QStringLiteral("root")), parser.value(QStringLiteral("cert")),
        parser.value(QStringLiteral("key")),
        [](const QString& line) { std::fprintf(stderr, "%s\n", qPrintable(line)); });
    const PackResult<int> started = server.start(host, port);
    if (!started) {
        printError(started.message());
        return 1;
    }
    std::printf("%s\n", server.url().toString(QUrl::FullyEncoded).toUtf8().constData());
    std::fflush(stdout);
    std::fprintf(stderr, "Serving %s; SIGINT or SIGTERM stops.\n",
                 qPrintable(parser.value(QStringLiteral("root"))));

    const timespec pollInterval{0, 200'000'000};
    while (server.isRunning()) {
        const int received = sigtimedwait(&stopSignals, nullptr, &pollInterval);
        if (received == SIGINT || received == SIGTERM) {
            server.stop();
            return 0;
        }
    }
    printError(QStringLiteral("the server stopped unexpectedly"));
    return 1;
}

int runMakeCA(const QStringList& arguments)
{
    QCommandLineParser parser;
    if (!parse(parser, arguments,
               {valueOption("output", "folder for the PEM files"),
                valueOption("host", "host name or address of the server (default 127.0.0.1)")},
               {QStringLiteral("output")}))
        return usageError(QStringLiteral("make-ca: wrong usage"));
    const QString host = parser.isSet(QStringLiteral("host")) ? parser.value(QStringLiteral("host"))
                                                              : QStringLiteral("127.0.0.1");
    const PackResult<CertificateAuthorityFiles> files =
        makeCertificateAuthority(parser.value(QStringLiteral("output")), host);
    if (!files) {
        printError(files.message());
        return 1;
    }
    std::printf("CA certificate (trust this): %s\nServer certificate for %s: %s\nServer key: %s\n",
                qPrintable(files->caCertificate), qPrintable(host),
                qPrintable(files->serverCertificate), qPrintable(files->serverKey));
    return 0;
}

int runKeygen(const QStringList& arguments)
{
    QCommandLineParser parser;
    if (!parse(parser, arguments, {valueOption("output", "folder for the key files")},
               {QStringLiteral("output")}))
        return usageError(QStringLiteral("keygen: wrong usage"));
    const PackResult<ReleaseKeyFiles> files =
        makeReleaseKeys(parser.value(QStringLiteral("output")));
    if (!files) {
        printError(files.message());
        return 1;
    }
    std::printf("Private key (keep it secret): %s\nPublic key: %s\n", qPrintable(files->privateKey),
                qPrintable(files->publicKey));
    return 0;
}

int runRelease(const QStringList& arguments)
{
    QCommandLineParser parser;
    if (!parse(parser, arguments,
               {valueOption("archive", "the release archive"),
                valueOption("feed", "the update feed (JSON), created when missing"),
                valueOption("key", "the Ed25519 private key (PEM)"),
                valueOption("version", "the release's version"),
                valueOption("url", "https address of the archive"),
                valueOption("notes", "short release notes"),
                valueOption("minimum-version", "lowest version that may update to it"),
                valueOption("release-page", "web page of the release")},
               {QStringLiteral("archive"), QStringLiteral("feed"), QStringLiteral("key"),
                QStringLiteral("version"), QStringLiteral("url")}))
        return usageError(QStringLiteral("release: wrong usage"));
    ReleaseOptions options;
    options.archivePath = parser.value(QStringLiteral("archive"));
    options.feedPath = parser.value(QStringLiteral("feed"));
    options.privateKeyPath = parser.value(QStringLiteral("key"));
    options.version = parser.value(QStringLiteral("version"));
    options.archiveURL = QUrl(parser.value(QStringLiteral("url")), QUrl::StrictMode);
    options.notes = parser.value(QStringLiteral("notes"));
    if (parser.isSet(QStringLiteral("minimum-version")))
        options.minimumVersion = parser.value(QStringLiteral("minimum-version"));
    if (parser.isSet(QStringLiteral("release-page")))
        options.releasePage = QUrl(parser.value(QStringLiteral("release-page")), QUrl::StrictMode);
    const PackResult<ReleaseReport> report = publishRelease(options);
    if (!report) {
        printError(report.message());
        return 1;
    }
    std::printf(
        "%s Calmcove %s (%lld bytes, SHA-256 %s) in %s, which lists %d release(s)\n",
        report->replacedEarlierEntry ? "Replaced" : "Added", qPrintable(report->release.version),
        static_cast<long long>(report->release.byteCount), qPrintable(report->release.sha256),
        qPrintable(options.feedPath), report->releaseCount);
    return 0;
}

} // namespace
} // namespace calmcove

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList arguments = app.arguments();
    const QString command = arguments.size() > 1 ? arguments[1] : QString();
    if (command == QLatin1String("--help") || command == QLatin1String("-h") ||
        command == QLatin1String("help")) {
        std::printf("%s", calmcove::usage);
        return 0;
    }
    // Each command parses its own options; the parser wants the program name first.
    arguments.removeAt(std::min<qsizetype>(1, arguments.size() - 1));
    if (command == QLatin1String("build"))
        return calmcove::runBuild(arguments);
    if (command == QLatin1String("serve"))
        return calmcove::runServe(arguments);
    if (command == QLatin1String("make-ca"))
        return calmcove::runMakeCA(arguments);
    if (command == QLatin1String("keygen"))
        return calmcove::runKeygen(arguments);
    if (command == QLatin1String("release"))
        return calmcove::runRelease(arguments);
    return calmcove::usageError(command.isEmpty()
                                    ? QStringLiteral("a command is needed")
                                    : QStringLiteral("unknown command \"%1\"").arg(command));
}
