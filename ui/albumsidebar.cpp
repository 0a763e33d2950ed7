#include "albumsidebar.h"

#include "albumartworkview.h"
#include "albummanagerviewmodel.h"
#include "albums/albumstore.h"
#include "albumsidebarmodel.h"
#include "symbols.h"

#include <QBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QToolButton>
#include <QTreeView>

namespace calmcove {

namespace {

constexpr int artworkSide = 36;

// Section titles, the empty text, and album rows of cover, name and song count.
class SidebarDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        const int line = option.fontMetrics.height();
        if (index.data(AlbumSidebarModel::IsSectionRole).toBool())
            return {option.rect.width(), line + 14};
        if (index.data(AlbumSidebarModel::IsPlaceholderRole).toBool())
            return {option.rect.width(), line + 12};
        return {option.rect.width(), std::max(artworkSide, 2 * line) + 12};
    }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override
    {
        const QPalette& palette = option.palette;
        const QString text = index.data(Qt::DisplayRole).toString();
        painter->save();
        if (index.data(AlbumSidebarModel::IsSectionRole).toBool()) {
            QFont font = option.font;
            font.setBold(true);
            font.setPointSizeF(font.pointSizeF() * 0.85);
            painter->setFont(font);
            painter->setPen(palette.color(QPalette::PlaceholderText));
            painter->drawText(option.rect.adjusted(10, 6, -8, 0), Qt::AlignLeft | Qt::AlignVCenter,
                              text.toUpper());
            painter->restore();
            return;
        }
        if (index.data(AlbumSidebarModel::IsPlaceholderRole).toBool()) {
            painter->setPen(palette.color(QPalette::PlaceholderText));
            painter->drawText(option.rect.adjusted(14, 0, -8, 0), Qt::AlignLeft | Qt::AlignVCenter,
                              text);
            painter->restore();
            return;
        }
        const bool selected = option.state & QStyle::State_Selected;
        if (selected) {
            painter->setRenderHint(QPainter::Antialiasing);
            painter->setPen(Qt::NoPen);
            painter->setBrush(palette.color(QPalette::Highlight));
            painter->drawRoundedRect(QRectF(option.rect).adjusted(4, 1, -4, -1), 6, 6);
        }
        const QRect area = option.rect.adjusted(10, 6, -8, -6);
        const QRect cover(area.left(), area.top() + (area.height() - artworkSide) / 2, artworkSide,
                          artworkSide);
        const auto artwork = index.data(AlbumSidebarModel::ArtworkRole).value<AlbumArtwork>();
        painter->drawPixmap(
            cover,
            AlbumArtworkView::pixmap(artwork, artworkSide, painter->device()->devicePixelRatioF()));
        const int line = option.fontMetrics.height();
        const QRect textArea(cover.right() + 10, area.top() + (area.height() - 2 * line) / 2,
                             area.right() - cover.right() - 10, 2 * line);
        painter->setPen(palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
        painter->drawText(QRect(textArea.left(), textArea.top(), textArea.width(), line),
                          Qt::AlignLeft | Qt::AlignVCenter,
                          option.fontMetrics.elidedText(text, Qt::ElideRight, textArea.width()));
        QFont small = option.font;
        small.setPointSizeF(small.pointSizeF() * 0.9);
        painter->setFont(small);
        QColor secondary = palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
        secondary.setAlphaF(0.6f);
        painter->setPen(secondary);
        painter->drawText(QRect(textArea.left(), textArea.top() + line, textArea.width(), line),
                          Qt::AlignLeft | Qt::AlignVCenter,
                          index.data(AlbumSidebarModel::SongCountRole).toString());
        painter->restore();
    }

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&,
                          const QModelIndex&) const override
    {
        auto* editor = new QLineEdit(parent);
        editor->setPlaceholderText(QStringLiteral("Album name"));
        return editor;
    }

    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                              const QModelIndex&) const override
    {
        const QRect area = option.rect.adjusted(10 + artworkSide + 6, 0, -8, 0);
        const int height = editor->sizeHint().height();
        editor->setGeometry(area.left(), area.top() + (area.height() - height) / 2, area.width(),
                            height);
    }
};

QToolButton* footerButton(const char* symbol, const char* help, QWidget* parent)
{
    auto* button = new QToolButton(parent);
    button->setIcon(
        symbolIcon(QString::fromLatin1(symbol), parent->palette().color(QPalette::WindowText)));
    button->setIconSize(QSize(18, 18));
    button->setToolTip(QString::fromLatin1(help));
    button->setAccessibleName(QString::fromLatin1(help));
    button->setAutoRaise(true);
    return button;
}

} // namespace

