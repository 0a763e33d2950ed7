#include "packtestsupport.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QProcess>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>

namespace calmcove::test {

bool makeTone(const QString& path, double seconds, int frequency)
{
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"),
                 {QStringLiteral("-nostdin"), QStringLiteral("-loglevel"), QStringLiteral("error"),
                  QStringLiteral("-y"), QStringLiteral("-f"), QStringLiteral("lavfi"),
                  QStringLiteral("-i"),
                  QStringLiteral("sine=frequency=%1:duration=%2").arg(frequency).arg(seconds),
                  QStringLiteral("-c:a"), QStringLiteral("aac"), QStringLiteral("-b:a"),
                  QStringLiteral("48k"), path});
    return ffmpeg.waitForFinished(30000) && ffmpeg.exitStatus() == QProcess::NormalExit &&
           ffmpeg.exitCode() == 0;
}

QString opensslDigest(const QString& path)
{
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("dgst"), QStringLiteral("-sha256"), QStringLiteral("-r"), path});
    if (!openssl.waitForFinished(30000) || openssl.exitCode() != 0)
        return {};
    // "-r" prints "<digest> *<file>".
    return QString::fromLatin1(openssl.readAllStandardOutput().split(' ').value(0)).toLower();
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeAll(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(content) == content.size();
}

namespace {

QSslConfiguration trusting(const QString& caFile)
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    if (!caFile.isEmpty())
        configuration.addCaCertificates(QSslCertificate::fromPath(caFile));
    return configuration;
}

} // namespace

HttpAnswer fetch(const QByteArray& verb, const QUrl& url, const QString& caFile,
                 const QList<std::pair<QByteArray, QByteArray>>& headers)
{
    QNetworkAccessManager manager;
    QNetworkRequest request(url);
    request.setSslConfiguration(trusting(caFile));
    request.setTransferTimeout(10000);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    for (const auto& [name, value] : headers)
        request.setRawHeader(name, value);
    // As a custom verb, HEAD would make Qt wait for the body that Content-Length announces.
    QNetworkReply* reply =
        verb == "HEAD" ? manager.head(request) : manager.sendCustomRequest(request, verb);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();

    HttpAnswer answer;
    answer.error = reply->error();
    answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    answer.body = reply->readAll();
    for (const auto& [name, value] : reply->rawHeaderPairs())
        answer.headers.insert(name.toLower(), value);
    delete reply;
    return answer;
}

QByteArray rawHttpsExchange(const QString& host, quint16 port, const QString& caFile,
                            const QByteArray& request)
{
    QSslSocket socket;
    socket.setSslConfiguration(trusting(caFile));
    socket.connectToHostEncrypted(host, port);
    if (!socket.waitForEncrypted(10000))
        return {};
    socket.write(request);
    QByteArray answer;
    QElapsedTimer clock;
    clock.start();
    while (socket.state() == QAbstractSocket::ConnectedState && clock.elapsed() < 10000) {
        socket.waitForReadyRead(200);
        answer += socket.readAll();
    }
    return answer + socket.readAll();
}

} // namespace calmcove::test
