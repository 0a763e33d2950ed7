#pragma once

// Shared by the pack tool's tests: small real audio files made with ffmpeg, the tool run as
// a process, and HTTPS requests through QNetworkAccessManager trusting a test CA.

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QEventLoop>
#include <QFile>
#include <QMap>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QSslCertificate>
#include <QSslConfiguration>

namespace calmcove::test {

// Writes an AAC .m4a of a sine tone lasting `seconds`; false when ffmpeg fails.
inline bool makeTone(const QString& path, double seconds, int frequency)
{
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg",
                 {"-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                  QStringLiteral("sine=frequency=%1:duration=%2").arg(frequency).arg(seconds),
                  "-c:a", "aac", "-b:a", "48k", path});
    return ffmpeg.waitForFinished(30000) && ffmpeg.exitStatus() == QProcess::NormalExit &&
           ffmpeg.exitCode() == 0;
}

inline QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool writeAll(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

inline QString sha256(const QByteArray& bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

inline QString packProgram()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/calmcove-pack");
}

struct PackRun
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// Runs calmcove-pack to its end (30 seconds at most).
inline PackRun runPack(const QStringList& arguments)
{
    QProcess process;
    process.start(packProgram(), arguments);
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit)
        return {};
    return {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
}

struct HttpAnswer
{
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    int status = 0;
    QByteArray body;
    QMap<QByteArray, QByteArray> headers; // names lower-cased
};

// Sends `verb` to `url` with an optional Range header, trusting the PEM file `caFile` in
// addition to the system CAs (none when empty); gives up after 10 seconds.
inline HttpAnswer fetch(const QByteArray& verb, const QUrl& url, const QString& caFile,
                        const QByteArray& range = {})
{
    QNetworkAccessManager manager;
    QNetworkRequest request(url);
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    if (!caFile.isEmpty())
        configuration.addCaCertificates(QSslCertificate::fromPath(caFile));
    request.setSslConfiguration(configuration);
    request.setTransferTimeout(10000);
    if (!range.isEmpty())
        request.setRawHeader("Range", range);
    // As a custom verb, HEAD would make Qt wait for the body that Content-Length announces.
    QNetworkReply* reply =
        verb == "HEAD" ? manager.head(request) : manager.sendCustomRequest(request, verb);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    HttpAnswer answer{reply->error(),
                      reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
                      reply->readAll(),
                      {}};
    for (const auto& [name, value] : reply->rawHeaderPairs())
        answer.headers.insert(name.toLower(), value);
    delete reply;
    return answer;
}

} // namespace calmcove::test
