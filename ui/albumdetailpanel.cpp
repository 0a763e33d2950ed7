#include "albumdetailpanel.h"

#include "albummanagerviewmodel.h"
#include "artworkeditor.h"
#include "symbols.h"
#include "tracktablemodel.h"

#include <QBoxLayout>
#include <QHeaderView>
#include <QItemSelection>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTableView>

namespace calmcove {

namespace {

class TitleDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const override
    {
        QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
        if (auto* field = qobject_cast<QLineEdit*>(editor))
            field->setPlaceholderText(QStringLiteral("Title"));
        return editor;
    }
};

QPushButton* headerButton(const char* text, const char* symbol, QWidget* parent)
{
    auto* button = new QPushButton(QString::fromLatin1(text), parent);
    button->setIcon(
        symbolIcon(QString::fromLatin1(symbol), parent->palette().color(QPalette::ButtonText)));
    return button;
}

} // namespace

AlbumDetailPanel::AlbumDetailPanel(AlbumManagerViewModel& viewModel, QWidget* parent)
    : QWidget(parent), m_viewModel(viewModel), m_model(new TrackTableModel(viewModel, this)),
      m_artwork(new ArtworkEditor(viewModel, this)), m_nameLabel(new QLabel(this)),
      m_nameField(new QLineEdit(this)), m_metadata(new QLabel(this)),
      m_addTracks(headerButton("Add Tracks", "music.note.list", this)),
      m_addURL(headerButton("Add URL", "link.badge.plus", this)),
      m_deleteAlbum(headerButton("Delete Album", "trash", this)), m_notice(new QWidget(this)),
      m_deleteTracks(headerButton("Delete Selected Tracks", "trash", this)),
      m_table(new QTableView(this))
{
    QFont nameFont = font();
    nameFont.setPointSizeF(nameFont.pointSizeF() * 1.6);
    nameFont.setBold(true);
    m_nameLabel->setFont(nameFont);
    m_nameLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_nameField->setFont(nameFont);
    m_nameField->setPlaceholderText(QStringLiteral("Album name"));
    m_nameField->setFrame(false);
    m_nameField->setStyleSheet(QStringLiteral("QLineEdit:!focus { background: transparent; }"));
    m_nameField->setAcceptDrops(false);
    m_metadata->setStyleSheet(
        QStringLiteral("color: %1;").arg(palette().color(QPalette::PlaceholderText).name()));
    connect(m_nameField, &QLineEdit::editingFinished, this, [this] {
        m_viewModel.renameSelectedAlbum(m_nameField->text());
        refreshHeader();
    });

    auto* lock = new QLabel(m_notice);
    lock->setPixmap(
        symbolIcon(QStringLiteral("lock.fill"), palette().color(QPalette::PlaceholderText))
            .pixmap(14, 14));
    auto* noticeText = new QLabel(AlbumManagerViewModel::readOnlyNotice, m_notice);
    noticeText->setWordWrap(true);
    noticeText->setStyleSheet(
        QStringLiteral("color: %1;").arg(palette().color(QPalette::PlaceholderText).name()));
    auto* noticeLayout = new QHBoxLayout(m_notice);
    noticeLayout->setContentsMargins(0, 0, 0, 0);
    noticeLayout->addWidget(lock, 0, Qt::AlignTop);
    noticeLayout->addWidget(noticeText, 1);

    markDestructive(*m_deleteAlbum, QStringLiteral("trash"));
    connect(m_addTracks, &QPushButton::clicked, &viewModel,
            [model = &viewModel] { model->addTracksWithPanel(); });
    connect(m_addURL, &QPushButton::clicked, this, [this] { Q_EMIT addURLRequested(m_addURL); });
    connect(m_deleteAlbum, &QPushButton::clicked, this,
            [this] { m_viewModel.requestDeleteAlbum(m_viewModel.selectedAlbum()); });
    connect(m_deleteTracks, &QPushButton::clicked, &viewModel,
            &AlbumManagerViewModel::requestDeleteSelectedTracks);

    m_table->setModel(m_model);
    m_table->setItemDelegateForColumn(TrackTableModel::titleColumn, new TitleDelegate(m_table));
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setContextMenuPolicy(Qt::CustomContextMenu);
    m_table->setShowGrid(false);
    m_table->setAlternatingRowColors(true);
    m_table->setWordWrap(false);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_table->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 10);
    QHeaderView* columns = m_table->horizontalHeader();
    columns->setSectionResizeMode(TrackTableModel::titleColumn, QHeaderView::Stretch);
    for (int column : {int(TrackTableModel::durationColumn), int(TrackTableModel::formatColumn),
                       int(TrackTableModel::sizeColumn)}) {
        columns->setSectionResizeMode(column, QHeaderView::Fixed);
        columns->resizeSection(column, column == TrackTableModel::sizeColumn ? 96 : 84);
    }
    columns->setHighlightSections(false);

    connect(m_table->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        if (m_updatingSelection)
            return;
        QSet<QString> ids;
        for (const QModelIndex& row : m_table->selectionModel()->selectedRows())
            ids.insert(row.data(TrackTableModel::TrackIDRole).toString());
        m_viewModel.setSelectedTrackIDs(ids);
    });
    connect(&viewModel, &AlbumManagerViewModel::selectedTrackIDsChanged, this,
            &AlbumDetailPanel::showSelectedTracks);
    connect(m_model, &QAbstractItemModel::modelReset, this, &AlbumDetailPanel::showSelectedTracks);
    connect(&viewModel, &AlbumManagerViewModel::renamingChanged, this,
            &AlbumDetailPanel::followRename);
    connect(m_table->itemDelegateForColumn(TrackTableModel::titleColumn),
            &QAbstractItemDelegate::closeEditor, this, [this] {
                if (m_viewModel.renamingTrackID())
                    m_viewModel.cancelRenames();
            });
    connect(m_table, &QWidget::customContextMenuRequested, this,
            &AlbumDetailPanel::showContextMenu);
    connect(&viewModel, &AlbumManagerViewModel::selectedAlbumChanged, this,
            &AlbumDetailPanel::refreshHeader);
    connect(&viewModel, &AlbumManagerViewModel::selectedTrackIDsChanged, this,
            &AlbumDetailPanel::refreshHeader);

    auto* titleColumn = new QVBoxLayout;
    titleColumn->setSpacing(4);
    titleColumn->addStretch(1);
    titleColumn->addWidget(m_nameLabel);
    titleColumn->addWidget(m_nameField);
    titleColumn->addWidget(m_metadata);
    auto* actions = new QHBoxLayout;
    actions->setSpacing(6);
    actions->addWidget(m_addTracks);
    actions->addWidget(m_addURL);
    actions->addWidget(m_deleteAlbum);
    actions->addStretch(1);
    titleColumn->addSpacing(6);
    titleColumn->addLayout(actions);
    titleColumn->addWidget(m_notice);
    titleColumn->addStretch(1);
    auto* header = new QHBoxLayout;
    header->setSpacing(16);
    header->addWidget(m_artwork);
    header->addLayout(titleColumn, 1);

    auto* tracksTitle = new QLabel(QStringLiteral("Tracks"), this);
    QFont tracksFont = tracksTitle->font();
    tracksFont.setBold(true);
    tracksTitle->setFont(tracksFont);
    auto* tracksRow = new QHBoxLayout;
    tracksRow->addWidget(tracksTitle, 1);
    tracksRow->addWidget(m_deleteTracks);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 18, 20, 16);
    layout->setSpacing(12);
    layout->addLayout(header);
    layout->addLayout(tracksRow);
    layout->addWidget(m_table, 1);
    refreshHeader();
}

