#pragma once

// One Calmcove per user: the first process listens on a local socket in the user's
// runtime directory; a later launch hands its arguments to it and exits. Main thread only.

#include <QObject>
#include <QStringList>

class QLocalServer;

namespace calmcove {

class SingleInstance : public QObject
{
    Q_OBJECT
public:
    // $XDG_RUNTIME_DIR/calmcove.socket.
    static QString defaultSocketPath();

    explicit SingleInstance(const QString& socketPath = defaultSocketPath(),
                            QObject* parent = nullptr);

    // Gives `arguments` to a running instance. True when one took them (waits up to
    // `timeoutMs` for its answer); false when none runs.
    bool handOver(const QStringList& arguments, int timeoutMs = 5000);
    // Becomes the running instance, replacing a socket left by a process that died.
    // False when the socket cannot be created; the program then runs on alone.
    bool listen();

Q_SIGNALS:
    // Arguments handed over by a later launch.
    void argumentsReceived(const QStringList& arguments);

private:
    QString m_socketPath;
    QLocalServer* m_server = nullptr;
};

} // namespace calmcove
