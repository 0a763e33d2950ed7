#include "importloudness.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QSaveFile>
#include <QSet>

namespace calmcove {

namespace {

// Results written together at most this many apart while a long pass runs.
constexpr int resultsPerSave = 25;

struct FileStamp
{
    qint64 size = -1;
    qint64 modifiedMs = 0;
};

std::optional<FileStamp> stampOf(const QString& path)
{
    const QFileInfo info(path);
    if (!info.isFile())
        return std::nullopt;
    return FileStamp{info.size(), info.lastModified().toMSecsSinceEpoch()};
}

} // namespace

QStringList importedFilePaths(const QList<CalmAlbum>& albums)
{
    QStringList paths;
    for (const CalmAlbum& album : albums) {
        for (const CalmTrack& track : album.tracks) {
            if (const auto* file = std::get_if<FileAudio>(&track.source))
                paths.append(file->path);
        }
    }
    return paths;
}

ImportLoudness::ImportLoudness(const QString& rootDirectory, QObject* parent)
    : QObject(parent), m_root(QDir::cleanPath(QDir(rootDirectory).absolutePath()))
{
    m_worker.setMaxThreadCount(1);
    load();
}

ImportLoudness::~ImportLoudness()
{
    m_cancelled.store(true, std::memory_order_relaxed);
    m_worker.waitForDone();
    if (m_unsavedResults > 0)
        save();
}

QString ImportLoudness::relativePath(const QString& path) const
{
    const QString absolute = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    if (!absolute.startsWith(m_root + QLatin1Char('/')))
        return {};
    return absolute.mid(m_root.size() + 1);
}

bool ImportLoudness::isCurrent(const QString& relative) const
{
    const auto found = m_entries.constFind(relative);
    if (found == m_entries.constEnd())
        return false;
    const auto stamp = stampOf(m_root + QLatin1Char('/') + relative);
    return stamp && stamp->size == found->size && stamp->modifiedMs == found->modifiedMs;
}

void ImportLoudness::measureFiles(const QStringList& paths)
{
    QSet<QString> listed;
    for (const QString& path : paths) {
        const QString relative = relativePath(path);
        if (relative.isEmpty())
            continue;
        listed.insert(relative);
        if (!isCurrent(relative))
            enqueue(m_root + QLatin1Char('/') + relative, false);
    }
    const qsizetype before = m_entries.size();
    m_entries.removeIf([&listed](const auto& entry) { return !listed.contains(entry.key()); });
    m_queue.removeIf(
        [this, &listed](const QString& path) { return !listed.contains(relativePath(path)); });
    if (m_entries.size() != before)
        save();
    startNext();
}

double ImportLoudness::gainDb(const QString& path)
{
    const QString relative = relativePath(path);
    if (relative.isEmpty())
        return 0;
    if (!isCurrent(relative)) {
        enqueue(m_root + QLatin1Char('/') + relative, true);
        startNext();
        return 0;
    }
    return matchingGainDb(m_entries.value(relative).measurement);
}

std::optional<LoudnessMeasurement> ImportLoudness::measurement(const QString& path) const
{
    const QString relative = relativePath(path);
    if (relative.isEmpty() || !isCurrent(relative))
        return std::nullopt;
    return m_entries.value(relative).measurement;
}

void ImportLoudness::enqueue(const QString& path, bool first)
{
    if (path == m_measuringPath)
        return;
    if (first) {
        // The file about to play goes ahead of a background pass.
        m_queue.removeAll(path);
        m_queue.prepend(path);
    } else if (!m_queue.contains(path)) {
        m_queue.append(path);
    }
}

void ImportLoudness::startNext()
{
    if (!m_measuringPath.isEmpty() || m_queue.isEmpty())
        return;
    m_measuringPath = m_queue.takeFirst();
    Q_EMIT isMeasuringChanged();
    // The stamp is taken before reading: a file changed meanwhile no longer matches it and
    // is measured again.
    const auto stamp = stampOf(m_measuringPath).value_or(FileStamp{});
    m_worker.start(
        [self = QPointer(this), path = m_measuringPath, stamp, cancelled = &m_cancelled] {
            Entry entry{stamp.size, stamp.modifiedMs, measureLoudness(path, cancelled)};
            if (cancelled->load(std::memory_order_relaxed))
                return;
            QMetaObject::invokeMethod(
                self.data(),
                [self, path, entry = std::move(entry)] {
                    if (self)
                        self->finish(path, entry);
                },
                Qt::QueuedConnection);
        });
}

void ImportLoudness::finish(const QString& path, Entry entry)
{
    m_measuringPath.clear();
    const QString relative = relativePath(path);
    m_entries.insert(relative, entry);
    if (++m_unsavedResults >= resultsPerSave || m_queue.isEmpty())
        save();
    Q_EMIT gainChanged(path, matchingGainDb(entry.measurement));
    startNext();
    if (m_measuringPath.isEmpty())
        Q_EMIT isMeasuringChanged();
}

void ImportLoudness::load()
{
    QFile file(m_root + QLatin1Char('/') + cacheFileName);
    if (!file.open(QIODevice::ReadOnly))
        return;
    // A cache that cannot be read is measured anew.
    const QJsonArray files = QJsonDocument::fromJson(file.readAll()).object()[u"files"].toArray();
    for (const QJsonValue& value : files) {
        const QJsonObject record = value.toObject();
        const QString path = record[u"path"].toString();
        if (path.isEmpty() || !record[u"size"].isDouble() || !record[u"modified"].isDouble())
            continue;
        Entry entry{record[u"size"].toInteger(), record[u"modified"].toInteger(), std::nullopt};
        if (record[u"integratedLUFS"].isDouble() && record[u"truePeakDBTP"].isDouble())
            entry.measurement = LoudnessMeasurement{record[u"integratedLUFS"].toDouble(),
                                                    record[u"truePeakDBTP"].toDouble()};
        m_entries.insert(path, entry);
    }
}

void ImportLoudness::save()
{
    m_unsavedResults = 0;
    QJsonArray files;
    for (auto it = m_entries.constBegin(); it != m_entries.constEnd(); ++it) {
        QJsonObject record{{QStringLiteral("path"), it.key()},
                           {QStringLiteral("size"), it->size},
                           {QStringLiteral("modified"), it->modifiedMs}};
        if (it->measurement) {
            record[u"integratedLUFS"] = it->measurement->integratedLufs;
            record[u"truePeakDBTP"] = it->measurement->truePeakDbtp;
        }
        files.append(record);
    }
    QSaveFile file(m_root + QLatin1Char('/') + cacheFileName);
    const QByteArray json = QJsonDocument(QJsonObject{{QStringLiteral("files"), files}}).toJson();
    if (!QDir().mkpath(m_root) || !file.open(QIODevice::WriteOnly) ||
        file.write(json) != json.size() || !file.commit())
        // Only a cache: the files are measured again at the next launch.
        qWarning("Could not save %s: %s", qPrintable(cacheFileName),
                 qPrintable(file.errorString()));
}

} // namespace calmcove
