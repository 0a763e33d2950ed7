#include "audiopackstore.h"

#include "library/verificationrecords.h"

#include <QDir>
#include <QFile>
#include <QSet>

#include <algorithm>

// The store's verification: checking files against the manifest, finding the installed
// library at launch without reading its audio, the background pass over files whose
// records do not match, and the records kept beside each pack.

namespace calmcove {

namespace {

// <packs root>/<version>/Audio/<file> → <packs root>/<version>
QString packDirectoryOfAudioFile(const QString& path)
{
    QDir directory = QFileInfo(path).dir();
    directory.cdUp();
    return directory.path();
}

} // namespace

Result<bool> AudioPackStore::verifiedFileExists(const QString& path, const AudioPackTrack& track)
{
    const std::optional<qint64> size = FileDigestCache::fileSize(path);
    if (!size || *size != track.byteCount)
        return false;
    const std::optional<QString> digest = m_digests.digest(path);
    if (!digest)
        return LibraryError(FileError{QStringLiteral("Could not read %1.").arg(path)});
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

AudioPackStore::Verification AudioPackStore::knownVerification(const QString& path,
                                                               const AudioPackTrack& track) const
{
    const std::optional<FileIdentity> identity = FileIdentity::of(path);
    if (!identity || identity->size != track.byteCount)
        return Verification::notVerified;
    const std::optional<QString> digest = m_digests.knownDigest(path, *identity);
    if (!digest)
        return Verification::unknown;
    return *digest == track.sha256.toLower() ? Verification::verified : Verification::notVerified;
}

bool AudioPackStore::allTracksKnownVerified(const AudioPackManifest& manifest) const
{
    const QString audioDir = audioDirectory(manifest.version);
    return std::all_of(manifest.tracks.cbegin(), manifest.tracks.cend(),
                       [&](const AudioPackTrack& track) {
                           return knownVerification(audioDir + QLatin1Char('/') + track.fileName,
                                                    track) == Verification::verified;
                       });
}

qint64 AudioPackStore::knownVerifiedByteCount(const AudioPackManifest& manifest) const
{
    const QString audioDir = audioDirectory(manifest.version);
    qint64 bytes = 0;
    for (const AudioPackTrack& track : manifest.tracks) {
        if (knownVerification(audioDir + QLatin1Char('/') + track.fileName, track) ==
            Verification::verified)
            bytes += track.byteCount;
    }
    return bytes;
}

QList<AudioPackManifest> AudioPackStore::installedManifestCandidates() const
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
    return candidates;
}

std::optional<AudioPackManifest> AudioPackStore::loadInstalledManifest()
{
    const QList<AudioPackManifest> candidates = installedManifestCandidates();
    if (candidates.isEmpty())
        return std::nullopt;
    for (const AudioPackManifest& manifest : candidates) {
        if (allTracksKnownVerified(manifest))
            return manifest;
    }
    return candidates.first();
}

QStringList AudioPackStore::restoreInstalledLibrary()
{
    // Every pack that could be chosen learns its records; the files of a pack are hashed
    // unless an earlier pack is complete on its records alone (that one wins whatever the
    // others hold). One look at each file: a launch costs little more than a stat per track.
    const QList<AudioPackManifest> candidates = installedManifestCandidates();
    QStringList unverified;
    qsizetype chosen = candidates.isEmpty() ? -1 : 0;
    qint64 chosenVerifiedBytes = 0;
    bool chosenIsComplete = false;
    for (qsizetype index = 0; index < candidates.size(); ++index) {
        const AudioPackManifest& manifest = candidates[index];
        const QString audioDir = audioDirectory(manifest.version);
        const VerificationRecords records =
            readVerificationRecords(packDirectory(manifest.version));
        for (auto record = records.cbegin(); record != records.cend(); ++record)
            m_digests.remember(audioDir + QLatin1Char('/') + record.key(), record.value());
        bool complete = true;
        qint64 verifiedBytes = 0;
        for (const AudioPackTrack& track : manifest.tracks) {
            const QString path = audioDir + QLatin1Char('/') + track.fileName;
            const Verification verification = knownVerification(path, track);
            complete = complete && verification == Verification::verified;
            if (verification == Verification::verified)
                verifiedBytes += track.byteCount;
            else if (verification == Verification::unknown)
                unverified.append(path);
        }
        if (index == 0 || complete) {
            chosen = index;
            chosenVerifiedBytes = verifiedBytes;
            chosenIsComplete = complete;
        }
        if (complete)
            break;
    }

    if (chosen >= 0) {
        m_installedManifest = candidates[chosen];
        m_fullLibraryIsInstalled = chosenIsComplete;
        m_status = chosenIsComplete ? AudioPackStatus::ready(m_installedManifest->version)
                                    : AudioPackStatus::notInstalled();
        const qint64 total = m_installedManifest->totalBytes;
        m_progress = total < 1 ? 0 : double(chosenVerifiedBytes) / double(total);
    }
    return unverified;
}

void AudioPackStore::startLaunchVerification(const QStringList& unverified)
{
    if (unverified.isEmpty())
        return;
    m_verifyingInstalledFiles = true;
    m_hasher = std::make_unique<BackgroundHasher>(
        unverified,
        [this](const QString& path, const std::optional<VerifiedDigest>& result) {
            if (result)
                m_digests.remember(path, *result);
        },
        [this, unverified] { finishLaunchVerification(unverified); });
}

void AudioPackStore::finishLaunchVerification(const QStringList& hashedFiles)
{
    QSet<QString> packs;
    for (const QString& path : hashedFiles)
        packs.insert(packDirectoryOfAudioFile(path));
    for (const QString& pack : packs)
        saveVerificationRecords(pack);

    // The same choice and state as a launch that had read every file.
    const std::optional<AudioPackManifest> previous = m_installedManifest;
    const std::optional<AudioPackManifest> chosen = loadInstalledManifest();
    bool offersMore = chosen != previous;
    if (chosen) {
        const QString audioDir = audioDirectory(chosen->version);
        for (const AudioPackTrack& track : chosen->tracks) {
            const QString path = audioDir + QLatin1Char('/') + track.fileName;
            offersMore = offersMore || (hashedFiles.contains(path) &&
                                        knownVerification(path, track) == Verification::verified);
        }
    }
    setInstalledManifest(chosen);
    if (chosen) {
        setFullLibraryIsInstalled(allTracksKnownVerified(*chosen));
        if (!m_status.isBusy())
            setStatus(m_fullLibraryIsInstalled ? AudioPackStatus::ready(chosen->version)
                                               : AudioPackStatus::notInstalled());
        setProgress(chosen->totalBytes < 1
                        ? 0
                        : double(knownVerifiedByteCount(*chosen)) / double(chosen->totalBytes));
    } else {
        setFullLibraryIsInstalled(false);
    }
    m_verifyingInstalledFiles = false;
    Q_EMIT verifyingInstalledFilesChanged();
    if (offersMore)
        notifyLibraryChanged();

    // Entry operations that waited for this pass go on now, in the order they came.
    const auto alive = m_alive;
    for (Wake* waiter : std::exchange(m_launchVerificationWaiters, {})) {
        if (!*alive)
            return;
        waiter->fire(true);
    }
}

QCoro::Task<bool> AudioPackStore::launchVerificationDone()
{
    if (!m_verifyingInstalledFiles)
        co_return true;
    Wake wake;
    const Cancellation::Registration registration =
        m_cancellation.onCancel([&wake] { wake.fire(false); });
    m_launchVerificationWaiters.append(&wake);
    const bool done = co_await wake.wait();
    co_return done;
}

void AudioPackStore::saveVerificationRecords(const QString& packDir)
{
    const QString prefix = packDir + QLatin1Char('/') + audioDirectoryName + QLatin1Char('/');
    VerificationRecords records;
    for (const QString& path : m_digests.paths()) {
        const QString fileName = path.mid(prefix.size());
        if (!path.startsWith(prefix) || fileName.contains(QLatin1Char('/')))
            continue;
        if (const auto entry = m_digests.knownEntry(path))
            records.insert(fileName, *entry);
    }
    (void)writeVerificationRecords(packDir, records);
}

} // namespace calmcove
