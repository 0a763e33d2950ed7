#pragma once

// The downloaded track library: one folder per pack version under the packs root, each
// with its manifest, its verified audio files and their verification records. The store
// finds the installed library at start-up (trusting unchanged files on their records and
// hashing the others on a worker thread, during which their tracks are not offered),
// installs and updates packs from the library server (track by track, each
// checked by size and SHA-256 before it is moved in), keeps the status and update state
// the panel shows, runs the hourly schedule with its daily check for new tracks, pauses
// while the network is away and resumes when it returns, and answers where a track's
// audio is. Main thread only.
//
// Asynchronous operations are QCoro coroutines; they may be awaited or left to run. When
// the store is destroyed every transfer and wait in flight ends at once and nothing is
// reported for it.

#include "library/asyncwait.h"
#include "library/audiopackclient.h"
#include "library/audiopackformat.h"
#include "library/audiopackstatus.h"
#include "library/backgroundhasher.h"
#include "library/filedigest.h"
#include "model/calmtrack.h"
#include "platform/networkpathmonitor.h"

#include <QCoro/QCoroTask>
#include <QObject>
#include <QStringList>

#include <memory>
#include <optional>

namespace calmcove {

class UserDefaults;

// Everything a test replaces; the defaults are the program's.
struct AudioPackStoreOptions
{
    // Empty: $XDG_DATA_HOME/Calmcove/AudioPacks.
    QString packsRoot;
    // Empty: share/calmcove/StarterAudio beside the executable.
    QString starterDirectory;
    // Not owned; must outlive the store. Null: the network counts as always usable.
    NetworkPathMonitor* networkMonitor = nullptr;
    // Null: the wall clock and real timers.
    std::shared_ptr<LibraryClock> clock;
    BuildInfo buildInfo = BuildInfo::current();
    AudioPackClientTimeouts timeouts;
};

class AudioPackStore : public QObject
{
    Q_OBJECT
    Q_PROPERTY(calmcove::AudioPackStatus status READ status NOTIFY statusChanged)
    Q_PROPERTY(
        calmcove::AudioPackUpdateState updateState READ updateState NOTIFY updateStateChanged)
    // Share of the installed manifest's bytes that are verified, 0 to 1.
    Q_PROPERTY(double progress READ progress NOTIFY progressChanged)
    Q_PROPERTY(std::optional<calmcove::AudioPackManifest> installedManifest READ installedManifest
                   NOTIFY installedManifestChanged)
    Q_PROPERTY(bool fullLibraryIsInstalled READ fullLibraryIsInstalled NOTIFY
                   fullLibraryIsInstalledChanged)
    Q_PROPERTY(QString statusTitle READ statusTitle NOTIFY statusTextsChanged)
    Q_PROPERTY(QString statusDetail READ statusDetail NOTIFY statusTextsChanged)
    Q_PROPERTY(bool canDownloadCheckedTrackUpdate READ canDownloadCheckedTrackUpdate NOTIFY
                   canDownloadCheckedTrackUpdateChanged)
    Q_PROPERTY(bool hasNetwork READ hasNetwork NOTIFY networkChanged)
    Q_PROPERTY(bool networkIsConstrained READ networkIsConstrained NOTIFY networkChanged)
    Q_PROPERTY(bool networkIsExpensive READ networkIsExpensive NOTIFY networkChanged)
    // Installed files without a matching verification record are being hashed; their
    // tracks are offered once they pass.
    Q_PROPERTY(bool verifyingInstalledFiles READ verifyingInstalledFiles NOTIFY
                   verifyingInstalledFilesChanged)

public:
    static inline const QString metadataFileName = QStringLiteral("audio-pack-manifest.json");
    static inline const QString audioDirectoryName = QStringLiteral("Audio");
    static inline const QString lastManifestCheckDateKey =
        QStringLiteral("CalmcoveAudioPackLastManifestCheckDate");
    static constexpr std::chrono::seconds automaticUpdateInterval{3600};
    // Least time between two checks for new tracks.
    static constexpr std::chrono::seconds dailyCheckInterval{86400};
    static inline const QString waitingForLibraryMessage =
        QStringLiteral("Calmcove will continue the library download when the network returns.");
    static inline const QString waitingForUpdateMessage =
        QStringLiteral("Calmcove will continue the new tracks download when the network returns.");
    static inline const QString checkWhenOnlineMessage =
        QStringLiteral("Calmcove will check for new tracks when the network returns.");
    static inline const QString betterNetworkMessage =
        QStringLiteral("Calmcove will update new tracks when the network is better.");

    using Options = AudioPackStoreOptions;

