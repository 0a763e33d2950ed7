#include "appsettings.h"

namespace calmcove {

AppSettings::AppSettings(AutostartEntry entry, QObject* parent)
    : QObject(parent), m_entry(std::move(entry))
{}

void AppSettings::readLaunchAtLogin()
{
    setLaunchAtLoginEnabled(m_entry.isEnabled());
}

void AppSettings::setLaunchAtLogin(bool enabled)
{
    setLaunchAtLoginError(QString());
    const std::optional<QString> error = enabled ? m_entry.enable() : m_entry.disable();
    setLaunchAtLoginEnabled(m_entry.isEnabled());
    if (error)
        setLaunchAtLoginError(*error);
}

void AppSettings::setLaunchAtLoginEnabled(bool enabled)
{
    if (m_launchAtLoginEnabled == enabled)
        return;
    m_launchAtLoginEnabled = enabled;
    Q_EMIT launchAtLoginEnabledChanged();
}

void AppSettings::setLaunchAtLoginError(const QString& error)
{
    if (m_launchAtLoginError == error && m_launchAtLoginError.isNull() == error.isNull())
        return;
    m_launchAtLoginError = error;
    Q_EMIT launchAtLoginErrorChanged();
}

} // namespace calmcove
