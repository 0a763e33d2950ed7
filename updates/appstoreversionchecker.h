#pragma once

// The program's side of application updates, as the player panel and the tray see it:
// starts the updater once at launch with automatic checking and installing on by default,
// mirrors the updater's settings and can-check state, offers the "Auto App Updates" switch
// and the "Check App Update" action, reports a check that cannot start now, and shows a
// quiet reminder (an attention mark and "Calmcove — update available" on the tray) while
// an update found in the background waits for the user. Main thread.

#include "updates/updater.h"

#include <QObject>
#include <QString>

#include <memory>

namespace calmcove {

class UserDefaults;

// Hooks of the update windows: the reminder for updates found in the background. On this
// desktop windows carry their own taskbar entries, so nothing else changes around them.
class UpdateReminderDelegate : public QObject, public UpdateUserDriverDelegate
{
    Q_OBJECT
    Q_PROPERTY(
        bool updateReminderVisible READ updateReminderVisible NOTIFY updateReminderVisibleChanged)
public:
    using QObject::QObject;

    bool updateReminderVisible() const { return m_updateReminderVisible; }

    bool supportsGentleScheduledUpdateReminders() const override { return true; }
    void willHandleShowingUpdate(bool userInitiated) override;
    void didReceiveUserAttentionForUpdate() override;
    void willFinishUpdateSession() override;

signals:
    void updateReminderVisibleChanged(bool visible);

private:
    // Callbacks do their work on a later turn of the event loop.
    void setReminderLater(bool visible);

    bool m_updateReminderVisible = false;
};

class AppStoreVersionChecker : public QObject
{
    Q_OBJECT
    // Empty, or the reason the last "Check App Update" could not start.
    Q_PROPERTY(QString errorMessage READ errorMessage NOTIFY errorMessageChanged)
    Q_PROPERTY(bool automaticallyChecksForUpdates READ automaticallyChecksForUpdates NOTIFY
                   automaticallyChecksForUpdatesChanged)
    Q_PROPERTY(bool automaticallyDownloadsUpdates READ automaticallyDownloadsUpdates NOTIFY
                   automaticallyDownloadsUpdatesChanged)
    Q_PROPERTY(bool canCheckForUpdates READ canCheckForUpdates NOTIFY canCheckForUpdatesChanged)
    // An update found in the background waits for the user: the tray shows an attention
    // mark and updateReminderToolTip.
    Q_PROPERTY(
        bool updateReminderVisible READ updateReminderVisible NOTIFY updateReminderVisibleChanged)
public:
    static inline const QString appliedDefaultsKey =
        QStringLiteral("CalmcoveDidApplyAutomaticUpdateDefaultsV1");
    static inline const QString alreadyCheckingMessage =
        QStringLiteral("Calmcove is already checking for updates. Try again in a moment.");
    static inline const QString updateReminderToolTip =
        QStringLiteral("Calmcove — update available");

    // Applies the one-time defaults, creates the updater (which starts its schedule) and
    // mirrors its state.
    AppStoreVersionChecker(UserDefaults& defaults, UpdaterOptions options = {},
                           QObject* parent = nullptr);
    ~AppStoreVersionChecker() override;

    const QString& errorMessage() const { return m_errorMessage; }
    bool automaticallyChecksForUpdates() const { return m_automaticallyChecksForUpdates; }
    bool automaticallyDownloadsUpdates() const { return m_automaticallyDownloadsUpdates; }
    bool canCheckForUpdates() const { return m_canCheckForUpdates; }
    bool updateReminderVisible() const { return m_delegate->updateReminderVisible(); }

    // The "Auto App Updates" switch: automatic checking and installing together.
    void setAutomaticallyChecksForUpdates(bool enabled);
    // The "Check App Update" action.
    void checkForAppUpdate();

    // The windows of update sessions (the interface sets them; headless runs have none).
    void setUserDriver(UpdateUserDriver* driver);
    Updater& updater() const { return *m_updaterController; }
    UpdateReminderDelegate& userDriverDelegate() const { return *m_delegate; }

signals:
    void errorMessageChanged(const QString& message);
    void automaticallyChecksForUpdatesChanged(bool enabled);
    void automaticallyDownloadsUpdatesChanged(bool enabled);
    void canCheckForUpdatesChanged(bool canCheck);
    void updateReminderVisibleChanged(bool visible);

private:
    void applyAutomaticUpdateDefaults();
    void setErrorMessage(const QString& message);
    void mirrorAutomaticallyChecks(bool value);
    void mirrorAutomaticallyDownloads(bool value);
    void mirrorCanCheck(bool value);

    UserDefaults& m_defaults;
    QString m_errorMessage;
    bool m_automaticallyChecksForUpdates = true;
    bool m_automaticallyDownloadsUpdates = true;
    bool m_canCheckForUpdates = false;
    std::unique_ptr<UpdateReminderDelegate> m_delegate;
    std::unique_ptr<Updater> m_updaterController;
};

} // namespace calmcove
