// calmcove-pack serve and make-ca, as a client sees them: real HTTPS on loopback with a
// freshly made CA, GET, HEAD, byte ranges, 404, refused escapes, a pack installable end to
// end, and a clean exit on SIGINT and SIGTERM.

#include "library/audiopackformat.h"
#include "packtestsupport.h"
#include "support/qtprinters.h"
#include "tools/pack/certificateauthority.h"
#include "tools/pack/packbuilder.h"
#include "tools/pack/staticfileserver.h"

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSslCertificate>
#include <QTemporaryDir>

namespace calmcove {
namespace {

using test::fetch;
using test::HttpAnswer;
using test::sha256;
using test::writeAll;

// Starts `calmcove-pack serve` on a free loopback port; the URL it prints, or empty.
QUrl startServer(QProcess& process, const QString& root, const CertificateAuthorityFiles& ca)
{
    process.start(test::packProgram(), {"serve", "--root", root, "--cert", ca.serverCertificate,
                                        "--key", ca.serverKey, "--port", "0"});
    while (process.waitForStarted(10000) && !process.canReadLine() &&
           process.state() == QProcess::Running)
        process.waitForReadyRead(10000);
    const QString line = QString::fromUtf8(process.readLine()).trimmed();
    return line.startsWith("https://127.0.0.1:") && line.endsWith('/') ? QUrl(line) : QUrl();
}

// One server for the suite, serving a folder with a multi-block file, a hidden folder, a
// link that leads outside, and a secret beside the root.
class PackServeTest : public ::testing::Test
{
protected:
    struct Site
    {
        QTemporaryDir folder;
        CertificateAuthorityFiles ca;
        QByteArray blob = QByteArray(200 * 1024, '\0');
        QProcess server;
        QUrl url;
    };

    static void SetUpTestSuite()
    {
        s = new Site;
        const PackResult<CertificateAuthorityFiles> ca =
            makeCertificateAuthority(s->folder.filePath("ca"), QStringLiteral("127.0.0.1"));
        ASSERT_TRUE(ca.ok()) << ca.message().toStdString();
        s->ca = *ca;
        for (qsizetype i = 0; i < s->blob.size(); ++i)
            s->blob[i] = static_cast<char>((i * 7919) >> 5);
        const QDir root(s->folder.filePath("root"));
        ASSERT_TRUE(root.mkpath("1.0") && root.mkpath(".staging-x"));
        ASSERT_TRUE(writeAll(root.filePath("1.0/blob.m4a"), s->blob) &&
                    writeAll(root.filePath(".staging-x/blob.m4a"), s->blob) &&
                    writeAll(root.filePath("empty.json"), "") &&
                    writeAll(s->folder.filePath("secret.txt"), "the secret") &&
                    QFile::link(s->folder.filePath("secret.txt"), root.filePath("link.txt")));
        s->url = startServer(s->server, root.path(), s->ca);
        ASSERT_TRUE(s->url.isValid()) << s->server.readAllStandardError().toStdString();
    }
    static void TearDownTestSuite()
    {
        s->server.terminate();
        s->server.waitForFinished(10000);
        delete s;
    }

    static HttpAnswer get(const char* encodedPath, const QByteArray& range = {},
                          const QByteArray& verb = "GET")
    {
        const QUrl url(s->url.toString() + &encodedPath[1], QUrl::StrictMode);
        return fetch(verb, url, s->ca.caCertificate, range);
    }

