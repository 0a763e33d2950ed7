#pragma once

// The one application-wide setting that is no playback choice: whether Calmcove starts
// when the user logs in. The autostart entry is its only store; the settings mirror it
// for the interface and keep the message of the last failed change. Main thread only.

#include "platform/autostartentry.h"

#include <QObject>

namespace calmcove {

class AppSettings : public QObject
{
    Q_OBJECT
    Q_PROPERTY(
        bool launchAtLoginEnabled READ launchAtLoginEnabled NOTIFY launchAtLoginEnabledChanged)
    // A null string means no error.
    Q_PROPERTY(QString launchAtLoginError READ launchAtLoginError NOTIFY launchAtLoginErrorChanged)

public:
    // Starts off, without reading the entry; readLaunchAtLogin() reads it.
    explicit AppSettings(AutostartEntry entry = AutostartEntry(), QObject* parent = nullptr);

    bool launchAtLoginEnabled() const { return m_launchAtLoginEnabled; }
    QString launchAtLoginError() const { return m_launchAtLoginError; }

    // Shows the entry's state as it stands (once, at start-up).
    void readLaunchAtLogin();
    // Writes or removes the entry, then shows the state the file system has, whether
    // that worked or not, and on failure the message.
    void setLaunchAtLogin(bool enabled);

Q_SIGNALS:
    void launchAtLoginEnabledChanged();
    void launchAtLoginErrorChanged();

private:
    void setLaunchAtLoginEnabled(bool enabled);
    void setLaunchAtLoginError(const QString& error);

    AutostartEntry m_entry;
    bool m_launchAtLoginEnabled = false;
    QString m_launchAtLoginError;
};

} // namespace calmcove