void AlbumDetailPanel::refreshHeader()
{
    const CalmAlbum album = m_viewModel.selectedAlbum();
    const bool readOnly = album.isBuiltIn;
    m_nameLabel->setText(album.name);
    m_nameLabel->setVisible(readOnly);
    if (!m_nameField->hasFocus())
        m_nameField->setText(album.name);
    m_nameField->setVisible(!readOnly);
    m_metadata->setText(AlbumManagerViewModel::albumMetadata(album));
    for (QPushButton* button : {m_addTracks, m_addURL, m_deleteAlbum})
        button->setEnabled(!readOnly);
    m_notice->setVisible(readOnly);
    m_deleteTracks->setEnabled(m_viewModel.canDeleteSelectedTracks());
    m_artwork->refresh();
}

void AlbumDetailPanel::showSelectedTracks()
{
    QItemSelection selection;
    for (const QString& id : m_viewModel.selectedTrackIDs()) {
        const int row = m_model->rowOfTrack(id);
        if (row >= 0)
            selection.select(m_model->index(row, 0),
                             m_model->index(row, TrackTableModel::columnTotal - 1));
    }
    m_updatingSelection = true;
    m_table->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    m_updatingSelection = false;
}

void AlbumDetailPanel::followRename()
{
    const auto id = m_viewModel.renamingTrackID();
    if (!id)
        return;
    const int row = m_model->rowOfTrack(*id);
    if (row < 0)
        return;
    const QModelIndex index = m_model->index(row, TrackTableModel::titleColumn);
    if (m_table->indexWidget(index))
        return;
    m_table->scrollTo(index);
    m_updatingSelection = true;
    m_table->selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    m_updatingSelection = false;
    m_table->edit(index);
    if (auto* editor = qobject_cast<QLineEdit*>(m_table->indexWidget(index))) {
        editor->setText(m_viewModel.trackRenameText());
        editor->selectAll();
        editor->setFocus();
    }
}

void AlbumDetailPanel::showContextMenu(const QPoint& position)
{
    const QModelIndex index = m_table->indexAt(position);
    if (!index.isValid())
        return;
    const QString clicked = index.data(TrackTableModel::TrackIDRole).toString();
    if (!m_viewModel.selectedTrackIDs().contains(clicked))
        m_viewModel.setSelectedTrackIDs({clicked});
    const bool readOnly = m_viewModel.isSelectedAlbumReadOnly();
    QMenu menu(this);
    QAction* rename = menu.addAction(QStringLiteral("Rename"));
    rename->setEnabled(!readOnly);
    QAction* remove = menu.addAction(QStringLiteral("Delete selected tracks"));
    remove->setEnabled(m_viewModel.canDeleteSelectedTracks());
    QAction* chosen = menu.exec(m_table->viewport()->mapToGlobal(position));
    if (chosen == rename) {
        if (const auto first = m_viewModel.firstSelectedTrackID())
            m_viewModel.beginRenamingTrack(*first, m_viewModel.selectedAlbum());
    } else if (chosen == remove) {
        m_viewModel.requestDeleteSelectedTracks();
    }
}

} // namespace calmcove
