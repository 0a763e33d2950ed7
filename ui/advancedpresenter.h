#pragma once

// The Advanced row of the panel: its summary ("Login", "App updates", joined with " - ",
// or "Off"), the two switches, "Check App Update", "Repair Track Library" and the error
// texts below. No widgets. Main thread only.

#include <QObject>
#include <QStringList>

namespace calmcove {

class AppSettings;
class AppStoreVersionChecker;

class AdvancedPresenter : public QObject
{
    Q_OBJECT
public:
    // Without the settings and the update checker (a panel built without them) the
    // switches are absent and the summary counts them as off. Both outlive the presenter.
    AdvancedPresenter(AppSettings* settings, AppStoreVersionChecker* updates,
                      QObject* parent = nullptr);

    bool hasSettings() const { return m_settings && m_updates; }
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
    AppSettings* m_settings;
    AppStoreVersionChecker* m_updates;
};

} // namespace calmcove
