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
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSslCertificate>
#include <QSslCertificateExtension>
#include <QTemporaryDir>

namespace calmcove {
namespace {

using test::fetch;
using test::HttpAnswer;
using test::readAll;
using test::writeAll;

QString program()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/calmcove-pack");
}

// Starts `calmcove-pack serve` on a free loopback port; the URL it prints, or empty.
QUrl startServer(QProcess& process, const QString& root, const CertificateAuthorityFiles& ca)
{
    process.start(program(), {"serve", "--root", root, "--cert", ca.serverCertificate, "--key",
                              ca.serverKey, "--port", "0"});
    if (!process.waitForStarted(10000))
        return {};
    while (!process.canReadLine() && process.state() == QProcess::Running)
        process.waitForReadyRead(10000);
    const QString line = QString::fromUtf8(process.readLine()).trimmed();
    return QRegularExpression(QStringLiteral("^https://127\\.0\\.0\\.1:\\d+/$"))
                   .match(line)
                   .hasMatch()
               ? QUrl(line)
               : QUrl();
}

// One server for the suite, serving a folder with a multi-block file, a hidden folder, a
// link that leads outside, and a secret beside the root.
class PackServeTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_folder = new QTemporaryDir;
        const PackResult<CertificateAuthorityFiles> ca =
            makeCertificateAuthority(s_folder->filePath("ca"), QStringLiteral("127.0.0.1"));
        ASSERT_TRUE(ca.ok()) << ca.message().toStdString();
        s_ca = *ca;

        QByteArray blob(200 * 1024, Qt::Uninitialized);
        for (qsizetype i = 0; i < blob.size(); ++i)
            blob[i] = static_cast<char>((i * 7919) >> 5);
        s_blob = blob;
        const QDir root(s_folder->filePath("root"));
        ASSERT_TRUE(QDir().mkpath(root.filePath("1.0")) &&
                    QDir().mkpath(root.filePath(".staging-x")));
        ASSERT_TRUE(writeAll(root.filePath("1.0/blob.m4a"), blob));
        ASSERT_TRUE(writeAll(root.filePath(".staging-x/blob.m4a"), blob));
        ASSERT_TRUE(writeAll(root.filePath("empty.json"), ""));
        ASSERT_TRUE(writeAll(s_folder->filePath("secret.txt"), "the secret"));
        ASSERT_TRUE(QFile::link(s_folder->filePath("secret.txt"), root.filePath("link.txt")));

        s_server = new QProcess;
        s_url = startServer(*s_server, root.path(), s_ca);
        ASSERT_TRUE(s_url.isValid()) << s_server->readAllStandardError().toStdString();
    }
    static void TearDownTestSuite()
    {
        if (s_server) {
            s_server->terminate();
            s_server->waitForFinished(10000);
        }
        delete s_server;
        delete s_folder;
        s_server = nullptr;
        s_folder = nullptr;
    }

    static QUrl at(const QString& encodedPath)
    {
        return QUrl(s_url.toString() + encodedPath.mid(1), QUrl::StrictMode);
    }
    static HttpAnswer get(const QString& encodedPath,
                          const QList<std::pair<QByteArray, QByteArray>>& headers = {})
    {
        return fetch("GET", at(encodedPath), s_ca.caCertificate, headers);
    }

    static QTemporaryDir* s_folder;
    static CertificateAuthorityFiles s_ca;
    static QByteArray s_blob;
    static QProcess* s_server;
    static QUrl s_url;
};

QTemporaryDir* PackServeTest::s_folder = nullptr;
CertificateAuthorityFiles PackServeTest::s_ca;
QByteArray PackServeTest::s_blob;
QProcess* PackServeTest::s_server = nullptr;
QUrl PackServeTest::s_url;

