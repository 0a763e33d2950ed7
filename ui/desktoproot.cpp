#include "desktoproot.h"

#include "albums/albumstore.h"
#include "app/calmcoveruntime.h"
#include "updates/appstoreversionchecker.h"

namespace calmcove {

DesktopRoot::DesktopRoot(CalmcoveRuntime& runtime)
    : m_runtime(runtime), m_importPanels(runtime.albumStore(), m_importDialogs)
{
    m_runtime.albumStore().setDialogs(&m_importDialogs);
    m_runtime.appStoreVersionChecker().setUserDriver(&m_updateWindows);
    m_albumManager.setController(&m_runtime.controller());
    m_albumManager.setAlbumStore(&m_runtime.albumStore());
    m_albumManager.setAudioPackStore(&m_runtime.audioPackStore());
    m_albumManager.setImportPanels(&m_importPanels);
}

// The stores may outlive the dialogs and windows they ask.
DesktopRoot::~DesktopRoot()
{
    m_runtime.appStoreVersionChecker().setUserDriver(nullptr);
    m_runtime.albumStore().setDialogs(nullptr);
}

} // namespace calmcove