    static inline Site* s = nullptr;
};

TEST_F(PackServeTest, ServesWholeFilesAndTheirHeadsToClientsThatTrustTheCA)
{
    const HttpAnswer whole = get("/1.0/blob.m4a");
    EXPECT_EQ(whole.status, 200);
    EXPECT_EQ(whole.body, s->blob);
    EXPECT_EQ(whole.headers.value("content-type"), "audio/mp4");
    EXPECT_EQ(whole.headers.value("accept-ranges"), "bytes");

    const HttpAnswer head = get("/1.0/blob.m4a", {}, "HEAD");
    EXPECT_EQ(head.status, 200);
    EXPECT_TRUE(head.body.isEmpty());
    EXPECT_EQ(head.headers.value("content-length"), QByteArray::number(s->blob.size()));

    const HttpAnswer empty = get("/empty.json");
    EXPECT_EQ(empty.status, 200);
    EXPECT_TRUE(empty.body.isEmpty());
    EXPECT_EQ(empty.headers.value("content-type"), "application/json");

    const HttpAnswer untrusting = fetch("GET", s->url.resolved(QUrl("1.0/blob.m4a")), QString());
    EXPECT_EQ(untrusting.error, QNetworkReply::SslHandshakeFailedError);
    EXPECT_TRUE(untrusting.body.isEmpty());
}

TEST_F(PackServeTest, AnswersSingleByteRanges)
{
    const qsizetype size = s->blob.size();
    const QByteArray total = QByteArray::number(size);
    const struct
    {
        QByteArray range;
        int status;
        qsizetype first;
        qsizetype last;
    } cases[] = {
        {"bytes=10-99", 206, 10, 99},
        {"bytes=0-0", 206, 0, 0},
        {"bytes=-5", 206, size - 5, size - 1},
        {"bytes=70000-", 206, 70000, size - 1}, // crosses the server's read blocks
        {"bytes=100-99999999", 206, 100, size - 1},
        {"bytes=-99999999", 206, 0, size - 1},
        {"bytes=" + total + "-", 416, 0, -1},
        {"bytes=" + total + "-" + QByteArray::number(size + 10), 416, 0, -1},
        {"bytes=0-1,5-6", 200, 0, size - 1}, // several ranges: the whole file
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.range.toStdString());
        const HttpAnswer answer = get("/1.0/blob.m4a", c.range);
        ASSERT_EQ(answer.status, c.status);
        const QByteArray span = QByteArray::number(c.first) + '-' + QByteArray::number(c.last);
        EXPECT_EQ(answer.headers.value("content-range"),
                  c.status == 200
                      ? QByteArray()
                      : "bytes " + (c.status == 206 ? span : QByteArray("*")) + '/' + total);
        if (c.status != 416) {
            EXPECT_EQ(answer.body, s->blob.mid(c.first, c.last - c.first + 1));
        }
    }
}

TEST_F(PackServeTest, ServesNothingButPublishedFilesInsideTheRoot)
{
    const struct
    {
        const char* path;
        int status;
    } cases[] = {{"/", 404},
                 {"/missing.json", 404},
                 {"/1.0", 404},
                 {"/1.0/", 404},
                 {"/.staging-x/blob.m4a", 404},
                 {"/1.0/blob.m4a/x", 404},
                 {"/..%2Fsecret.txt", 403},
                 {"/1.0/..%2F..%2Fsecret.txt", 403},
                 {"/1.0/%2E%2E%5C..%5Csecret.txt", 403},
                 {"/link.txt", 403},
                 {"/1.0%00/blob.m4a", 403}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const HttpAnswer answer = get(c.path);
        EXPECT_EQ(answer.status, c.status);
        EXPECT_NE(answer.body, s->blob);
        EXPECT_FALSE(answer.body.contains("the secret"));
    }
}

TEST_F(PackServeTest, APackBuiltForTheServerIsInstallableFromIt)
{
    QTemporaryDir input;
    ASSERT_TRUE(test::makeTone(input.filePath("quiet-circuit.m4a"), 0.5, 440));
    const PackResult<PackBuildReport> built =
        buildPack({input.path(), s->folder.filePath("root"), "9.0", s->url, {}, {}, {}});
    ASSERT_TRUE(built.ok()) << built.message().toStdString();

    // What the client does: index, then the manifest it names, then each track's URL.
    const Result<AudioPackIndex> index = decodeAudioPackIndex(get("/index.json").body);
    ASSERT_TRUE(index.ok());
    const Result<AudioPackManifest> manifest = decodeAudioPackManifest(
        fetch("GET", index->packs.front().manifestURL, s->ca.caCertificate).body);
    ASSERT_TRUE(manifest.ok());
    ASSERT_EQ(manifest->tracks.size(), 1);
    const AudioPackTrack& track = manifest->tracks.front();
    const HttpAnswer file = fetch("GET", track.downloadURL, s->ca.caCertificate);
    EXPECT_EQ(file.status, 200);
    EXPECT_EQ(file.body.size(), track.byteCount);
    EXPECT_EQ(sha256(file.body), track.sha256);
}

TEST(PackServeCommandTest, MakeCaThenServeUntilSigintOrSigterm)
{
    QTemporaryDir folder;
    const test::PackRun made = test::runPack({"make-ca", "--output", folder.path()});
    ASSERT_EQ(made.exitCode, 0) << made.err.toStdString();
    EXPECT_TRUE(made.out.contains("CA certificate (trust this)"));
    const QDir ca(folder.path());
    const CertificateAuthorityFiles files{ca.filePath("ca.pem"), ca.filePath("ca-key.pem"),
                                          ca.filePath("server.pem"), ca.filePath("server-key.pem")};
    for (const int signalNumber : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signalNumber);
        QProcess server;
        const QUrl url = startServer(server, folder.path(), files);
        ASSERT_TRUE(url.isValid());
        EXPECT_EQ(fetch("GET", url.resolved(QUrl("ca.pem")), files.caCertificate).status, 200);
        ::kill(static_cast<pid_t>(server.processId()), signalNumber);
        ASSERT_TRUE(server.waitForFinished(10000));
        EXPECT_EQ(server.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(server.exitCode(), 0);
    }
}

TEST(PackServeCommandTest, FailsClearlyWhenItCannotServe)
{
    QTemporaryDir folder;
    const PackResult<CertificateAuthorityFiles> ca =
        makeCertificateAuthority(folder.path(), QStringLiteral("127.0.0.1"));
    ASSERT_TRUE(ca.ok());
    StaticFileServer busy(folder.path(), ca->serverCertificate, ca->serverKey);
    const PackResult<int> port = busy.start(QStringLiteral("127.0.0.1"), 0);
    ASSERT_TRUE(port.ok());
    const QStringList serve = {"serve", "--cert", ca->serverCertificate, "--key"};
    const struct
    {
        QStringList arguments;
        int exitCode;
        const char* message;
    } cases[] = {
        {{ca->serverKey, "--root", folder.filePath("nope")}, 1, "does not exist"},
        {{ca->caCertificate, "--root", folder.path()}, 1, "Cannot use the certificate"},
        {{ca->serverKey, "--root", folder.path(), "--port", QString::number(*port)},
         1,
         "Cannot listen"},
        {{ca->serverKey, "--root", folder.path(), "--port", "70000"}, 2, "--port wants a number"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        const test::PackRun run = test::runPack(serve + c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode);
        EXPECT_TRUE(run.err.contains(c.message)) << run.err.toStdString();
    }
}

TEST(CertificateAuthorityTest, SignsAServerCertificateForTheHost)
{
    const struct
    {
        const char* host;
        QSsl::AlternativeNameEntryType type;
    } cases[] = {{"::1", QSsl::IpAddressEntry}, {"packs.example.test", QSsl::DnsEntry}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.host);
        QTemporaryDir folder;
        const PackResult<CertificateAuthorityFiles> files =
            makeCertificateAuthority(folder.path(), QString::fromLatin1(c.host));
        ASSERT_TRUE(files.ok()) << files.message().toStdString();
        const QList<QSslCertificate> server = QSslCertificate::fromPath(files->serverCertificate);
        ASSERT_EQ(server.size(), 1);
        EXPECT_TRUE(server.front().subjectAlternativeNames().values(c.type).contains(
            QString::fromLatin1(c.host)));
        for (const QString& key : {files->caKey, files->serverKey})
            EXPECT_EQ(std::filesystem::status(key.toStdString()).permissions(),
                      std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    }
    QTemporaryDir folder;
    EXPECT_FALSE(makeCertificateAuthority(folder.path(), QStringLiteral("two words")).ok());
    EXPECT_FALSE(makeCertificateAuthority(folder.path(), QStringLiteral(" ")).ok());
}

} // namespace
} // namespace calmcove
