#include "audiopackstore.h"

#include "platform/atomicfile.h"
#include "platform/unixsignalwatcher.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include <unistd.h>

#include <algorithm>

// The on-disk side of the store: verification, the pack directories, seeding from other
// packs, the install itself, cleanup and loading at launch.

namespace calmcove {

namespace {

// Deletes a downloaded temporary file when the step that uses it ends, whatever the
// outcome; a failure to delete is ignored.
class TemporaryFile
{
public:
    explicit TemporaryFile(QString path) : m_path(std::move(path)) {}
    ~TemporaryFile()
    {
        if (!m_path.isEmpty())
            QFile::remove(m_path);
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    void release() { m_path.clear(); }

private:
    QString m_path;
};

bool pathExists(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

enum class Placement
{
    linked,
    copied,
    failed
};

// Puts a verified file in place without copying its bytes when both lie on the same file
// system; copies otherwise, never leaving a partial file under the final name.
Placement placeCopy(const QString& source, const QString& destination)
{
    if (::link(QFile::encodeName(source).constData(), QFile::encodeName(destination).constData()) ==
        0)
        return Placement::linked;
    return copyFileAtomically(source, destination, nullptr, &terminationFlag())
               ? Placement::copied
               : Placement::failed;
}

FileError fileError(const QString& what, const QString& path, const QString& reason = {})
{
    return FileError{reason.isEmpty() ? QStringLiteral("%1 %2.").arg(what, path)
                                      : QStringLiteral("%1 %2: %3").arg(what, path, reason)};
}

} // namespace

// ---- the pieces of an install

QString AudioPackStore::audioPacksDirectory() const
{
    QDir().mkpath(m_packsRoot);
    return m_packsRoot;
}

QString AudioPackStore::packDirectory(const QString& version) const
{
    return audioPacksDirectory() + QLatin1Char('/') + version;
}

QString AudioPackStore::audioDirectory(const QString& version) const
{
    return packDirectory(version) + QLatin1Char('/') + audioDirectoryName;
}

QStringList AudioPackStore::installedPackDirectories() const
{
    const QFileInfoList entries =
        QDir(audioPacksDirectory()).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot);
    QStringList names;
    for (const QFileInfo& entry : entries)
        names.append(entry.fileName());
    std::stable_sort(names.begin(), names.end(),
                     [](const QString& a, const QString& b) { return standardCompare(a, b) > 0; });
    QStringList directories;
    for (const QString& name : names)
        directories.append(m_packsRoot + QLatin1Char('/') + name);
    return directories;
}

QStringList AudioPackStore::existingPackDirectories(const AudioPackManifest& manifest) const
{
    QStringList candidates;
    if (m_installedManifest)
        candidates.append(packDirectory(m_installedManifest->version));
    candidates.append(packDirectory(manifest.version));
    candidates.append(installedPackDirectories());
    QStringList directories;
    for (const QString& candidate : candidates) {
        const QString path = QDir::cleanPath(candidate);
        if (QFileInfo::exists(path) && !directories.contains(path))
            directories.append(path);
    }
    return directories;
}

void AudioPackStore::seedAudioDirectory(const QString& audioDirectoryPath,
                                        const AudioPackManifest& manifest)
{
    const QStringList sources = existingPackDirectories(manifest);
    const QString target = QDir::cleanPath(audioDirectoryPath);
    for (const AudioPackTrack& track : manifest.tracks) {
        const QString destination = target + QLatin1Char('/') + track.fileName;
        const Result<bool> present = verifiedFileExists(destination, track);
        if (present.ok() && *present)
            continue;
        if (pathExists(destination) && !QFile::remove(destination))
            continue;
        for (const QString& directory : sources) {
            const QString source = directory + QLatin1Char('/') + audioDirectoryName +
                                   QLatin1Char('/') + track.fileName;
            if (QDir::cleanPath(source) == destination)
                continue;
            const Result<bool> verified = verifiedFileExists(source, track);
            if (!verified.ok() || !*verified)
                continue;
            const Placement placement = placeCopy(source, destination);
            if (placement == Placement::linked) {
                // The same bytes as the source just verified; the link changed the change
                // time of both, so both are remembered as they are now rather than read
                // again. A copy is new bytes and is checked on its own.
                const QString digest = track.sha256.toLower();
                m_digests.remember(destination, digest);
                m_digests.remember(source, digest);
            }
            if (placement != Placement::failed)
                break;
        }
    }
}

Result<void> AudioPackStore::writeManifest(const AudioPackManifest& manifest,
                                           const QString& packDirectoryPath)
{
    const QString path = packDirectoryPath + QLatin1Char('/') + metadataFileName;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return LibraryError(fileError(QStringLiteral("Could not write"), path, file.errorString()));
    const QByteArray encoded = encodeAudioPackManifest(manifest);
    if (file.write(encoded) != encoded.size() || !file.commit())
        return LibraryError(fileError(QStringLiteral("Could not write"), path, file.errorString()));
    return {};
}

QCoro::Task<Result<void>> AudioPackStore::install(AudioPackManifest manifest, bool resetStaging)
{
    const auto alive = m_alive;
    auto verifying = launchVerificationDone();
    if (!co_await std::move(verifying))
        co_return LibraryError(CancelledError{});
    const std::optional<AudioPackManifest> previous = m_installedManifest;
    const bool wasFull = m_fullLibraryIsInstalled;
    const QString packDir = packDirectory(manifest.version);
    const QString audioDir = packDir + QLatin1Char('/') + audioDirectoryName;

    if (resetStaging)
        QDir(packDir).removeRecursively();
    if (!QDir().mkpath(audioDir))
        co_return LibraryError(fileError(QStringLiteral("Could not create"), audioDir));
    if (!resetStaging)
        seedAudioDirectory(audioDir, manifest);
    if (Result<void> written = writeManifest(manifest, packDir); !written)
        co_return written;

    setInstalledManifest(manifest);
    setFullLibraryIsInstalled(allTracksVerified(manifest));
    notifyLibraryChanged();
    setProgressFromVerifiedBytes(manifest);
    saveVerificationRecords(packDir);

    auto installing = installTracks(manifest, packDir);
    const Result<void> outcome = co_await std::move(installing);
    if (!*alive)
        co_return LibraryError(CancelledError{});
    if (!outcome) {
        if (wasFull && previous) {
            setInstalledManifest(previous);
            setFullLibraryIsInstalled(allTracksVerified(*previous));
            notifyLibraryChanged();
        }
        co_return outcome;
    }

    setInstalledManifest(manifest);
    setFullLibraryIsInstalled(true);
    setPendingManifest(std::nullopt);
    setUpdateState(AudioPackUpdateState::current());
    setStatus(AudioPackStatus::ready(manifest.version));
    setProgress(1.0);
    storeLastManifestCheckDate();
    removeObsoletePacks(manifest.version);
    notifyLibraryChanged();
    co_return Result<void>();
}

QCoro::Task<Result<void>> AudioPackStore::installTracks(AudioPackManifest manifest, QString packDir)
{
    const auto alive = m_alive;
    const QString audioDir = packDir + QLatin1Char('/') + audioDirectoryName;
    const double total = double(std::max<qint64>(manifest.totalBytes, 1));
    qint64 completed = 0;
    for (const AudioPackTrack& track : manifest.tracks) {
        const QString destination = audioDir + QLatin1Char('/') + track.fileName;
        const Result<bool> present = verifiedFileExists(destination, track);
        if (present.ok() && *present) {
            completed += track.byteCount;
            setProgress(double(completed) / total);
            continue;
        }
        if (pathExists(destination) && !QFile::remove(destination))
            co_return LibraryError(fileError(QStringLiteral("Could not delete"), destination));

        setStatus(AudioPackStatus::downloading(track.fileName, completed, manifest.totalBytes));
        auto downloading = m_client->download(track);
        const Result<DownloadedFile> downloaded = co_await std::move(downloading);
        if (!*alive)
            co_return LibraryError(CancelledError{});
        if (!downloaded)
            co_return downloaded.error();
        TemporaryFile temporary(downloaded->path);

        setStatus(AudioPackStatus::verifying(track.fileName));
        const std::optional<qint64> size = FileDigestCache::fileSize(downloaded->path);
        if (!size)
            co_return LibraryError(fileError(QStringLiteral("Could not read"), downloaded->path));
        // The digest was taken from the same bytes as they were written to the file.
        if (*size != track.byteCount || downloaded->size != *size ||
            downloaded->sha256 != track.sha256.toLower())
            co_return AudioPackError::invalidFile(track.fileName);
        // QFile::rename would copy into the final name across file systems.
        QString reason;
        if (!moveFileAtomically(downloaded->path, destination, &reason, &terminationFlag()))
            co_return LibraryError(
                fileError(QStringLiteral("Could not move a download to"), destination, reason));
        temporary.release();
        m_digests.remember(destination, downloaded->sha256);
        saveVerificationRecords(packDir);
        completed += *size;
        setProgress(double(completed) / total);
    }

    setStatus(AudioPackStatus::installing());
    co_return writeManifest(manifest, packDir);
}

void AudioPackStore::removeObsoletePacks(const QString& version)
{
    const QFileInfoList entries =
        QDir(audioPacksDirectory())
            .entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System);
    for (const QFileInfo& entry : entries) {
        if (entry.fileName() == version || !entry.isDir())
            continue;
        if (entry.isSymLink())
            QFile::remove(entry.filePath()); // the link, never what it points to
        else
            QDir(entry.filePath()).removeRecursively();
    }
}

qint64 AudioPackStore::changedTrackCount(const AudioPackManifest& manifest)
{
    if (!m_installedManifest)
        return manifest.tracks.size();
    const QStringList directories = existingPackDirectories(manifest);
    qint64 changed = 0;
    for (const AudioPackTrack& track : manifest.tracks) {
        const bool found =
            std::any_of(directories.cbegin(), directories.cend(), [&](const QString& directory) {
                const Result<bool> verified =
                    verifiedFileExists(directory + QLatin1Char('/') + audioDirectoryName +
                                           QLatin1Char('/') + track.fileName,
                                       track);
                return verified.ok() && *verified;
            });
        if (!found)
            ++changed;
    }
    return changed;
}

bool AudioPackStore::updateIsAvailable(const AudioPackManifest& manifest)
{
    return changedTrackCount(manifest) > 0;
}

} // namespace calmcove
