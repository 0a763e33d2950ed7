#pragma once

// The application root: everything the process owns besides the Qt application object.
// It makes this process the single running Calmcove (or hands the command line to the
// one that runs), quits on SIGINT and SIGTERM, creates the platform services, the runtime
// of stores and controllers and, with a display, the desktop side, then starts the
// runtime and imports what the command line named. Main thread only.

#include "app/launchoptions.h"

#include <memory>
#include <QObject>

namespace calmcove {

class CalmcoveRuntime;
class DesktopRoot;
class HotkeyBackend;
class NetworkInformationMonitor;
class SingleInstance;
class UnixSignalWatcher;
class UserDefaults;

class CalmcoveApplication : public QObject
{
    Q_OBJECT
public:
    // A Qt application object must exist: a QApplication unless `options` is headless.
    explicit CalmcoveApplication(LaunchOptions options, QObject* parent = nullptr);
    // Takes the desktop side and the runtime down before the settings are written out.
    ~CalmcoveApplication() override;

    // Builds and starts everything. False when another Calmcove took the command line,
    // in which case this process should end.
    bool start();

private:
    // From a later launch: paths and links to open, or the request to update the library.
    void handleArguments(QStringList arguments);

    LaunchOptions m_options;
    UserDefaults& m_defaults;
    std::unique_ptr<UnixSignalWatcher> m_signalWatcher;
    std::unique_ptr<SingleInstance> m_instance;
    std::unique_ptr<NetworkInformationMonitor> m_networkMonitor;
    std::unique_ptr<HotkeyBackend> m_hotkeys;
    std::unique_ptr<CalmcoveRuntime> m_runtime;
    std::unique_ptr<DesktopRoot> m_desktop;
};

} // namespace calmcove
