#include "desktoproot.h"

#include "albums/albumstore.h"
#include "app/appversion.h"
#include "app/calmcoveruntime.h"
#include "ui/statusbarcontroller.h"

#include <QApplication>

namespace calmcove {

DesktopRoot::DesktopRoot(CalmcoveRuntime& runtime)
    : m_runtime(runtime), m_importPanels(runtime.albumStore(), m_importDialogs)
{
    m_runtime.albumStore().setDialogs(&m_importDialogs);
    // Closing the panel window (no tray) must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);
    PlayerPanelInputs inputs;
    inputs.controller = &runtime.controller();
    inputs.albumStore = &runtime.albumStore();
    inputs.audioPackStore = &runtime.audioPackStore();
    inputs.appVersion = appVersion();
    inputs.websiteURL = QStringLiteral(CALMCOVE_WEBSITE_URL_STRING);
    m_statusBar = std::make_unique<StatusBarController>(inputs);
}

void DesktopRoot::showPanel()
{
    m_statusBar->showPanel();
}

// The store may outlive the dialogs it asks.
DesktopRoot::~DesktopRoot()
{
    m_statusBar.reset();
    m_runtime.albumStore().setDialogs(nullptr);
}

} // namespace calmcove
