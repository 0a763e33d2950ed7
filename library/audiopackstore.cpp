#include "audiopackstore.h"

#include "model/tracklibrary.h"
#include "platform/apppaths.h"
#include "platform/networkinformationmonitor.h"
#include "platform/userdefaults.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <unistd.h>

#include <algorithm>

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

// Puts a verified file in place without copying its bytes when both lie on the same file
// system; copies otherwise.
bool placeCopy(const QString& source, const QString& destination)
{
    if (::link(QFile::encodeName(source).constData(), QFile::encodeName(destination).constData()) ==
        0)
        return true;
    return QFile::copy(source, destination);
}

FileError fileError(const QString& what, const QString& path, const QString& reason = {})
{
    return FileError{reason.isEmpty() ? QStringLiteral("%1 %2.").arg(what, path)
                                      : QStringLiteral("%1 %2: %3").arg(what, path, reason)};
}

} // namespace

AudioPackStore::AudioPackStore(UserDefaults& defaults, Options options, QObject* parent)
    : QObject(parent), m_defaults(defaults),
      m_packsRoot(options.packsRoot.isEmpty() ? defaultPacksRoot() : options.packsRoot),
      m_starterDirectory(options.starterDirectory.isEmpty()
                             ? AppPaths::resourcePath(QStringLiteral("StarterAudio"))
                             : options.starterDirectory),
      m_clock(options.clock ? std::move(options.clock) : std::make_shared<LibraryClock>()),
      m_client(std::make_unique<AudioPackClient>(
          defaults, std::move(options.buildInfo), *m_clock, m_cancellation,
          [this] { return m_hasNetwork; }, options.timeouts)),
      m_monitor(options.networkMonitor ? std::move(options.networkMonitor)
                                       : std::make_unique<NetworkInformationMonitor>())
{
    m_installedManifest = loadInstalledManifest();
    if (m_installedManifest) {
        m_fullLibraryIsInstalled = allTracksVerified(*m_installedManifest);
        m_status = m_fullLibraryIsInstalled ? AudioPackStatus::ready(m_installedManifest->version)
                                            : AudioPackStatus::notInstalled();
        const qint64 total = m_installedManifest->totalBytes;
        m_progress =
            total < 1 ? 0 : double(installedByteCount(*m_installedManifest)) / double(total);
    }
    m_lastStatusTitle = statusTitle();
    m_lastStatusDetail = statusDetail();
    m_lastCanDownload = canDownloadCheckedTrackUpdate();

    m_monitor->start([this, alive = m_alive](const NetworkPath& path) {
        if (*alive)
            handleNetworkPath(path);
    });
}

AudioPackStore::~AudioPackStore()
{
    *m_alive = false;
    m_monitor->stop();
    m_cancellation.cancel();
}

QString AudioPackStore::defaultPacksRoot()
{
    const bool hasDataLocation =
        !QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation).isEmpty();
    const QString base = hasDataLocation ? AppPaths::dataDirectory()
                                         : QDir::tempPath() + QStringLiteral("/Calmcove");
    return base + QStringLiteral("/AudioPacks");
}

// ---- observable state

QString AudioPackStore::statusTitle() const
{
    return audioPackStatusTitle(m_status, m_updateState, m_fullLibraryIsInstalled);
}

QString AudioPackStore::statusDetail() const
{
    return audioPackStatusDetail(
        m_status, m_updateState, m_fullLibraryIsInstalled,
        m_installedManifest ? std::optional(m_installedManifest->trackCount) : std::nullopt);
}

bool AudioPackStore::canDownloadCheckedTrackUpdate() const
{
    return !m_status.isBusy() && m_updateState.kind == AudioPackUpdateState::Kind::available &&
           m_pendingManifest.has_value();
}

void AudioPackStore::setStatus(const AudioPackStatus& status)
{
    if (status == m_status)
        return;
    m_status = status;
    Q_EMIT statusChanged();
    refreshDerivedState();
}

void AudioPackStore::setUpdateState(const AudioPackUpdateState& state)
{
    if (state == m_updateState)
        return;
    m_updateState = state;
    Q_EMIT updateStateChanged();
    refreshDerivedState();
}

void AudioPackStore::setProgress(double progress)
{
    if (progress == m_progress)
        return;
    m_progress = progress;
    Q_EMIT progressChanged();
}

void AudioPackStore::setInstalledManifest(const std::optional<AudioPackManifest>& manifest)
{
    if (manifest == m_installedManifest)
        return;
    m_installedManifest = manifest;
    Q_EMIT installedManifestChanged();
    refreshDerivedState();
}

