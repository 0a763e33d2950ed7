#include "singleinstance.h"

#include <fcntl.h>
#include <QDataStream>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
#include <sys/file.h>
#include <unistd.h>

namespace calmcove {

namespace {

// Every message is one QDataStream-encoded QStringList; the answer is one byte.
constexpr char acknowledgement = '\x06';
// How often a waiting launch looks again; it never gives up while the instance lives.
constexpr int pollMs = 250;

enum class Delivery
{
    accepted,
    noListener, // nothing listens (yet): the instance starts or has died
    lost        // the instance went away before answering
};

// Sends `arguments` once and waits for the answer as long as the connection stays open
// and `stop` is not set.
Delivery deliver(const QString& socketPath, const QStringList& arguments,
                 const std::function<void()>& slow, const std::atomic<bool>* stop)
{
    const auto stopped = [stop] { return stop && stop->load(); };
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(pollMs))
        return Delivery::noListener;
    QByteArray message;
    QDataStream out(&message, QIODevice::WriteOnly);
    out << arguments;
    socket.write(message);
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(pollMs)) {
            if (socket.state() != QLocalSocket::ConnectedState || stopped())
                return Delivery::lost;
            slow();
        }
    }
    while (socket.bytesAvailable() < 1) {
        if (!socket.waitForReadyRead(pollMs)) {
            if (socket.state() != QLocalSocket::ConnectedState || stopped())
                return Delivery::lost;
            slow();
        }
    }
    return socket.read(1) == QByteArray(1, acknowledgement) ? Delivery::accepted : Delivery::lost;
}

} // namespace

QString SingleInstance::defaultSocketPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) +
           QStringLiteral("/calmcove.socket");
}

SingleInstance::SingleInstance(const QString& socketPath, QObject* parent)
    : QObject(parent), m_socketPath(socketPath)
{}

SingleInstance::~SingleInstance()
{
    if (m_lock >= 0)
        ::close(m_lock);
}

bool SingleInstance::tryLock()
{
    if (m_lock < 0) {
        m_lock = ::open(QFile::encodeName(m_socketPath + QStringLiteral(".lock")).constData(),
                        O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (m_lock < 0)
            return true; // no runtime directory to share: nobody else can find us either
    }
    return ::flock(m_lock, LOCK_EX | LOCK_NB) == 0;
}

SingleInstance::Role SingleInstance::claim(const QStringList& arguments,
                                           const std::function<void()>& waiting,
                                           const std::atomic<bool>* stop)
{
    bool said = false;
    const auto slow = [&] {
        if (!said && waiting)
            waiting();
        said = true;
    };
    for (;;) {
        if (tryLock())
            return Role::running;
        if (stop && stop->load())
            return Role::stopped;
        switch (deliver(m_socketPath, arguments, slow, stop)) {
        case Delivery::accepted:
            return Role::handedOver;
        case Delivery::noListener:
            // The holder is still starting, or stopped before it listened.
            slow();
            QThread::msleep(pollMs);
            break;
        case Delivery::lost:
            break;
        }
    }
}

bool SingleInstance::listen()
{
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    // We hold the lock, so a socket file here is a dead instance's.
    QLocalServer::removeServer(m_socketPath);
    if (!m_server->listen(m_socketPath))
        return false;
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
