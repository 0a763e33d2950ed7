#pragma once

// Start at login on XDG desktops: the autostart entry
// $XDG_CONFIG_HOME/autostart/calmcove.desktop. The file as it stands is the only record of
// the setting; nothing is cached.

#include <optional>
#include <QString>

namespace calmcove {

class AutostartEntry
{
public:
    // The entry in the user's autostart folder, starting this executable.
    AutostartEntry();
    AutostartEntry(QString entryPath, QString executablePath);

    QString entryPath() const { return m_entryPath; }

    // The entry exists and neither hides itself (Hidden=true) nor is switched off
    // (X-GNOME-Autostart-enabled=false). An entry some other tool wrote counts too,
    // whatever it starts.
    bool isEnabled() const;

    // Writes the entry atomically, starting this executable, replacing whatever was
    // there. Returns the error message on failure.
    std::optional<QString> enable() const;
    // Removes the entry; none there is success. Returns the error message on failure.
    std::optional<QString> disable() const;

private:
    QString m_entryPath;
    QString m_executablePath;
};

// The Exec= value that runs `program` with no arguments: quoted where the Desktop Entry
// rules ask for it, then escaped as every string value is.
QString desktopEntryExecValue(const QString& program);

} // namespace calmcove