void AudioPackStore::setFullLibraryIsInstalled(bool full)
{
    if (full == m_fullLibraryIsInstalled)
        return;
    m_fullLibraryIsInstalled = full;
    Q_EMIT fullLibraryIsInstalledChanged();
    refreshDerivedState();
}

void AudioPackStore::setPendingManifest(const std::optional<AudioPackManifest>& manifest)
{
    m_pendingManifest = manifest;
    refreshDerivedState();
}

void AudioPackStore::setProgressFromVerifiedBytes(const AudioPackManifest& manifest)
{
    setProgress(manifest.totalBytes < 1
                    ? 0
                    : double(installedByteCount(manifest)) / double(manifest.totalBytes));
}

void AudioPackStore::refreshDerivedState()
{
    const QString title = statusTitle();
    const QString detail = statusDetail();
    if (title != m_lastStatusTitle || detail != m_lastStatusDetail) {
        m_lastStatusTitle = title;
        m_lastStatusDetail = detail;
        Q_EMIT statusTextsChanged();
    }
    const bool canDownload = canDownloadCheckedTrackUpdate();
    if (canDownload != m_lastCanDownload) {
        m_lastCanDownload = canDownload;
        Q_EMIT canDownloadCheckedTrackUpdateChanged();
    }
}

// ---- lookups

std::optional<QString> AudioPackStore::localPath(const QString& resourceName) const
{
    if (!m_installedManifest)
        return std::nullopt;
    const bool listed =
        std::any_of(m_installedManifest->tracks.cbegin(), m_installedManifest->tracks.cend(),
                    [&](const AudioPackTrack& t) { return t.id == resourceName; });
    if (!listed)
        return std::nullopt;
    const QString path = audioDirectory(m_installedManifest->version) + QLatin1Char('/') +
                         resourceName + QStringLiteral(".m4a");
    if (!QFileInfo::exists(path))
        return std::nullopt;
    return path;
}

std::optional<QString> AudioPackStore::starterPath(const QString& resourceName) const
{
    if (!TrackLibrary::starterTrackIDs().contains(resourceName))
        return std::nullopt;
    const QString path =
        m_starterDirectory + QLatin1Char('/') + resourceName + QStringLiteral(".m4a");
    if (!QFileInfo::exists(path))
        return std::nullopt;
    return path;
}

bool AudioPackStore::isTrackAvailable(const CalmTrack& track) const
{
    if (const auto* file = std::get_if<FileAudio>(&track.source))
        return QFileInfo::exists(file->path);
    const QString& name = std::get<BundledAudio>(track.source).resourceName;
    return localPath(name) || starterPath(name);
}

QList<CalmTrack>
AudioPackStore::tracksForDefaultAlbum(const std::optional<AudioPackManifest>& manifest)
{
    if (!manifest)
        return TrackLibrary::tracks();
    QHash<QString, CalmTrack> catalogue;
    for (const CalmTrack& track : TrackLibrary::tracks())
        catalogue.insert(track.id, track);
    QList<CalmTrack> tracks;
    tracks.reserve(manifest->tracks.size());
    for (const AudioPackTrack& track : manifest->tracks) {
        const auto fallback = catalogue.constFind(track.id);
        tracks.append(track.calmTrack(fallback == catalogue.cend() ? std::nullopt
                                                                   : std::optional(*fallback)));
    }
    return tracks;
}

void AudioPackStore::notifyLibraryChanged()
{
    Q_EMIT libraryDidChange(tracksForDefaultAlbum(m_installedManifest));
}

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

Result<bool> AudioPackStore::verifiedFileExists(const QString& path, const AudioPackTrack& track)
{
    const std::optional<qint64> size = FileDigestCache::fileSize(path);
    if (!size || *size != track.byteCount)
        return false;
    const std::optional<QString> digest = m_digests.digest(path);
    if (!digest)
        return LibraryError(fileError(QStringLiteral("Could not read"), path));
    return *digest == track.sha256.toLower();
}

