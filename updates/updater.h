#pragma once

// The program's own update framework: a schedule of background checks driven by
// "SUEnableAutomaticChecks" and "SUScheduledCheckInterval", user-initiated checks with the
// user driver's windows, and the verified install. A release is downloaded to a temporary
// file no larger than the feed declares, and its size, SHA-256 and Ed25519 signature
// (against the key compiled into the build) are checked before anything else reads it.
// Only a tree unpacked from a release archive and writable by the user is ever replaced
// (see InstallTree); packaged installs are told where to get the release. Main thread.

#include "library/asyncwait.h"
#include "library/audiopackclient.h"
#include "platform/networkpathmonitor.h"
#include "updates/installtree.h"
#include "updates/updateuserdriver.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace calmcove {

class UserDefaults;

// Where updates come from and what they replace.
struct UpdaterConfiguration
{
    QString runningVersion;
    QString feedURL;   // build configuration; "CalmcoveUpdateFeedURL" in the settings wins
    QString publicKey; // the vendor's Ed25519 key (see ed25519PublicKeyFromText)
    InstallTree tree;

    // The build configuration (CALMCOVE_UPDATE_FEED_URL, CALMCOVE_UPDATE_PUBLIC_KEY) and
    // the running program's tree.
    static UpdaterConfiguration current();
};

struct UpdaterOptions
{
    UpdaterConfiguration configuration = UpdaterConfiguration::current();
    // Null: the wall clock and real timers.
    std::shared_ptr<LibraryClock> clock;
    // Not owned, outlives the updater; null: the network counts as always usable.
    NetworkPathMonitor* networkMonitor = nullptr;
    AudioPackClientTimeouts timeouts;
    // Starts the program at `executable` once this process has ended, and quits.
    // Empty: a detached shell waits for this process, then starts it.
    std::function<void(const QString& executable)> relaunch;
};

class Updater : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool automaticallyChecksForUpdates READ automaticallyChecksForUpdates WRITE
                   setAutomaticallyChecksForUpdates NOTIFY automaticallyChecksForUpdatesChanged)
    Q_PROPERTY(bool automaticallyDownloadsUpdates READ automaticallyDownloadsUpdates WRITE
                   setAutomaticallyDownloadsUpdates NOTIFY automaticallyDownloadsUpdatesChanged)
    // False while a check, download or install runs.
    Q_PROPERTY(bool canCheckForUpdates READ canCheckForUpdates NOTIFY canCheckForUpdatesChanged)
public:
    static inline const QString automaticChecksKey = QStringLiteral("SUEnableAutomaticChecks");
    static inline const QString automaticUpdatesKey = QStringLiteral("SUAutomaticallyUpdate");
    static inline const QString checkIntervalKey = QStringLiteral("SUScheduledCheckInterval");
    static inline const QString lastCheckTimeKey = QStringLiteral("SULastCheckTime");
    static inline const QString skippedVersionKey = QStringLiteral("SUSkippedVersion");
    static inline const QString feedURLKey = QStringLiteral("CalmcoveUpdateFeedURL");
    static constexpr qint64 defaultCheckInterval = 86400; // seconds
    static constexpr qint64 shortestCheckInterval = 3600; // seconds
    // No schedule timer wakes the process sooner than this after it was set.
    static constexpr std::chrono::seconds shortestTimerDelay{60};

    Updater(UserDefaults& defaults, UpdateUserDriverDelegate& delegate, UpdaterOptions options,
            QObject* parent = nullptr);
    ~Updater() override;

    // The windows of update sessions; none (headless) shows nothing and answers nothing.
    void setUserDriver(UpdateUserDriver* driver) { m_driver = driver; }

    bool automaticallyChecksForUpdates() const;
    void setAutomaticallyChecksForUpdates(bool enabled);
    bool automaticallyDownloadsUpdates() const;
    void setAutomaticallyDownloadsUpdates(bool enabled);
    bool canCheckForUpdates() const { return !m_session; }

    // A feed address and a valid public key are configured.
    bool hasUpdateChannel() const;

    // Removes what earlier installs left beside the tree, follows the network path and
    // starts the schedule. Once.
    void start();
    // Plans the next background check again from the last check time and the settings.
    void resetUpdateCycle();
    // A user-initiated check with the user driver's windows. Ignored while a session runs.
    void checkForUpdates();
    // When the next background check is due; none while automatic checks are off or no
    // update channel exists.
    std::optional<QDateTime> nextScheduledCheck() const { return m_nextCheck; }
    // A release unpacked and checked, waiting for the exchange at quit.
    std::optional<StagedTree> pendingInstall() const { return m_pendingInstall; }
    // Exchanges the trees for the pending install now (also done when the program quits).
    void installPendingUpdate();

signals:
    void automaticallyChecksForUpdatesChanged(bool enabled);
    void automaticallyDownloadsUpdatesChanged(bool enabled);
    void canCheckForUpdatesChanged(bool canCheck);

private:
    // Writes a settings switch; false when it already held `enabled`.
    bool storeSwitch(const QString& key, bool enabled);
    struct Session;
    struct Failure
    {
        QString message;
        QString detail;
    };

    QCoro::Task<> runSession(bool userInitiated);
    QCoro::Task<Expected<UpdateFeed, Failure>> fetchFeed(Session& session);
    QCoro::Task<Expected<StagedTree, Failure>> downloadAndStage(Session& session,
                                                                UpdateRelease release);
    void finishSession();
    void endCancelledSession();
    void cancelSession();
    void report(const Session& session, const Failure& failure);
    std::optional<QUrl> feedURL() const;
    void scheduleNextCheck();
    void scheduledCheckIsDue();
    void relaunch();

    UserDefaults& m_defaults;
    UpdateUserDriverDelegate& m_delegate;
    UpdaterOptions m_options;
    QByteArray m_publicKey;
    std::shared_ptr<LibraryClock> m_clock;
    UpdateUserDriver* m_driver = nullptr;
    std::shared_ptr<Session> m_session;
    // Ended sessions, deleted on a later turn of the event loop: a session may end inside
    // its own cancellation's callbacks.
    std::vector<std::shared_ptr<Session>> m_endedSessions;
    std::unique_ptr<QObject> m_scheduleContext; // its destruction drops the pending timer
    std::optional<QDateTime> m_nextCheck;
    std::optional<StagedTree> m_pendingInstall;
    NetworkPathMonitor::WatchID m_networkWatch = 0;
    bool m_started = false;
    bool m_destroying = false;
    bool m_networkUsable = true;
    bool m_waitingForNetwork = false;
};

} // namespace calmcove
