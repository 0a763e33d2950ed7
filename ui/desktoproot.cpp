#include "desktoproot.h"

#include "albums/albumstore.h"
#include "app/calmcoveruntime.h"

namespace calmcove {

DesktopRoot::DesktopRoot(CalmcoveRuntime& runtime)
    : m_runtime(runtime), m_importPanels(runtime.albumStore(), m_importDialogs)
{
    m_runtime.albumStore().setDialogs(&m_importDialogs);
}

// The store may outlive the dialogs it asks.
DesktopRoot::~DesktopRoot()
{
    m_runtime.albumStore().setDialogs(nullptr);
}

} // namespace calmcove