TEST_F(PackServeTest, ServesWholeFilesAndTheirHeads)
{
    const HttpAnswer whole = get("/1.0/blob.m4a");
    EXPECT_EQ(whole.error, QNetworkReply::NoError);
    EXPECT_EQ(whole.status, 200);
    EXPECT_EQ(whole.body, s_blob);
    EXPECT_EQ(whole.headers.value("content-type"), "audio/mp4");
    EXPECT_EQ(whole.headers.value("accept-ranges"), "bytes");

    const HttpAnswer head = fetch("HEAD", at("/1.0/blob.m4a"), s_ca.caCertificate);
    EXPECT_EQ(head.status, 200);
    EXPECT_TRUE(head.body.isEmpty());
    EXPECT_EQ(head.headers.value("content-length"), QByteArray::number(s_blob.size()));

    const HttpAnswer empty = get("/empty.json");
    EXPECT_EQ(empty.status, 200);
    EXPECT_TRUE(empty.body.isEmpty());
    EXPECT_EQ(empty.headers.value("content-type"), "application/json");
}

TEST_F(PackServeTest, AnswersSingleByteRanges)
{
    const qsizetype size = s_blob.size();
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
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.range.toStdString());
        const HttpAnswer answer = get("/1.0/blob.m4a", {{"Range", c.range}});
        ASSERT_EQ(answer.status, c.status);
        if (c.status == 206) {
            EXPECT_EQ(answer.body, s_blob.mid(c.first, c.last - c.first + 1));
            EXPECT_EQ(answer.headers.value("content-range"),
                      "bytes " + QByteArray::number(c.first) + '-' + QByteArray::number(c.last) +
                          '/' + total);
        } else {
            EXPECT_EQ(answer.headers.value("content-range"), "bytes */" + total);
        }
    }
    // Several ranges are answered with the whole file.
    const HttpAnswer several = get("/1.0/blob.m4a", {{"Range", "bytes=0-1,5-6"}});
    EXPECT_EQ(several.status, 200);
    EXPECT_EQ(several.body, s_blob);
}

TEST_F(PackServeTest, AnswersNotFoundForWhatIsNotAPublishedFile)
{
    for (const char* path :
         {"/", "/missing.json", "/1.0", "/1.0/", "/.staging-x/blob.m4a", "/1.0/blob.m4a/x"}) {
        SCOPED_TRACE(path);
        const HttpAnswer answer = get(QString::fromLatin1(path));
        EXPECT_EQ(answer.status, 404);
        EXPECT_NE(answer.body, s_blob);
    }
}

