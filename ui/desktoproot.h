#pragma once

// The desktop side of the application root, built after the runtime's stores and
// controllers and before the runtime starts: it owns what the user sees and answers,
// the import dialogs, the update windows, the album manager and the tray icon with its
// player panel, and links them to the stores. Only created when the process has a display.
// Main thread only.

#include "albums/importpanels.h"
#include "ui/albummanagerwindowpresenter.h"
#include "ui/qtimportdialogs.h"
#include "ui/updatewindows.h"

#include <memory>

namespace calmcove {

class CalmcoveRuntime;
class StatusBarController;

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
    // The tray icon; created last, so its first icon shows the restored, paused state.
    StatusBarController& statusBar() { return *m_statusBar; }
    // Opens the player panel or raises it (a second launch, "--panel", MPRIS Raise).
    void showPanel();

private:
    CalmcoveRuntime& m_runtime;
    QtImportDialogs m_importDialogs;
    UpdateWindows m_updateWindows;
    ImportPanels m_importPanels;
    AlbumManagerWindowPresenter m_albumManager;
    std::unique_ptr<StatusBarController> m_statusBar;
};

} // namespace calmcove
