#include "appstoreversionchecker.h"

#include "platform/userdefaults.h"

#include <QPointer>
#include <QTimer>

namespace calmcove {

void UpdateReminderDelegate::setReminderLater(bool visible)
{
    QTimer::singleShot(0, this, [this, visible] {
        if (m_updateReminderVisible == visible)
            return;
        m_updateReminderVisible = visible;
        emit updateReminderVisibleChanged(visible);
    });
}

void UpdateReminderDelegate::willHandleShowingUpdate(bool userInitiated)
{
    if (!userInitiated)
        setReminderLater(true);
}

void UpdateReminderDelegate::didReceiveUserAttentionForUpdate()
{
    setReminderLater(false);
}

void UpdateReminderDelegate::willFinishUpdateSession()
{
    setReminderLater(false);
}

AppStoreVersionChecker::AppStoreVersionChecker(UserDefaults& defaults, UpdaterOptions options,
                                               QObject* parent)
    : QObject(parent), m_defaults(defaults), m_delegate(std::make_unique<UpdateReminderDelegate>())
{
    applyAutomaticUpdateDefaults();

    m_updaterController = std::make_unique<Updater>(defaults, *m_delegate, std::move(options));
    m_updaterController->start();
    m_automaticallyChecksForUpdates = m_updaterController->automaticallyChecksForUpdates();
    m_automaticallyDownloadsUpdates = m_updaterController->automaticallyDownloadsUpdates();
    m_canCheckForUpdates = m_updaterController->canCheckForUpdates();

    // Every change reaches the mirrors on a later turn of the event loop, and only while
    // this checker exists (the connections end with it).
    connect(m_updaterController.get(), &Updater::automaticallyChecksForUpdatesChanged, this,
            &AppStoreVersionChecker::mirrorAutomaticallyChecks, Qt::QueuedConnection);
    connect(m_updaterController.get(), &Updater::automaticallyDownloadsUpdatesChanged, this,
            &AppStoreVersionChecker::mirrorAutomaticallyDownloads, Qt::QueuedConnection);
    connect(m_updaterController.get(), &Updater::canCheckForUpdatesChanged, this,
            &AppStoreVersionChecker::mirrorCanCheck, Qt::QueuedConnection);
    connect(m_delegate.get(), &UpdateReminderDelegate::updateReminderVisibleChanged, this,
            &AppStoreVersionChecker::updateReminderVisibleChanged);
}

// The updater goes first: its session's last steps may still call the delegate.
AppStoreVersionChecker::~AppStoreVersionChecker()
{
    m_updaterController.reset();
}

void AppStoreVersionChecker::applyAutomaticUpdateDefaults()
{
    if (!m_defaults.contains(appliedDefaultsKey)) {
        m_defaults.setValue(Updater::automaticChecksKey, true);
        m_defaults.setValue(Updater::automaticUpdatesKey, true);
        m_defaults.setValue(appliedDefaultsKey, true);
        return;
    }
    for (const QString& key : {Updater::automaticChecksKey, Updater::automaticUpdatesKey}) {
        if (!m_defaults.contains(key))
            m_defaults.setValue(key, true);
    }
}

void AppStoreVersionChecker::setAutomaticallyChecksForUpdates(bool enabled)
{
    m_updaterController->setAutomaticallyChecksForUpdates(enabled);
    m_updaterController->setAutomaticallyDownloadsUpdates(enabled);
    mirrorAutomaticallyChecks(m_updaterController->automaticallyChecksForUpdates());
    mirrorAutomaticallyDownloads(m_updaterController->automaticallyDownloadsUpdates());
    m_updaterController->resetUpdateCycle();
}

void AppStoreVersionChecker::checkForAppUpdate()
{
    if (m_updaterController->canCheckForUpdates()) {
        setErrorMessage(QString());
        m_updaterController->checkForUpdates();
    } else {
        setErrorMessage(alreadyCheckingMessage);
    }
}

void AppStoreVersionChecker::setUserDriver(UpdateUserDriver* driver)
{
    m_updaterController->setUserDriver(driver);
}

void AppStoreVersionChecker::setErrorMessage(const QString& message)
{
    if (m_errorMessage == message)
        return;
    m_errorMessage = message;
    emit errorMessageChanged(message);
}

void AppStoreVersionChecker::mirrorAutomaticallyChecks(bool value)
{
    if (m_automaticallyChecksForUpdates == value)
        return;
    m_automaticallyChecksForUpdates = value;
    emit automaticallyChecksForUpdatesChanged(value);
}

void AppStoreVersionChecker::mirrorAutomaticallyDownloads(bool value)
{
    if (m_automaticallyDownloadsUpdates == value)
        return;
    m_automaticallyDownloadsUpdates = value;
    emit automaticallyDownloadsUpdatesChanged(value);
}

void AppStoreVersionChecker::mirrorCanCheck(bool value)
{
    if (m_canCheckForUpdates == value)
        return;
    m_canCheckForUpdates = value;
    emit canCheckForUpdatesChanged(value);
}

} // namespace calmcove
