#include "audiopackstore.h"

#include "model/notifyonchange.h"
#include "model/tracklibrary.h"
#include "platform/apppaths.h"
#include "platform/userdefaults.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>

namespace calmcove {

AudioPackStore::AudioPackStore(UserDefaults& defaults, Options options, QObject* parent)
    : QObject(parent), m_defaults(defaults),
      m_packsRoot(
          QDir::cleanPath(options.packsRoot.isEmpty() ? defaultPacksRoot() : options.packsRoot)),
      m_starterDirectory(options.starterDirectory.isEmpty()
                             ? AppPaths::resourcePath(QStringLiteral("StarterAudio"))
                             : options.starterDirectory),
      m_clock(options.clock ? std::move(options.clock) : std::make_shared<LibraryClock>()),
      m_client(std::make_unique<AudioPackClient>(
          defaults, std::move(options.buildInfo), *m_clock, m_cancellation,
          [this] { return m_hasNetwork; }, options.timeouts)),
      m_monitor(options.networkMonitor)
{
    const QStringList unverified = restoreInstalledLibrary();
    m_lastStatusTitle = statusTitle();
    m_lastStatusDetail = statusDetail();
    m_lastCanDownload = canDownloadCheckedTrackUpdate();

    if (m_monitor) {
        m_networkWatch = m_monitor->watch([this, alive = m_alive](const NetworkPath& path) {
            if (*alive)
                handleNetworkPath(path);
        });
    }
    startLaunchVerification(unverified);
}

AudioPackStore::~AudioPackStore()
{
    *m_alive = false;
    if (m_monitor)
        m_monitor->unwatch(m_networkWatch);
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
    if (assignAndNotify(this, m_status, status, &AudioPackStore::statusChanged))
        refreshDerivedState();
}

void AudioPackStore::setUpdateState(const AudioPackUpdateState& state)
{
    if (assignAndNotify(this, m_updateState, state, &AudioPackStore::updateStateChanged))
        refreshDerivedState();
}

void AudioPackStore::setProgress(double progress)
{
    assignAndNotify(this, m_progress, progress, &AudioPackStore::progressChanged);
}

void AudioPackStore::setInstalledManifest(const std::optional<AudioPackManifest>& manifest)
{
    if (assignAndNotify(this, m_installedManifest, manifest,
                        &AudioPackStore::installedManifestChanged))
        refreshDerivedState();
}

void AudioPackStore::setFullLibraryIsInstalled(bool full)
{
    if (assignAndNotify(this, m_fullLibraryIsInstalled, full,
                        &AudioPackStore::fullLibraryIsInstalledChanged))
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
    const auto track =
        std::find_if(m_installedManifest->tracks.cbegin(), m_installedManifest->tracks.cend(),
                     [&](const AudioPackTrack& t) { return t.id == resourceName; });
    if (track == m_installedManifest->tracks.cend())
        return std::nullopt;
    const QString path = audioDirectory(m_installedManifest->version) + QLatin1Char('/') +
                         resourceName + QStringLiteral(".m4a");
    if (knownVerification(path, *track) != Verification::verified)
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

// ---- entry operations

QCoro::Task<> AudioPackStore::installLatestPackIfNeeded(bool force)
{
    const auto alive = m_alive;
    auto verifying = launchVerificationDone();
    if (!co_await std::move(verifying))
        co_return;
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
    auto verifying = launchVerificationDone();
    if (!co_await std::move(verifying))
        co_return;
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
    auto verifying = launchVerificationDone();
    if (!co_await std::move(verifying))
        co_return;
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
    auto verifying = launchVerificationDone();
    if (!co_await std::move(verifying))
        co_return;
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
