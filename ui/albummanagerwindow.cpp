#include "albummanagerwindow.h"

#include "albumdetailpanel.h"
#include "albummanagerkeyboardbridge.h"
#include "albummanagerviewmodel.h"
#include "albums/albumstore.h"
#include "albumsidebar.h"
#include "createalbumdialog.h"
#include "importhelppopup.h"
#include "platform/apppaths.h"
#include "symbols.h"
#include "urlimportview.h"

#include <QBoxLayout>
#include <QCloseEvent>
#include <QLabel>
#include <QMimeData>
#include <QSplitter>

namespace calmcove {

namespace {

QStringList droppedFiles(const QMimeData* data)
{
    QStringList paths;
    if (!data || !data->hasUrls())
        return paths;
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile())
            paths << url.toLocalFile();
    }
    return paths;
}

QWidget* makeDropOverlay(QWidget* parent)
{
    auto* overlay = new QWidget(parent);
    overlay->setObjectName(QStringLiteral("dropOverlay"));
    overlay->setAttribute(Qt::WA_TransparentForMouseEvents);
    overlay->setAttribute(Qt::WA_StyledBackground);
    const QColor highlight = parent->palette().color(QPalette::Highlight);
    // Nearly opaque, so the texts stand clear of the rows behind them.
    const QColor window = parent->palette().color(QPalette::Window);
    overlay->setStyleSheet(QStringLiteral("#dropOverlay { background: rgba(%1, %2, %3, 235); "
                                          "border: 3px dashed %4; border-radius: 14px; }")
                               .arg(window.red())
                               .arg(window.green())
                               .arg(window.blue())
                               .arg(highlight.name()));
    auto* icon = new QLabel(overlay);
    icon->setPixmap(symbolIcon(QStringLiteral("square.and.arrow.down"), highlight).pixmap(48, 48));
    auto* title = new QLabel(AlbumManagerViewModel::dropTitle, overlay);
    QFont titleFont = title->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.5);
    title->setFont(titleFont);
    auto* detail = new QLabel(AlbumManagerViewModel::dropDetail, overlay);
    auto* layout = new QVBoxLayout(overlay);
    layout->addStretch(1);
    for (QLabel* label : {icon, title, detail}) {
        label->setAlignment(Qt::AlignCenter);
        label->setStyleSheet(QStringLiteral("background: transparent; border: none;"));
        layout->addWidget(label);
    }
    layout->addStretch(1);
    overlay->hide();
    return overlay;
}

} // namespace

AlbumManagerWindow::AlbumManagerWindow(AudioController* controller, AlbumStore* albumStore,
                                       AudioPackStore* audioPackStore, AlbumManagerDialogs* dialogs,
                                       QWidget* parent)
    : QWidget(parent, Qt::Window), m_dialogs(dialogs ? *dialogs : m_qtDialogs),
      m_viewModel(
          new AlbumManagerViewModel(controller, albumStore, audioPackStore, m_dialogs, this)),
      m_sidebar(new AlbumSidebar(*m_viewModel, this)),
      m_detail(new AlbumDetailPanel(*m_viewModel, this)), m_dropOverlay(makeDropOverlay(this)),
      m_keyboard(new AlbumManagerKeyboardBridge(
          [viewModel = m_viewModel](AlbumManagerKeyboardCommand command) {
              return viewModel->handleKeyboardCommand(command);
          },
          this))
{
    m_qtDialogs.setParentWindow(this);
    setObjectName(AlbumManagerKeyboardBridge::windowIdentifier);
    setWindowTitle(QStringLiteral("Calmcove"));
    setWindowIcon(
        QIcon::fromTheme(QStringLiteral("calmcove"),
                         QIcon(AppPaths::resourcePath(QStringLiteral("icons/calmcove.png")))));
    setMinimumSize(minimumContentSize);
    resize(defaultSize);
    setAcceptDrops(true);

    auto* splitter = new QSplitter(Qt::Horizontal, this);
    splitter->setChildrenCollapsible(false);
    m_sidebar->setMinimumWidth(220);
    m_sidebar->setMaximumWidth(300);
    m_sidebar->setAutoFillBackground(true);
    QPalette sidebarPalette = m_sidebar->palette();
    sidebarPalette.setColor(QPalette::Window, palette().color(QPalette::AlternateBase));
    m_sidebar->setPalette(sidebarPalette);
    splitter->addWidget(m_sidebar);
    splitter->addWidget(m_detail);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({250, defaultSize.width() - 250});
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(splitter);
    m_dropOverlay->raise();

    connect(m_viewModel, &AlbumManagerViewModel::dropTargetedChanged, this, [this] {
        m_dropOverlay->setVisible(m_viewModel->isDropTargeted());
        m_dropOverlay->raise();
    });
    connect(m_sidebar, &AlbumSidebar::newAlbumRequested, this,
            &AlbumManagerWindow::showCreateAlbumDialog);
    connect(m_sidebar, &AlbumSidebar::importURLRequested, this,
            [this](QWidget* anchor) { showURLImport(anchor, QString()); });
    connect(m_sidebar, &AlbumSidebar::importHelpRequested, this,
            [this](QWidget* anchor) { (new ImportHelpPopup(this))->showBelow(anchor); });
    connect(m_detail, &AlbumDetailPanel::addURLRequested, this,
            [this](QWidget* anchor) { showURLImport(anchor, m_viewModel->selectedAlbum().id); });
}

AlbumManagerWindow::~AlbumManagerWindow() = default;

URLImportPopup* AlbumManagerWindow::urlImportPopup() const
{
    return m_urlImportPopup;
}

CreateAlbumDialog* AlbumManagerWindow::showCreateAlbumDialog()
{
    auto* dialog = new CreateAlbumDialog(*m_viewModel, m_dialogs, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->open();
    return dialog;
}

URLImportPopup* AlbumManagerWindow::showURLImport(QWidget* anchor, const QString& targetAlbumID)
{
    if (AlbumStore* store = m_viewModel->albumStore())
        store->setPendingURLImportAlbumID(targetAlbumID);
    if (URLImportPopup* previous = m_urlImportPopup)
        previous->close();
    auto* popup = new URLImportPopup(m_viewModel->albumStore(), this);
    m_urlImportPopup = popup;
    popup->showBelow(anchor);
    return popup;
}

void AlbumManagerWindow::closeEvent(QCloseEvent* event)
{
    event->accept();
    Q_EMIT closed();
}

void AlbumManagerWindow::dragEnterEvent(QDragEnterEvent* event)
{
    if (droppedFiles(event->mimeData()).isEmpty())
        return;
    event->acceptProposedAction();
    m_viewModel->setDropTargeted(true);
}

void AlbumManagerWindow::dragLeaveEvent(QDragLeaveEvent*)
{
    m_viewModel->setDropTargeted(false);
}

void AlbumManagerWindow::dropEvent(QDropEvent* event)
{
    m_viewModel->setDropTargeted(false);
    const QStringList paths = droppedFiles(event->mimeData());
    if (paths.isEmpty())
        return;
    event->acceptProposedAction();
    m_viewModel->importDroppedItems(paths);
}

void AlbumManagerWindow::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    m_dropOverlay->setGeometry(rect().adjusted(8, 8, -8, -8));
}

} // namespace calmcove
