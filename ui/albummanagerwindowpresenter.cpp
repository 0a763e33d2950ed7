#include "albummanagerwindowpresenter.h"

#include "albummanagerwindow.h"
#include "utilitywindowlifecycle.h"

#include <QGuiApplication>
#include <QScreen>

namespace calmcove {

AlbumManagerWindowPresenter::AlbumManagerWindowPresenter(QObject* parent) : QObject(parent) {}

AlbumManagerWindowPresenter::~AlbumManagerWindowPresenter()
{
    delete m_window;
}

void AlbumManagerWindowPresenter::show()
{
    if (!m_controller || !m_albumStore || !m_audioPackStore)
        return;
    if (!m_window) {
        m_window = new AlbumManagerWindow(m_controller, m_albumStore, m_audioPackStore, m_dialogs);
        m_window->setAttribute(Qt::WA_DeleteOnClose);
        connect(m_window, &AlbumManagerWindow::closed, this,
                &AlbumManagerWindowPresenter::windowWillClose);
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect frame = m_window->frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            m_window->move(frame.topLeft());
        }
    }
    UtilityWindowLifecycle::showApplicationIcon();
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

void AlbumManagerWindowPresenter::windowWillClose()
{
    m_window = nullptr;
    UtilityWindowLifecycle::hideDockIconWhenNoUtilityWindowIsVisible();
}

} // namespace calmcove