    // Finds the installed library without reading its audio: files whose records match are
    // trusted, the others are hashed on a worker thread. Starts watching the network.
    explicit AudioPackStore(UserDefaults& defaults, Options options = {},
                            QObject* parent = nullptr);
    // Cancels the hourly loop, every transfer and every wait; stops watching the network.
    ~AudioPackStore() override;

    // $XDG_DATA_HOME/Calmcove/AudioPacks, or <temp>/Calmcove/AudioPacks without a data
    // directory.
    static QString defaultPacksRoot();

    // ---- observable state
    const AudioPackStatus& status() const { return m_status; }
    const AudioPackUpdateState& updateState() const { return m_updateState; }
    double progress() const { return m_progress; }
    const std::optional<AudioPackManifest>& installedManifest() const
    {
        return m_installedManifest;
    }
    bool fullLibraryIsInstalled() const { return m_fullLibraryIsInstalled; }
    QString statusTitle() const;
    QString statusDetail() const;
    // Not busy, an update was found and is still pending.
    bool canDownloadCheckedTrackUpdate() const;
    bool hasNetwork() const { return m_hasNetwork; }
    bool networkIsConstrained() const { return m_networkIsConstrained; }
    bool networkIsExpensive() const { return m_networkIsExpensive; }
    bool verifyingInstalledFiles() const { return m_verifyingInstalledFiles; }
    // Files hashed on the worker thread since launch (those whose records did not match).
    int backgroundHashedFileCount() const { return m_hasher ? m_hasher->hashedFileCount() : 0; }

    AudioPackClient& client() { return *m_client; }

    // ---- lookups for the player
    // The installed file of the manifest track `resourceName`, when it is known to match the
    // manifest (verified in this launch or trusted on its record; never read here).
    std::optional<QString> localPath(const QString& resourceName) const;
    // The shipped starter file of a starter track, when it exists.
    std::optional<QString> starterPath(const QString& resourceName) const;
    // A file track: its file exists; a library track: localPath or starterPath gives a file.
    bool isTrackAvailable(const CalmTrack& track) const;
    // The default album's tracks: the catalogue without a manifest, else the manifest's
    // tracks in its order, filled in from the catalogue.
    static QList<CalmTrack> tracksForDefaultAlbum(const std::optional<AudioPackManifest>& manifest);

    // ---- operations
    // Starts the hourly loop (first pass at once) unless it runs already.
    void startAutomaticUpdates();
    // Installs or completes the newest compatible pack; does nothing while busy. `force`
    // reinstalls from scratch. Failures end in `status`.
    QCoro::Task<> installLatestPackIfNeeded(bool force = false);
    // Installs the update found by the last check, if canDownloadCheckedTrackUpdate.
    QCoro::Task<> installCheckedTrackUpdate();
    // One pass of the hourly loop: completes a missing or partial library, or checks for
    // new tracks when the last check is at least a day old.
    QCoro::Task<> installLatestPackIfDue();
    // Checks for new tracks and installs them at once; failures end in `updateState`.
    QCoro::Task<> installLatestTrackUpdateIfAvailable();

    // ---- the pieces of an install (public for tests and tools)
    // The packs root, created if missing (a failure is ignored).
    QString audioPacksDirectory() const;
    QString packDirectory(const QString& version) const;
    // True when the file exists with the track's size and SHA-256 (hashing it on this
    // thread unless its digest is known); an error when it has the right size but cannot
    // be read.
    Result<bool> verifiedFileExists(const QString& path, const AudioPackTrack& track);
    // Every track of `manifest` is verified in its own pack directory (stops at the first
    // that is not).
    bool allTracksVerified(const AudioPackManifest& manifest);
    // Pack directories, hidden entries skipped, greatest name first (10 before 9).
    QStringList installedPackDirectories() const;
    // Where files of `manifest` may be copied from: the installed pack, the pack of the
    // same version, then every pack directory; existing paths only, each once.
    QStringList existingPackDirectories(const AudioPackManifest& manifest) const;
    // Puts a verified copy of every track into `audioDirectory` when some pack has one.
    void seedAudioDirectory(const QString& audioDirectory, const AudioPackManifest& manifest);
    // Writes "audio-pack-manifest.json" atomically.
    Result<void> writeManifest(const AudioPackManifest& manifest, const QString& packDirectory);
    qint64 installedByteCount(const AudioPackManifest& manifest);
    // Downloads and verifies every missing track, then commits the pack. On failure the
    // previous complete library comes back; verified files stay for the next attempt.
    QCoro::Task<Result<void>> install(AudioPackManifest manifest, bool resetStaging);
    // Deletes every pack directory but `version` (failures ignored).
    void removeObsoletePacks(const QString& version);
    // The first valid manifest whose files are all known to be verified, else the first
    // valid one. Reads no audio: a file not verified yet counts as missing.
    std::optional<AudioPackManifest> loadInstalledManifest();
    bool manifestCheckIsDue() const;
    // Tracks of `manifest` with no verified copy in any pack directory.
    qint64 changedTrackCount(const AudioPackManifest& manifest);
    bool updateIsAvailable(const AudioPackManifest& manifest);

Q_SIGNALS:
    void statusChanged();
    void updateStateChanged();
    void progressChanged();
    void installedManifestChanged();
    void fullLibraryIsInstalledChanged();
    void statusTextsChanged();
    void canDownloadCheckedTrackUpdateChanged();
    void networkChanged();
    void verifyingInstalledFilesChanged();
    // The default album's new track list, after every change of the installed library.
    void libraryDidChange(const QList<calmcove::CalmTrack>& tracks);

private:
    enum class Verification
    {
        verified,
        notVerified,
        unknown
    };

