#pragma once

// Shared by the pack tool's tests: small real audio files made with ffmpeg, digests from
// the openssl command, and HTTPS requests through QNetworkAccessManager trusting a test CA.

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QNetworkReply>
#include <QString>
#include <QUrl>
#include <utility>

namespace calmcove::test {

// Writes an AAC .m4a of a sine tone lasting `seconds`; false when ffmpeg fails.
bool makeTone(const QString& path, double seconds, int frequency);

// `openssl dgst -sha256` of the file, as 64 lower-case hexadecimal digits.
QString opensslDigest(const QString& path);

QByteArray readAll(const QString& path);
bool writeAll(const QString& path, const QByteArray& content);

struct HttpAnswer
{
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    int status = 0;
    QByteArray body;
    QMap<QByteArray, QByteArray> headers; // names lower-cased
};

// Sends `verb` to `url`, trusting the PEM file `caFile` in addition to the system CAs
// (none when empty); gives up after 10 seconds.
HttpAnswer fetch(const QByteArray& verb, const QUrl& url, const QString& caFile,
                 const QList<std::pair<QByteArray, QByteArray>>& headers = {});

// Sends `request` verbatim over TLS (trusting `caFile`) and returns everything the server
// answered until it closed the connection: for paths no URL class would leave alone.
QByteArray rawHttpsExchange(const QString& host, quint16 port, const QString& caFile,
                            const QByteArray& request);

} // namespace calmcove::test
