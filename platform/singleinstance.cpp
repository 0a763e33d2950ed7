#include "singleinstance.h"

#include <QDataStream>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

namespace calmcove {

namespace {

// Every message is one QDataStream-encoded QStringList; the answer is one byte.
constexpr char acknowledgement = '\x06';

} // namespace

QString SingleInstance::defaultSocketPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) +
           QStringLiteral("/calmcove.socket");
}

SingleInstance::SingleInstance(const QString& socketPath, QObject* parent)
    : QObject(parent), m_socketPath(socketPath)
{}

bool SingleInstance::handOver(const QStringList& arguments, int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(m_socketPath);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    QByteArray message;
    QDataStream out(&message, QIODevice::WriteOnly);
    out << arguments;
    socket.write(message);
    if (!socket.waitForBytesWritten(timeoutMs))
        return false;
    while (socket.bytesAvailable() < 1) {
        if (!socket.waitForReadyRead(timeoutMs))
            return false;
    }
    return socket.read(1) == QByteArray(1, acknowledgement);
}

bool SingleInstance::listen()
{
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_socketPath)) {
        // Nobody answered handOver(), so a socket file here is a dead process's.
        QLocalServer::removeServer(m_socketPath);
        if (!m_server->listen(m_socketPath))
            return false;
    }
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* client = m_server->nextPendingConnection()) {
            connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
            connect(client, &QLocalSocket::readyRead, this, [this, client] {
                QDataStream stream(client);
                stream.startTransaction();
                QStringList arguments;
                stream >> arguments;
                if (!stream.commitTransaction())
                    return; // not all of it yet
                client->write(QByteArray(1, acknowledgement));
                client->flush();
                Q_EMIT argumentsReceived(arguments);
            });
        }
    });
    return true;
}

} // namespace calmcove