bool AudioPackStore::allTracksVerified(const AudioPackManifest& manifest)
{
    const QString audioDir = audioDirectory(manifest.version);
    return std::all_of(
        manifest.tracks.cbegin(), manifest.tracks.cend(), [&](const AudioPackTrack& track) {
            const Result<bool> verified =
                verifiedFileExists(audioDir + QLatin1Char('/') + track.fileName, track);
            return verified.ok() && *verified;
        });
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
            if (placeCopy(source, destination)) {
                if (const auto digest = m_digests.digest(source))
                    m_digests.remember(destination, *digest);
                break;
            }
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

qint64 AudioPackStore::installedByteCount(const AudioPackManifest& manifest)
{
    const QString audioDir = audioDirectory(manifest.version);
    qint64 bytes = 0;
    for (const AudioPackTrack& track : manifest.tracks) {
        const Result<bool> verified =
            verifiedFileExists(audioDir + QLatin1Char('/') + track.fileName, track);
        if (verified.ok() && *verified)
            bytes += track.byteCount;
    }
    return bytes;
}

QCoro::Task<Result<void>> AudioPackStore::install(AudioPackManifest manifest, bool resetStaging)
{
    const auto alive = m_alive;
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
        QFile file(downloaded->path);
        if (!file.rename(destination))
            co_return LibraryError(fileError(QStringLiteral("Could not move a download to"),
                                             destination, file.errorString()));
        temporary.release();
        m_digests.remember(destination, downloaded->sha256);
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

std::optional<AudioPackManifest> AudioPackStore::loadInstalledManifest()
{
    QList<AudioPackManifest> candidates;
    for (const QString& directory : installedPackDirectories()) {
        QFile file(directory + QLatin1Char('/') + metadataFileName);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        Result<AudioPackManifest> manifest = decodeAudioPackManifest(file.readAll());
        if (!manifest || validateManifest(*manifest, m_client->compatibilityVersion()))
            continue;
        candidates.append(std::move(*manifest));
    }
    if (candidates.isEmpty())
        return std::nullopt;
    for (const AudioPackManifest& manifest : candidates) {
        if (allTracksVerified(manifest))
            return manifest;
    }
    return candidates.first();
}

bool AudioPackStore::manifestCheckIsDue() const
{
    const std::optional<QDateTime> last = m_defaults.date(lastManifestCheckDateKey);
    if (!last)
        return true;
    return last->msecsTo(m_clock->now()) >= qint64(dailyCheckInterval.count()) * 1000;
}

void AudioPackStore::storeLastManifestCheckDate()
{
    m_defaults.setDate(lastManifestCheckDateKey, m_clock->now());
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

// ---- entry operations

QCoro::Task<> AudioPackStore::installLatestPackIfNeeded(bool force)
{
    const auto alive = m_alive;
    if (m_status.isBusy())
        co_return;
    if (!m_hasNetwork) {
        m_shouldResumeWhenNetworkReturns = true;
        setStatus(AudioPackStatus::waitingForNetwork(waitingForLibraryMessage));
        co_return;
    }
    setStatus(AudioPackStatus::checking());
    setProgress(0);

    Result<void> outcome;
    auto fetching = m_client->fetchLatestCompatibleManifest();
    const Result<AudioPackManifest> latest = co_await std::move(fetching);
    if (!*alive)
        co_return;
    if (!latest) {
        outcome = latest.error();
    } else if (!force && m_installedManifest == *latest && allTracksVerified(*latest)) {
        setFullLibraryIsInstalled(true);
        setPendingManifest(std::nullopt);
        setUpdateState(AudioPackUpdateState::current());
        setStatus(AudioPackStatus::ready(latest->version));
        setProgress(1.0);
        storeLastManifestCheckDate();
        co_return;
    } else {
        auto installing = install(*latest, force);
        outcome = co_await std::move(installing);
        if (!*alive)
            co_return;
    }
    if (outcome)
        co_return;
    if (isConnectivityError(outcome.error())) {
        m_shouldResumeWhenNetworkReturns = true;
        setStatus(AudioPackStatus::waitingForNetwork(waitingForLibraryMessage));
    } else {
        setStatus(AudioPackStatus::failed(errorDescription(outcome.error())));
    }
}

QCoro::Task<> AudioPackStore::installLatestTrackUpdateIfAvailable()
{
    const auto alive = m_alive;
    if (m_status.isBusy() || m_updateState.kind == AudioPackUpdateState::Kind::checking)
        co_return;
    if (!m_hasNetwork) {
        setUpdateState(AudioPackUpdateState::failed(checkWhenOnlineMessage));
        co_return;
    }
    if (m_networkIsConstrained || m_networkIsExpensive) {
        setUpdateState(AudioPackUpdateState::failed(betterNetworkMessage));
        co_return;
    }
    setUpdateState(AudioPackUpdateState::checking());

    Result<void> outcome;
    auto fetching = m_client->fetchLatestCompatibleManifest();
    const Result<AudioPackManifest> latest = co_await std::move(fetching);
    if (!*alive)
        co_return;
    if (!latest) {
        outcome = latest.error();
    } else if (!updateIsAvailable(*latest)) {
        if (m_installedManifest && m_installedManifest->version != latest->version) {
            // A new version whose audio is all on disk already (new titles or moods, say):
            // installing it downloads nothing, and skipping it would never show the change.
            auto installing = install(*latest, false);
            outcome = co_await std::move(installing);
            if (!*alive)
                co_return;
        } else {
            if (m_installedManifest && allTracksVerified(*latest)) {
                setInstalledManifest(*latest);
                setFullLibraryIsInstalled(true);
            }
            setUpdateState(AudioPackUpdateState::current());
            storeLastManifestCheckDate();
            co_return;
        }
    } else {
        setPendingManifest(*latest);
        setUpdateState(
            AudioPackUpdateState::available(latest->version, changedTrackCount(*latest)));
        auto installing = install(*latest, false);
        outcome = co_await std::move(installing);
        if (!*alive)
            co_return;
    }
    if (outcome)
        co_return;

    const QString description = errorDescription(outcome.error());
    if (isConnectivityError(outcome.error())) {
        m_shouldResumeWhenNetworkReturns = true;
        if (!m_pendingManifest)
            setUpdateState(AudioPackUpdateState::failed(checkWhenOnlineMessage));
        else
            setStatus(AudioPackStatus::waitingForNetwork(waitingForUpdateMessage));
    } else {
        setUpdateState(AudioPackUpdateState::failed(description));
        if (m_pendingManifest)
            setStatus(AudioPackStatus::failed(description));
    }
}

QCoro::Task<> AudioPackStore::installCheckedTrackUpdate()
{
    const auto alive = m_alive;
    if (!canDownloadCheckedTrackUpdate())
        co_return;
    audioPacksDirectory();
    auto installing = install(*m_pendingManifest, false);
    const Result<void> outcome = co_await std::move(installing);
    if (!*alive || outcome)
        co_return;
    if (isConnectivityError(outcome.error())) {
        m_shouldResumeWhenNetworkReturns = true;
        setStatus(AudioPackStatus::waitingForNetwork(waitingForLibraryMessage));
    } else {
        const QString description = errorDescription(outcome.error());
        setStatus(AudioPackStatus::failed(description));
        setUpdateState(AudioPackUpdateState::failed(description));
    }
}

QCoro::Task<> AudioPackStore::installLatestPackIfDue()
{
    if (m_status.isBusy())
        co_return;
    if (!m_installedManifest || !m_fullLibraryIsInstalled)
        co_await installLatestPackIfNeeded(false);
    else if (manifestCheckIsDue())
        co_await installLatestTrackUpdateIfAvailable();
}

void AudioPackStore::startAutomaticUpdates()
{
    if (!m_automaticUpdateTask)
        m_automaticUpdateTask.emplace(runAutomaticUpdates());
}

QCoro::Task<> AudioPackStore::runAutomaticUpdates()
{
    const auto alive = m_alive;
    for (;;) {
        co_await installLatestPackIfDue();
        if (!*alive)
            co_return;
        auto sleeping = sleepFor(*m_clock, automaticUpdateInterval, m_cancellation);
        if (!co_await std::move(sleeping))
            co_return;
    }
}

void AudioPackStore::handleNetworkPath(const NetworkPath& path)
{
    const bool wasOnline = m_hasNetwork;
    const bool changed = path.satisfied != m_hasNetwork ||
                         path.constrained != m_networkIsConstrained ||
                         path.expensive != m_networkIsExpensive;
    m_hasNetwork = path.satisfied;
    m_networkIsConstrained = path.constrained;
    m_networkIsExpensive = path.expensive;
    if (changed)
        Q_EMIT networkChanged();

    if (!m_hasNetwork || wasOnline || !m_shouldResumeWhenNetworkReturns)
        return;
    m_shouldResumeWhenNetworkReturns = false;
    if (!m_pendingManifest) {
        installLatestPackIfDue();
    } else if (!path.constrained && !path.expensive) {
        installCheckedTrackUpdate();
    } else {
        m_shouldResumeWhenNetworkReturns = true;
        setUpdateState(AudioPackUpdateState::failed(betterNetworkMessage));
    }
}

} // namespace calmcove
