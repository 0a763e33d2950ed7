#pragma once

// The URL import queue: direct audio links worked off one at a time, in order, on the main
// thread. Each link is downloaded beside the album folders within the size cap and the
// free-space reserve, recognised as audio, and handed to its destination, which turns the
// file into a track. Every job's state, message and progress stay observable.

#include "urlimportjob.h"

#include <QCoro/QCoroTask>

#include <functional>
#include <memory>
#include <optional>
#include <QObject>
#include <QSet>

namespace calmcove {

class FastURLDownloader;
class NetworkPathMonitor;
class UserDefaults;

// A download that decodes as audio, ready to become a track.
struct DownloadedAudio
{
    QString path;      // in the queue's partial folder; removed after hand-over unless moved
    QString extension; // lower case, one of the destination's audio extensions
    QString title;
    QString artist;
    std::optional<QString> targetAlbumID; // none: the destination's own choice
};

// How a job ended: finished or failed, with the job's message.
struct URLImportOutcome
{
    URLImportJob::State state = URLImportJob::State::finished;
    QString message;

    bool operator==(const URLImportOutcome&) const = default;
};

class URLImportQueue : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QList<calmcove::URLImportJob> jobs READ jobs NOTIFY jobsChanged)
    Q_PROPERTY(bool isProcessing READ isProcessing NOTIFY isProcessingChanged)
    Q_PROPERTY(std::optional<double> progress READ progress NOTIFY progressChanged)
    Q_PROPERTY(QString progressText READ progressText NOTIFY progressChanged)

public:
    // The most bytes one import may download (a number of bytes; 2 GiB when unset).
    static inline const QString maximumBytesKey = QStringLiteral("CalmcoveURLImportMaximumBytes");
    static constexpr qint64 defaultMaximumBytes = qint64(2) * 1024 * 1024 * 1024;

    // What the queue needs of the albums it imports into.
    struct Destination
    {
        // The albums' root folder. Downloads are written to partialFolder(rootDirectory),
        // on the album folders' file system; that file system and the temporary folder's
        // keep the free-space reserve.
        QString rootDirectory;
        // File-name extensions, lower case, a download may become a track with.
        QSet<QString> audioExtensions;
        // Makes the download a track (moving or leaving the file) and tells how the job
        // ended. Called on the main thread; may ask the user and may wait for other work.
        std::function<QCoro::Task<URLImportOutcome>(DownloadedAudio)> addTrack;
    };

    // <rootDirectory>/.partial: downloads in progress. Nothing refers to what a killed run
    // left there.
    static QString partialFolder(const QString& rootDirectory);

    // `defaults` (read at each download) hold the size cap. `networkMonitor` (not owned,
    // may be null) lets downloads wait for connectivity.
    URLImportQueue(UserDefaults& defaults, Destination destination,
                   NetworkPathMonitor* networkMonitor = nullptr, QObject* parent = nullptr);
    ~URLImportQueue() override;

    // Queues `link` (trimmed; blank links queue nothing) and starts the queue if it is idle.
    void enqueue(const QString& link, const std::optional<QString>& targetAlbumID = {});
    // Removes finished and failed jobs; queued and running ones stay.
    void clearFinishedJobs();
    // Clears one job's progress, or with no job the queue-level progress.
    void resetProgress(const std::optional<QUuid>& jobID = {});

    const QList<URLImportJob>& jobs() const { return m_jobs; }
    // True from the first queued job until no queued job is left.
    bool isProcessing() const { return m_isProcessing; }
    std::optional<double> progress() const { return m_progress; }
    QString progressText() const { return m_progressText; }

Q_SIGNALS:
    void jobsChanged();
    void isProcessingChanged();
    void progressChanged();

private:
    qint64 maximumBytes() const;
    void startIfNeeded();
    QCoro::Task<> run();
    // The job's failure text, or none when it finished.
    QCoro::Task<std::optional<QString>> perform(QString link, std::optional<QString> targetAlbumID,
                                                QUuid jobID);
    URLImportJob* findJob(const QUuid& id);
    void updateJob(const QUuid& id, const std::function<void(URLImportJob&)>& change);
    void setJobStatus(const QString& message, const QUuid& jobID,
                      std::optional<URLImportJob::State> finalState);
    void updateJobProgress(qint64 written, qint64 expected, const QUuid& jobID);
    void setProcessing(bool processing);

    UserDefaults& m_defaults;
    Destination m_destination;
    NetworkPathMonitor* m_networkMonitor = nullptr;
    QList<URLImportJob> m_jobs;
    bool m_isProcessing = false;
    std::optional<double> m_progress;
    QString m_progressText;
    std::unique_ptr<FastURLDownloader> m_downloader;
};

} // namespace calmcove
