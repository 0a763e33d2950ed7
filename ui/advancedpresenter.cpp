#include "advancedpresenter.h"

#include "app/appsettings.h"
#include "updates/appstoreversionchecker.h"

namespace calmcove {

AdvancedPresenter::AdvancedPresenter(AppSettings* settings, AppStoreVersionChecker* updates,
                                     QObject* parent)
    : QObject(parent), m_settings(settings), m_updates(updates)
{
    if (settings) {
        connect(settings, &AppSettings::launchAtLoginEnabledChanged, this,
                &AdvancedPresenter::changed);
        connect(settings, &AppSettings::launchAtLoginErrorChanged, this,
                &AdvancedPresenter::changed);
    }
    if (updates) {
        connect(updates, &AppStoreVersionChecker::automaticallyChecksForUpdatesChanged, this,
                &AdvancedPresenter::changed);
        connect(updates, &AppStoreVersionChecker::errorMessageChanged, this,
                &AdvancedPresenter::changed);
    }
}

QString AdvancedPresenter::summary() const
{
    QStringList parts;
    if (launchAtLoginEnabled())
        parts.append(QStringLiteral("Login"));
    if (automaticUpdatesEnabled())
        parts.append(QStringLiteral("App updates"));
    return parts.isEmpty() ? QStringLiteral("Off") : parts.join(QStringLiteral(" - "));
}

bool AdvancedPresenter::launchAtLoginEnabled() const
{
    return m_settings && m_settings->launchAtLoginEnabled();
}

void AdvancedPresenter::setLaunchAtLogin(bool enabled)
{
    if (m_settings)
        m_settings->setLaunchAtLogin(enabled);
}

bool AdvancedPresenter::automaticUpdatesEnabled() const
{
    return m_updates && m_updates->automaticallyChecksForUpdates();
}

void AdvancedPresenter::setAutomaticUpdates(bool enabled)
{
    if (m_updates)
        m_updates->setAutomaticallyChecksForUpdates(enabled);
}

void AdvancedPresenter::checkForAppUpdate()
{
    if (m_updates)
        m_updates->checkForAppUpdate();
}

QStringList AdvancedPresenter::messages() const
{
    QStringList messages;
    if (m_settings && !m_settings->launchAtLoginError().isEmpty())
        messages.append(m_settings->launchAtLoginError());
    if (m_updates && !m_updates->errorMessage().isEmpty())
        messages.append(m_updates->errorMessage());
    return messages;
}

void AdvancedPresenter::refresh()
{
    if (m_settings)
        m_settings->readLaunchAtLogin();
}

} // namespace calmcove