AlbumSidebar::AlbumSidebar(AlbumManagerViewModel& viewModel, QWidget* parent)
    : QWidget(parent), m_viewModel(viewModel), m_model(new AlbumSidebarModel(viewModel, this)),
      m_search(new QLineEdit(this)), m_list(new QTreeView(this)),
      m_newAlbum(footerButton("plus", "New album", this)),
      m_import(footerButton("folder.badge.plus", "Import file/folder", this)),
      m_importURL(footerButton("link.badge.plus", "Import with URL", this)),
      m_importHelp(footerButton("questionmark.circle", "Import help", this))
{
    m_search->setPlaceholderText(QStringLiteral("Search albums"));
    m_search->setClearButtonEnabled(true);
    m_search->setAcceptDrops(false);
    connect(m_search, &QLineEdit::textChanged, &viewModel, &AlbumManagerViewModel::setSearchText);

    m_list->setModel(m_model);
    m_list->setItemDelegate(new SidebarDelegate(m_list));
    m_list->setHeaderHidden(true);
    m_list->setRootIsDecorated(false);
    m_list->setItemsExpandable(false);
    m_list->setIndentation(0);
    m_list->setUniformRowHeights(false);
    m_list->setFrameShape(QFrame::NoFrame);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    m_list->setAttribute(Qt::WA_MacShowFocusRect, false);
    m_list->expandAll();
    connect(m_model, &QAbstractItemModel::rowsInserted, m_list, &QTreeView::expandAll);
    // Rows that come and go (a search, an import) move the view's current row; only the
    // user's choice selects an album.
    for (const auto about :
         {&QAbstractItemModel::rowsAboutToBeRemoved, &QAbstractItemModel::rowsAboutToBeInserted})
        connect(m_model, about, this, [this] { m_updatingSelection = true; });
    for (const auto done : {&QAbstractItemModel::rowsRemoved, &QAbstractItemModel::rowsInserted})
        connect(m_model, done, this, [this] {
            m_updatingSelection = false;
            showSelectedAlbum();
        });
    connect(m_model, &QAbstractItemModel::modelReset, m_list, &QTreeView::expandAll);

    connect(m_list->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) {
                const QString id = current.data(AlbumSidebarModel::AlbumIDRole).toString();
                if (!m_updatingSelection && !id.isEmpty())
                    m_viewModel.selectAlbum(id);
            });
    connect(m_list, &QWidget::customContextMenuRequested, this, &AlbumSidebar::showContextMenu);
    connect(m_list->itemDelegate(), &QAbstractItemDelegate::closeEditor, this, [this] {
        // Escape, or the field lost the keyboard without a commit.
        if (m_viewModel.renamingSidebarAlbumID())
            m_viewModel.cancelRenames();
    });
    connect(&viewModel, &AlbumManagerViewModel::selectedAlbumChanged, this,
            &AlbumSidebar::showSelectedAlbum);
    connect(&viewModel, &AlbumManagerViewModel::renamingChanged, this, &AlbumSidebar::followRename);

    connect(m_newAlbum, &QToolButton::clicked, this, &AlbumSidebar::newAlbumRequested);
    connect(m_import, &QToolButton::clicked, &viewModel,
            [model = &viewModel] { model->importWithPanel(); });
    connect(m_importURL, &QToolButton::clicked, this,
            [this] { Q_EMIT importURLRequested(m_importURL); });
    connect(m_importHelp, &QToolButton::clicked, this,
            [this] { Q_EMIT importHelpRequested(m_importHelp); });

    auto* footer = new QHBoxLayout;
    footer->setContentsMargins(6, 4, 6, 6);
    footer->setSpacing(2);
    for (QToolButton* button : {m_newAlbum, m_import, m_importURL})
        footer->addWidget(button);
    footer->addStretch(1);
    footer->addWidget(m_importHelp);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 8, 0, 0);
    layout->setSpacing(6);
    auto* searchRow = new QHBoxLayout;
    searchRow->setContentsMargins(8, 0, 8, 0);
    searchRow->addWidget(m_search);
    layout->addLayout(searchRow);
    layout->addWidget(m_list, 1);
    layout->addLayout(footer);
    showSelectedAlbum();
}

void AlbumSidebar::showSelectedAlbum()
{
    const QModelIndex index = m_model->indexOfAlbum(m_viewModel.selectedAlbum().id);
    if (index.isValid() && index == m_list->currentIndex())
        return;
    const bool wasUpdating = std::exchange(m_updatingSelection, true);
    if (index.isValid())
        m_list->setCurrentIndex(index);
    else
        m_list->selectionModel()->clear();
    m_updatingSelection = wasUpdating;
}

void AlbumSidebar::followRename()
{
    const auto id = m_viewModel.renamingSidebarAlbumID();
    if (!id)
        return;
    const QModelIndex index = m_model->indexOfAlbum(*id);
    if (!index.isValid() || m_list->indexWidget(index))
        return;
    m_list->scrollTo(index);
    m_list->edit(index);
    if (auto* editor = qobject_cast<QLineEdit*>(m_list->indexWidget(index))) {
        editor->setText(m_viewModel.sidebarRenameText());
        editor->selectAll();
        editor->setFocus();
    }
}

void AlbumSidebar::showContextMenu(const QPoint& position)
{
    const QModelIndex index = m_list->indexAt(position);
    const QString id = index.data(AlbumSidebarModel::AlbumIDRole).toString();
    if (id.isEmpty() || !m_viewModel.albumStore())
        return;
    CalmAlbum album;
    for (const CalmAlbum& candidate : m_viewModel.albumStore()->albums()) {
        if (candidate.id == id)
            album = candidate;
    }
    QMenu menu(this);
    QAction* rename = menu.addAction(QStringLiteral("Rename"));
    rename->setEnabled(!album.isBuiltIn);
    QAction* remove = menu.addAction(QStringLiteral("Delete Album"));
    remove->setEnabled(!album.isBuiltIn);
    QAction* chosen = menu.exec(m_list->viewport()->mapToGlobal(position));
    if (chosen == rename)
        m_viewModel.beginRenamingAlbum(album);
    else if (chosen == remove)
        m_viewModel.requestDeleteAlbum(album);
}

} // namespace calmcove