    QString audioDirectory(const QString& version) const;
    // The valid manifests on disk, greatest pack directory first.
    QList<AudioPackManifest> installedManifestCandidates() const;
    // From the file's known digest only; `unknown` when it has the right size but no
    // digest known for its current identity.
    Verification knownVerification(const QString& path, const AudioPackTrack& track) const;
    bool allTracksKnownVerified(const AudioPackManifest& manifest) const;
    qint64 knownVerifiedByteCount(const AudioPackManifest& manifest) const;
    // Sets the launch state from what is known; returns the files still to be hashed.
    QStringList restoreInstalledLibrary();
    // Hashes `unverified` on a worker thread; their tracks are offered once they pass.
    void startLaunchVerification(const QStringList& unverified);
    void finishLaunchVerification(const QStringList& hashedFiles);
    // Suspends while the launch verification runs; false when the store went away.
    QCoro::Task<bool> launchVerificationDone();
    // Rewrites the records of a pack from the digests known for its audio files (a failure
    // only costs a hash at the next launch).
    void saveVerificationRecords(const QString& packDirectory);
    void notifyLibraryChanged();
    void storeLastManifestCheckDate();
    void handleNetworkPath(const NetworkPath& path);
    QCoro::Task<> runAutomaticUpdates();
    // Steps of install() after the manifest is in place: download and verify every
    // missing track, then write the manifest again.
    QCoro::Task<Result<void>> installTracks(AudioPackManifest manifest, QString packDir);

    void setStatus(const AudioPackStatus& status);
    void setUpdateState(const AudioPackUpdateState& state);
    void setProgress(double progress);
    void setInstalledManifest(const std::optional<AudioPackManifest>& manifest);
    void setFullLibraryIsInstalled(bool full);
    void setPendingManifest(const std::optional<AudioPackManifest>& manifest);
    void setProgressFromVerifiedBytes(const AudioPackManifest& manifest);
    // Emits the derived texts and flags when they changed.
    void refreshDerivedState();

    UserDefaults& m_defaults;
    QString m_packsRoot;
    QString m_starterDirectory;
    std::shared_ptr<LibraryClock> m_clock;
    // Coroutines hold a copy and stop after any suspension at which it reads false: the
    // destructor resumes them while the object still exists, so a QPointer would not tell.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    Cancellation m_cancellation;
    std::unique_ptr<AudioPackClient> m_client;
    NetworkPathMonitor* m_monitor = nullptr;
    NetworkPathMonitor::WatchID m_networkWatch = 0;
    FileDigestCache m_digests;
    std::unique_ptr<BackgroundHasher> m_hasher;
    bool m_verifyingInstalledFiles = false;
    QList<Wake*> m_launchVerificationWaiters;

    AudioPackStatus m_status;
    AudioPackUpdateState m_updateState;
    double m_progress = 0;
    std::optional<AudioPackManifest> m_installedManifest;
    bool m_fullLibraryIsInstalled = false;
    std::optional<AudioPackManifest> m_pendingManifest;
    bool m_hasNetwork = true;
    bool m_networkIsConstrained = false;
    bool m_networkIsExpensive = false;
    bool m_shouldResumeWhenNetworkReturns = false;
    std::optional<QCoro::Task<>> m_automaticUpdateTask;

    QString m_lastStatusTitle;
    QString m_lastStatusDetail;
    bool m_lastCanDownload = false;
};

} // namespace calmcove

Q_DECLARE_METATYPE(std::optional<calmcove::AudioPackManifest>)
