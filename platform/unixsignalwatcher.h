#pragma once

// Turns SIGINT and SIGTERM into a Qt signal on the main thread, so that the process
// quits through its event loop instead of being cut off mid-write.

#include <atomic>
#include <QObject>

class QSocketNotifier;

namespace calmcove {

// Set by the handler once SIGINT or SIGTERM arrived (and never cleared): long copies on any
// thread check it between blocks, so the process ends within a second even mid-copy.
const std::atomic<bool>& terminationFlag();

class UnixSignalWatcher : public QObject
{
    Q_OBJECT
public:
    // Installs the handlers; at most one watcher may exist at a time.
    explicit UnixSignalWatcher(QObject* parent = nullptr);
    ~UnixSignalWatcher() override;

Q_SIGNALS:
    void terminationRequested(int signalNumber);

private:
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace calmcove
