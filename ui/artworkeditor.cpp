#include "artworkeditor.h"

#include "albumartworkview.h"
#include "albummanagerviewmodel.h"
#include "albums/albumstore.h"
#include "symbols.h"

#include <QBoxLayout>
#include <QDragEnterEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>

namespace calmcove {

namespace {

// The first dropped picture file the store accepts, if any.
QString droppedPicture(const QMimeData* data)
{
    if (!data || !data->hasUrls())
        return {};
    for (const QUrl& url : data->urls()) {
        const QString path = url.toLocalFile();
        if (!path.isEmpty() &&
            AlbumStore::supportedArtworkExtensions.contains(QFileInfo(path).suffix().toLower()))
            return path;
    }
    return {};
}

} // namespace

ArtworkEditor::ArtworkEditor(AlbumManagerViewModel& viewModel, QWidget* parent)
    : QWidget(parent), m_viewModel(viewModel), m_artwork(new AlbumArtworkView(this)),
      m_change(new QPushButton(QStringLiteral("Change Artwork"), this)),
      m_remove(new QPushButton(QStringLiteral("Remove Artwork"), this))
{
    m_artwork->setFixedSize(132, 132);
    m_artwork->setAcceptDrops(true);
    m_artwork->installEventFilter(this);
    const QColor text = palette().color(QPalette::ButtonText);
    m_change->setIcon(symbolIcon(QStringLiteral("photo"), text));
    markDestructive(*m_remove, QStringLiteral("xmark.circle"));
    connect(m_change, &QPushButton::clicked, &viewModel,
            [model = &viewModel] { model->setArtworkWithPanel(); });
    connect(m_remove, &QPushButton::clicked, &viewModel, &AlbumManagerViewModel::removeArtwork);

    auto* buttons = new QVBoxLayout;
    buttons->setSpacing(6);
    buttons->addStretch(1);
    buttons->addWidget(m_change);
    buttons->addWidget(m_remove);
    buttons->addStretch(1);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_artwork);
    layout->addLayout(buttons);
    refresh();
}

void ArtworkEditor::refresh()
{
    const CalmAlbum album = m_viewModel.selectedAlbum();
    m_artwork->setArtwork(album.artwork);
    m_artwork->setToolTip(album.isBuiltIn ? QStringLiteral("Default album artwork")
                                          : QStringLiteral("Click or drop an image to change "
                                                           "artwork"));
    m_artwork->setCursor(album.isBuiltIn ? Qt::ArrowCursor : Qt::PointingHandCursor);
    m_change->setVisible(!album.isBuiltIn);
    m_remove->setVisible(!album.isBuiltIn);
    m_remove->setEnabled(m_viewModel.canRemoveArtwork());
}

bool ArtworkEditor::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_artwork || m_viewModel.isSelectedAlbumReadOnly())
        return false;
    switch (event->type()) {
    case QEvent::MouseButtonRelease:
        if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
            m_viewModel.setArtworkWithPanel();
        return true;
    case QEvent::DragEnter: {
        auto* drag = static_cast<QDragEnterEvent*>(event);
        if (droppedPicture(drag->mimeData()).isEmpty())
            return false;
        drag->acceptProposedAction();
        m_artwork->setHighlighted(true);
        return true;
    }
    case QEvent::DragLeave:
        m_artwork->setHighlighted(false);
        return true;
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        m_artwork->setHighlighted(false);
        const QString picture = droppedPicture(drop->mimeData());
        if (picture.isEmpty())
            return false;
        drop->acceptProposedAction();
        m_viewModel.setArtwork(picture);
        return true;
    }
    default:
        return false;
    }
}

} // namespace calmcove
