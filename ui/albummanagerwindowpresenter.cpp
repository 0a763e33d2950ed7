#include "albummanagerwindowpresenter.h"

#include "albummanagerviewmodel.h"
#include "albummanagerwindow.h"
#include "albums/albumstore.h"
#include "library/audiopackstore.h"
#include "playback/audiocontroller.h"
#include "utilitywindowlifecycle.h"

#include <malloc.h>
#include <QGuiApplication>
#include <QScreen>

namespace calmcove {

AlbumManagerWindowPresenter::AlbumManagerWindowPresenter(QObject* parent) : QObject(parent) {}

AlbumManagerWindowPresenter::~AlbumManagerWindowPresenter()
{
    delete m_window;
}

void AlbumManagerWindowPresenter::setController(AudioController* controller)
{
    m_controller = controller;
}

void AlbumManagerWindowPresenter::setAlbumStore(AlbumStore* albumStore)
{
    m_albumStore = albumStore;
}

void AlbumManagerWindowPresenter::setAudioPackStore(AudioPackStore* audioPackStore)
{
    m_audioPackStore = audioPackStore;
}

AlbumManagerWindow* AlbumManagerWindowPresenter::window() const
{
    return m_window;
}

void AlbumManagerWindowPresenter::show()
{
    if (!m_controller || !m_albumStore || !m_audioPackStore)
        return;
    AlbumManagerWindow* window = m_window;
    if (!window) {
        window = new AlbumManagerWindow(m_controller, m_albumStore, m_audioPackStore, m_dialogs);
        window->viewModel().setImportPanels(m_importPanels);
        window->setAttribute(Qt::WA_DeleteOnClose);
        connect(window, &AlbumManagerWindow::closed, this,
                &AlbumManagerWindowPresenter::windowWillClose);
        // The window's widgets, models and pictures free a few megabytes at once; give
        // them back to the system instead of keeping them in the allocator.
        connect(window, &QObject::destroyed, this, [] { malloc_trim(0); });
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect frame = window->frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            window->move(frame.topLeft());
        }
        m_window = window;
    }
    UtilityWindowLifecycle::showApplicationIcon();
    window->show();
    window->raise();
    window->activateWindow();
}

void AlbumManagerWindowPresenter::windowWillClose()
{
    m_window = nullptr;
    UtilityWindowLifecycle::hideDockIconWhenNoUtilityWindowIsVisible();
}

} // namespace calmcove
