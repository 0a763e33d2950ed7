#pragma once

// The Advanced row of the panel: its summary ("Login", "App updates", joined with " - ",
// or "Off"), the two switches, "Check App Update", "Repair Track Library" and the error
// texts below. No widgets. Main thread only.

#include "panelsources.h"

#include <QObject>
#include <QPointer>
#include <QStringList>

namespace calmcove {

class AdvancedPresenter : public QObject
{
    Q_OBJECT
public:
    // Without a source (settings or update checker not built in) the switches are absent
    // and the summary counts them as off.
    explicit AdvancedPresenter(AdvancedSettingsSource* source, QObject* parent = nullptr);

    bool hasSettings() const { return m_source != nullptr; }
    QString summary() const;
    bool launchAtLoginEnabled() const;
    void setLaunchAtLogin(bool enabled);
    bool automaticUpdatesEnabled() const;
    void setAutomaticUpdates(bool enabled);
    void checkForAppUpdate();
    // The login error, then the update error, those that are set.
    QStringList messages() const;
    // The panel was shown: the login state is read from the system again.
    void refresh();

Q_SIGNALS:
    void changed();

private:
    AdvancedSettingsSource* m_source;
};

} // namespace calmcove
