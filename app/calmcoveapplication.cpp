#include "calmcoveapplication.h"

#include "app/calmcoveruntime.h"
#include "platform/apppaths.h"
#include "platform/hotkeybackendfactory.h"
#include "platform/networkinformationmonitor.h"
#include "platform/singleinstance.h"
#include "platform/unixsignalwatcher.h"
#include "platform/userdefaults.h"
#include "shortcuts/shortcutmanager.h"
#include "ui/desktoproot.h"

#include <cstdio>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QTimer>

namespace calmcove {

CalmcoveApplication::CalmcoveApplication(LaunchOptions options, QObject* parent)
    : QObject(parent), m_options(std::move(options)), m_defaults(UserDefaults::standard()),
      // First of all: a signal that arrives during start-up still quits through the loop.
      m_signalWatcher(std::make_unique<UnixSignalWatcher>())
{
    connect(m_signalWatcher.get(), &UnixSignalWatcher::terminationRequested,
            QCoreApplication::instance(), &QCoreApplication::quit);
}

CalmcoveApplication::~CalmcoveApplication()
{
    m_desktop.reset();
    m_runtime.reset();
    m_defaults.sync();
}

bool CalmcoveApplication::start()
{
    // A second launch hands its files to the running Calmcove and ends, however long that
    // one takes to answer.
    m_instance = std::make_unique<SingleInstance>();
    const auto role = m_instance->claim(
        m_options.handOverArguments(),
        [] {
            std::fputs("calmcove: waiting for the running Calmcove to accept this launch...\n",
                       stderr);
        },
        &terminationFlag());
    if (role != SingleInstance::Role::running)
        return false;
    m_instance->listen();
    if (m_options.displayMissing)
        std::fputs("calmcove: no graphical display found; running headless.\n", stderr);
    // Only the running instance uses the temporary folder: what is there is a killed run's.
    AppPaths::clearTemporaryDirectory();

    for (const QString& assignment : std::as_const(m_options.settingOverrides))
        m_defaults.addOverride(assignment);

    m_networkMonitor = std::make_unique<NetworkInformationMonitor>();
    m_hotkeys = createHotkeyBackend(ShortcutManager::hotkeyDescriptions());
    m_runtime = std::make_unique<CalmcoveRuntime>(
        m_options, m_defaults,
        PlatformServices{.networkMonitor = m_networkMonitor.get(),
                         .sessionBus = QDBusConnection::sessionBus(),
                         .hotkeys = m_hotkeys.get()});
    if (!m_options.headless)
        m_desktop = std::make_unique<DesktopRoot>(*m_runtime);
    m_runtime->start();

    connect(m_instance.get(), &SingleInstance::argumentsReceived, this,
            [this](const QStringList& handedOver) {
                const auto [open, showPanel, showAlbumManager, updateLibrary] =
                    splitHandedOverArguments(handedOver);
                if (updateLibrary)
                    m_runtime->updateLibraryNow();
                m_runtime->open(open);
                if (showAlbumManager && m_desktop)
                    m_desktop->albumManager().show();
                // A later launch with nothing to do brings up the panel, so Calmcove stays
                // reachable where there is no tray.
                const bool nothingAsked = handedOver.isEmpty();
                if ((showPanel || nothingAsked) && m_desktop)
                    m_desktop->showPanel();
            });
    if (m_options.showPanel && m_desktop)
        QTimer::singleShot(0, m_runtime.get(), [this] { m_desktop->showPanel(); });
    if (m_options.showAlbumManager && m_desktop)
        QTimer::singleShot(0, &m_desktop->albumManager(), &AlbumManagerWindowPresenter::show);
    // The runtime's start() already completes a missing library: --update-library has
    // nothing to add to a first launch.
    QTimer::singleShot(0, m_runtime.get(), [this] { m_runtime->open(m_options.openArguments); });
    return true;
}

} // namespace calmcove
