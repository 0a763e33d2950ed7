#pragma once

// The loudness of imported files: measured one at a time off the main thread, kept in
// "loudness.json" beside the albums index keyed by each file's path, size and modification
// time, and turned into the gain that plays an import as loud as the library. Main thread.

#include "media/loudnessmeter.h"
#include "model/calmtrack.h"

#include <atomic>
#include <optional>
#include <QHash>
#include <QObject>
#include <QStringList>
#include <QThreadPool>

namespace calmcove {

class ImportLoudness : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isMeasuring READ isMeasuring NOTIFY isMeasuringChanged)

public:
    static inline const QString cacheFileName = QStringLiteral("loudness.json");

    // Reads the cache in `rootDirectory` (the albums folder); only files inside it are
    // measured.
    explicit ImportLoudness(const QString& rootDirectory, QObject* parent = nullptr);
    // Abandons a running measurement and waits for its thread.
    ~ImportLoudness() override;

    // The files of every imported track: measures in the background those without a
    // current measurement, and forgets the ones no longer listed.
    void measureFiles(const QStringList& paths);
    // The gain in dB to play `path` at. 0 for a file outside the albums folder, one that
    // cannot be measured, and one not measured yet: that one is measured next, and
    // gainChanged() tells its gain.
    double gainDb(const QString& path);
    // The current measurement of `path`, if it has one.
    std::optional<LoudnessMeasurement> measurement(const QString& path) const;
    bool isMeasuring() const { return !m_measuringPath.isEmpty(); }

Q_SIGNALS:
    // A file's measurement finished (also for a file that could not be measured: gain 0).
    void gainChanged(const QString& path, double gainDb);
    void isMeasuringChanged();

private:
    struct Entry
    {
        qint64 size = -1;
        qint64 modifiedMs = 0;
        std::optional<LoudnessMeasurement> measurement;
        bool operator==(const Entry&) const = default;
    };

    QString relativePath(const QString& path) const;
    bool isCurrent(const QString& relative) const;
    void enqueue(const QString& path, bool first);
    void startNext();
    void finish(const QString& path, Entry entry);
    void load();
    void save();

    QString m_root;
    QHash<QString, Entry> m_entries; // by path relative to the root
    QStringList m_queue;             // absolute paths waiting to be measured
    QString m_measuringPath;
    int m_unsavedResults = 0;
    std::atomic<bool> m_cancelled{false};
    QThreadPool m_worker;
};

// The files of the imported tracks of `albums`.
QStringList importedFilePaths(const QList<CalmAlbum>& albums);

} // namespace calmcove
