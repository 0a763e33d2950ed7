#pragma once

// The desktop side of the application root, built after the runtime's stores and
// controllers and before the runtime starts: it owns what the user sees and answers,
// the import dialogs, the update windows and the album manager (the tray icon joins it), and links
// them to the stores. Only created when the process has a display. Main thread only.

#include "albums/importpanels.h"
#include "ui/albummanagerwindowpresenter.h"
#include "ui/qtimportdialogs.h"
#include "ui/updatewindows.h"

namespace calmcove {

class CalmcoveRuntime;

class DesktopRoot
{
public:
    // The runtime must outlive the desktop root.
    explicit DesktopRoot(CalmcoveRuntime& runtime);
    ~DesktopRoot();
    DesktopRoot(const DesktopRoot&) = delete;
    DesktopRoot& operator=(const DesktopRoot&) = delete;

    ImportDialogs& importDialogs() { return m_importDialogs; }
    // The dialog-driven import flows the album manager starts.
    ImportPanels& importPanels() { return m_importPanels; }
    AlbumManagerWindowPresenter& albumManager() { return m_albumManager; }

private:
    CalmcoveRuntime& m_runtime;
    QtImportDialogs m_importDialogs;
    UpdateWindows m_updateWindows;
    ImportPanels m_importPanels;
    AlbumManagerWindowPresenter m_albumManager;
};

} // namespace calmcove
