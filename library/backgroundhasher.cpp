#include "backgroundhasher.h"

#include <sys/resource.h>
#include <unistd.h>

namespace calmcove {

namespace {

// Linux applies a nice value to the single thread whose id is given.
void lowerThisThreadsPriority()
{
    ::setpriority(PRIO_PROCESS, ::gettid(), 10);
}

} // namespace

BackgroundHasher::BackgroundHasher(QStringList paths, ResultHandler onResult,
                                   std::function<void()> onFinished, QObject* parent)
    : QObject(parent), m_onResult(std::move(onResult)), m_onFinished(std::move(onFinished)),
      m_worker([this, paths = std::move(paths)] { run(paths); })
{}

BackgroundHasher::~BackgroundHasher()
{
    m_stopping = true;
    m_worker.join();
}

void BackgroundHasher::run(const QStringList& paths)
{
    lowerThisThreadsPriority();
    for (const QString& path : paths) {
        if (m_stopping)
            return;
        std::optional<VerifiedDigest> result;
        const auto before = FileIdentity::of(path);
        if (before) {
            const auto digest = sha256OfFile(path, &m_stopping);
            if (digest && FileIdentity::of(path) == before)
                result = VerifiedDigest{*before, *digest};
        }
        if (m_stopping)
            return;
        // Queued to this object: Qt drops the call if the object is gone by then, and the
        // destructor waits for this thread, so `this` is valid whenever the call runs.
        QMetaObject::invokeMethod(
            this,
            [this, path, result] {
                ++m_hashedFileCount;
                m_onResult(path, result);
            },
            Qt::QueuedConnection);
    }
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_finished = true;
            m_onFinished();
        },
        Qt::QueuedConnection);
}

} // namespace calmcove
