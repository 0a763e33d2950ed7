#pragma once

// The desktop side of the application root, built after the runtime's stores and
// controllers and before the runtime starts: it owns what the user sees and answers,
// today the import dialogs (the tray icon and the windows join it), and links them to
// the stores. Only created when the process has a display. Main thread only.

#include "albums/importpanels.h"
#include "ui/qtimportdialogs.h"

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

private:
    CalmcoveRuntime& m_runtime;
    QtImportDialogs m_importDialogs;
    ImportPanels m_importPanels;
};

} // namespace calmcove