TEST_F(PackServeTest, RefusesPathsThatLeaveTheRoot)
{
    for (const char* path : {"/..%2Fsecret.txt", "/1.0/..%2F..%2Fsecret.txt",
                             "/1.0/%2E%2E%5C..%5Csecret.txt", "/link.txt", "/1.0%00/blob.m4a"}) {
        SCOPED_TRACE(path);
        const HttpAnswer answer = get(QString::fromLatin1(path));
        EXPECT_EQ(answer.status, 403);
        EXPECT_FALSE(answer.body.contains("the secret"));
    }
    // Sent verbatim, past any client-side normalisation of dot segments.
    const QByteArray answer = test::rawHttpsExchange(
        QStringLiteral("127.0.0.1"), static_cast<quint16>(s_url.port()), s_ca.caCertificate,
        "GET /../secret.txt HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    EXPECT_TRUE(answer.startsWith("HTTP/1.1 403")) << answer.toStdString();
    EXPECT_FALSE(answer.contains("the secret"));
}

TEST_F(PackServeTest, ClientsThatDoNotTrustTheCARefuseTheServer)
{
    const HttpAnswer answer = fetch("GET", at("/1.0/blob.m4a"), QString());
    EXPECT_EQ(answer.error, QNetworkReply::SslHandshakeFailedError);
    EXPECT_TRUE(answer.body.isEmpty());
}

TEST_F(PackServeTest, APackBuiltForTheServerIsInstallableFromIt)
{
    QTemporaryDir input;
    ASSERT_TRUE(test::makeTone(input.filePath("quiet-circuit.m4a"), 0.5, 440));
    PackBuildOptions options;
    options.inputDirectory = input.path();
    options.outputDirectory = s_folder->filePath("root");
    options.version = QStringLiteral("9.0");
    options.baseURL = s_url;
    const PackResult<PackBuildReport> built = buildPack(options);
    ASSERT_TRUE(built.ok()) << built.message().toStdString();

    // What the client does: index, then the manifest it names, then each track's URL.
    const Result<AudioPackIndex> index = decodeAudioPackIndex(get("/index.json").body);
    ASSERT_TRUE(index.ok());
    EXPECT_FALSE(validateIndex(*index));
    const HttpAnswer manifestAnswer =
        fetch("GET", index->packs.front().manifestURL, s_ca.caCertificate);
    const Result<AudioPackManifest> manifest = decodeAudioPackManifest(manifestAnswer.body);
    ASSERT_TRUE(manifest.ok());
    EXPECT_FALSE(validateManifest(*manifest));
    for (const AudioPackTrack& track : manifest->tracks) {
        const HttpAnswer file = fetch("GET", track.downloadURL, s_ca.caCertificate);
        EXPECT_EQ(file.status, 200);
        EXPECT_EQ(file.body.size(), track.byteCount);
        EXPECT_EQ(QString::fromLatin1(
                      QCryptographicHash::hash(file.body, QCryptographicHash::Sha256).toHex()),
                  track.sha256);
    }
}

TEST(PackServeCommandTest, QuitsCleanlyOnSigintAndSigterm)
{
    QTemporaryDir folder;
    const PackResult<CertificateAuthorityFiles> ca =
        makeCertificateAuthority(folder.filePath("ca"), QStringLiteral("127.0.0.1"));
    ASSERT_TRUE(ca.ok());
    for (const int signalNumber : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signalNumber);
        QProcess server;
        const QUrl url = startServer(server, folder.path(), *ca);
        ASSERT_TRUE(url.isValid());
        EXPECT_EQ(fetch("GET", url.resolved(QUrl("ca/ca.pem")), ca->caCertificate).status, 200);
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
        makeCertificateAuthority(folder.filePath("ca"), QStringLiteral("127.0.0.1"));
    ASSERT_TRUE(ca.ok());
    StaticFileServer busy(folder.path(), ca->serverCertificate, ca->serverKey);
    const PackResult<int> port = busy.start(QStringLiteral("127.0.0.1"), 0);
    ASSERT_TRUE(port.ok());

    const struct
    {
        QStringList arguments;
        int exitCode;
        const char* message;
    } cases[] = {
        {{"--root", folder.filePath("nope")}, 1, "does not exist"},
        {{"--root", folder.path(), "--key", ca->caCertificate}, 1, "Cannot use the certificate"},
        {{"--root", folder.path(), "--port", QString::number(*port)}, 1, "Cannot listen"},
        {{"--root", folder.path(), "--port", "70000"}, 2, "--port wants a number"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        QStringList arguments{"serve", "--cert", ca->serverCertificate};
        if (!c.arguments.contains("--key"))
            arguments << "--key" << ca->serverKey;
        QProcess process;
        process.start(program(), arguments + c.arguments);
        ASSERT_TRUE(process.waitForFinished(10000));
        EXPECT_EQ(process.exitCode(), c.exitCode);
        EXPECT_TRUE(process.readAllStandardError().contains(c.message));
    }
}

TEST(CertificateAuthorityTest, SignsAServerCertificateForTheHost)
{
    const struct
    {
        const char* host;
        QSsl::AlternativeNameEntryType type;
        const char* name;
    } cases[] = {
        {"127.0.0.1", QSsl::IpAddressEntry, "127.0.0.1"},
        {"::1", QSsl::IpAddressEntry, "::1"},
        {"packs.example.test", QSsl::DnsEntry, "packs.example.test"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.host);
        QTemporaryDir folder;
        const PackResult<CertificateAuthorityFiles> files =
            makeCertificateAuthority(folder.path(), QString::fromLatin1(c.host));
        ASSERT_TRUE(files.ok()) << files.message().toStdString();
        const QList<QSslCertificate> ca = QSslCertificate::fromPath(files->caCertificate);
        const QList<QSslCertificate> server = QSslCertificate::fromPath(files->serverCertificate);
        ASSERT_EQ(ca.size(), 1);
        ASSERT_EQ(server.size(), 1);
        EXPECT_TRUE(ca.front().isSelfSigned());
        EXPECT_EQ(server.front().issuerInfo(QSslCertificate::CommonName),
                  ca.front().subjectInfo(QSslCertificate::CommonName));
        EXPECT_TRUE(server.front().subjectAlternativeNames().values(c.type).contains(
            QString::fromLatin1(c.name)));
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
