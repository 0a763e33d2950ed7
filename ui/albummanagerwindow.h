#pragma once

// The album manager window: the sidebar and the selected album's detail side by side,
// file and folder drops anywhere with their overlay, the keyboard commands, the
// create-album dialog and the URL import and import help popups. Everything it shows
// and does is the view model's; the window lays out, binds and forwards.

#include "qtalbummanagerdialogs.h"

#include <QPointer>
#include <QWidget>

namespace calmcove {

class AlbumDetailPanel;
class AlbumManagerKeyboardBridge;
class AlbumManagerViewModel;
class AlbumSidebar;
class AlbumStore;
class AudioController;
class AudioPackStore;
class CreateAlbumDialog;
class URLImportPopup;

class AlbumManagerWindow : public QWidget
{
    Q_OBJECT
public:
    static constexpr QSize defaultSize{920, 620};
    static constexpr QSize minimumContentSize{880, 560};

    // `dialogs` answers the confirmations; null: Qt dialogs over this window.
    AlbumManagerWindow(AudioController* controller, AlbumStore* albumStore,
                       AudioPackStore* audioPackStore, AlbumManagerDialogs* dialogs = nullptr,
                       QWidget* parent = nullptr);
    ~AlbumManagerWindow() override;

    AlbumManagerViewModel& viewModel() const { return *m_viewModel; }
    AlbumSidebar* sidebar() const { return m_sidebar; }
    AlbumDetailPanel* detail() const { return m_detail; }
    QWidget* dropOverlay() const { return m_dropOverlay; }
    // The open URL import popup, if any.
    URLImportPopup* urlImportPopup() const;

    // "New album": the create-album dialog, modal to this window (returns at once).
    CreateAlbumDialog* showCreateAlbumDialog();
    // The URL import popup under `anchor`, importing into `targetAlbumID` (empty: none).
    URLImportPopup* showURLImport(QWidget* anchor, const QString& targetAlbumID);

Q_SIGNALS:
    // The user closed the window; it is deleted afterwards.
    void closed();

protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QtAlbumManagerDialogs m_qtDialogs;
    AlbumManagerDialogs& m_dialogs;
    AlbumManagerViewModel* m_viewModel;
    AlbumSidebar* m_sidebar;
    AlbumDetailPanel* m_detail;
    QWidget* m_dropOverlay;
    AlbumManagerKeyboardBridge* m_keyboard;
    QPointer<URLImportPopup> m_urlImportPopup;
};

} // namespace calmcove
