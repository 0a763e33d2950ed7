#pragma once

// One Calmcove per user. The authority is an flock(2) on a lock file in the user's runtime
// directory, which the kernel releases when its holder dies however it dies: the holder is
// the running instance and listens on a local socket beside it; any other launch hands its
// arguments over that socket and exits, waiting as long as the running instance takes to
// answer. A socket is only ever replaced by the holder of the lock. Main thread only.

#include <atomic>
#include <functional>
#include <QObject>
#include <QStringList>

class QLocalServer;

namespace calmcove {

class SingleInstance : public QObject
{
    Q_OBJECT
public:
    enum class Role
    {
        running,    // this process holds the lock: it is the instance, call listen()
        handedOver, // the running instance took the arguments: this launch ends
        stopped     // `stop` was set while waiting: this launch ends
    };

    // $XDG_RUNTIME_DIR/calmcove.socket.
    static QString defaultSocketPath();

    // The lock file is `socketPath` + ".lock".
    explicit SingleInstance(const QString& socketPath = defaultSocketPath(),
                            QObject* parent = nullptr);
    ~SingleInstance() override;

    // Becomes the running instance, or hands `arguments` to it. Blocks until one of the two
    // happened, however long the running instance is unresponsive (stopped, busy); calls
    // `waiting` once when it has to wait, so the caller can say so; gives up once `stop` (may
    // be null) is set. Arguments are sent once: when the running instance dies before
    // answering, this launch takes over instead.
    Role claim(const QStringList& arguments, const std::function<void()>& waiting = {},
               const std::atomic<bool>* stop = nullptr);

    // After claim() returned running: listens, replacing the socket file a dead instance
    // left behind. False when the socket cannot be created; the program then runs on alone.
    bool listen();

Q_SIGNALS:
    // Arguments handed over by a later launch.
    void argumentsReceived(const QStringList& arguments);

private:
    bool tryLock();

    QString m_socketPath;
    int m_lock = -1;
    QLocalServer* m_server = nullptr;
};

} // namespace calmcove
