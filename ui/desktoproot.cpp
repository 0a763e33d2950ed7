#include "desktoproot.h"

#include "albums/albumstore.h"
#include "app/appversion.h"
#include "app/calmcoveruntime.h"
#include "mpris/nowplayingcontroller.h"
#include "ui/statusbarcontroller.h"
#include "updates/appstoreversionchecker.h"

#include <QApplication>

namespace calmcove {

DesktopRoot::DesktopRoot(CalmcoveRuntime& runtime)
    : m_runtime(runtime), m_importPanels(runtime.albumStore(), m_importDialogs)
{
    // Closing the panel window (no tray) or the album manager must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);
    m_runtime.albumStore().setDialogs(&m_importDialogs);
    m_runtime.appStoreVersionChecker().setUserDriver(&m_updateWindows);
    m_albumManager.setController(&m_runtime.controller());
    m_albumManager.setAlbumStore(&m_runtime.albumStore());
    m_albumManager.setAudioPackStore(&m_runtime.audioPackStore());
    m_albumManager.setImportPanels(&m_importPanels);

    PlayerPanelInputs inputs = PlayerPanelInputs::of(runtime);
    inputs.openAlbums = [this] { m_albumManager.show(); };
    inputs.appVersion = appVersion();
    inputs.websiteURL = QStringLiteral(CALMCOVE_WEBSITE_URL_STRING);
    m_statusBar = std::make_unique<StatusBarController>(inputs);
    m_runtime.nowPlaying().setRaiseHandler([this] { showPanel(); });
}

// The stores may outlive the dialogs and windows they ask.
DesktopRoot::~DesktopRoot()
{
    m_runtime.nowPlaying().setRaiseHandler({});
    m_statusBar.reset();
    m_runtime.appStoreVersionChecker().setUserDriver(nullptr);
    m_runtime.albumStore().setDialogs(nullptr);
}

void DesktopRoot::showPanel()
{
    m_statusBar->showPanel();
}

} // namespace calmcove
