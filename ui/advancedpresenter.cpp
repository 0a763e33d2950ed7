#include "advancedpresenter.h"

#include "panelsources.h"

namespace calmcove {

AdvancedPresenter::AdvancedPresenter(AdvancedSettingsSource* source, QObject* parent)
    : QObject(parent), m_source(source)
{
    if (source)
        connect(source, &AdvancedSettingsSource::changed, this, &AdvancedPresenter::changed);
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
    return m_source && m_source->launchAtLoginEnabled();
}

void AdvancedPresenter::setLaunchAtLogin(bool enabled)
{
    if (m_source)
        m_source->setLaunchAtLogin(enabled);
}

bool AdvancedPresenter::automaticUpdatesEnabled() const
{
    return m_source && m_source->automaticUpdatesEnabled();
}

void AdvancedPresenter::setAutomaticUpdates(bool enabled)
{
    if (m_source)
        m_source->setAutomaticUpdates(enabled);
}

void AdvancedPresenter::checkForAppUpdate()
{
    if (m_source)
        m_source->checkForAppUpdate();
}

QStringList AdvancedPresenter::messages() const
{
    QStringList messages;
    if (!m_source)
        return messages;
    if (!m_source->launchAtLoginError().isEmpty())
        messages.append(m_source->launchAtLoginError());
    if (!m_source->updateErrorMessage().isEmpty())
        messages.append(m_source->updateErrorMessage());
    return messages;
}

void AdvancedPresenter::refresh()
{
    if (m_source)
        m_source->refreshLaunchAtLogin();
}

} // namespace calmcove
