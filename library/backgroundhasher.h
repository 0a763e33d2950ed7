#pragma once

// Hashes a list of files on a worker thread of its own (at a lower CPU priority, so that
// playback starting at the same time goes first) and hands every result back to the main
// thread, one file at a time, in the order given. Created, used and destroyed on the main
// thread; destroying it stops the worker between two blocks and waits for it, and no
// result is delivered afterwards.

#include "library/filedigest.h"

#include <QObject>
#include <QStringList>

#include <atomic>
#include <functional>
#include <optional>
#include <thread>

namespace calmcove {

class BackgroundHasher : public QObject
{
    Q_OBJECT

public:
    // Main thread: the digest with the identity the file kept while it was read; none
    // when it could not be read or changed meanwhile.
    using ResultHandler =
        std::function<void(const QString& path, const std::optional<VerifiedDigest>& result)>;

    // Starts hashing at once. `onResult` runs for each file, then `onFinished` once, both
    // on the main thread from the event loop (never from inside this constructor).
    BackgroundHasher(QStringList paths, ResultHandler onResult, std::function<void()> onFinished,
                     QObject* parent = nullptr);
    ~BackgroundHasher() override;

    // Files handed back so far.
    int hashedFileCount() const { return m_hashedFileCount; }
    bool isFinished() const { return m_finished; }

private:
    void run(const QStringList& paths);

    ResultHandler m_onResult;
    std::function<void()> m_onFinished;
    std::atomic<bool> m_stopping = false;
    int m_hashedFileCount = 0;
    bool m_finished = false;
    std::thread m_worker;
};

} // namespace calmcove
