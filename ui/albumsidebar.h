#pragma once

// The album manager's left column: the search field, the album list with its sections,
// in-place rename and context menu, and the footer buttons (new album, import, import
// with URL, import help).

#include <QWidget>

class QLineEdit;
class QToolButton;
class QTreeView;

namespace calmcove {

class AlbumManagerViewModel;
class AlbumSidebarModel;

class AlbumSidebar : public QWidget
{
    Q_OBJECT
public:
    explicit AlbumSidebar(AlbumManagerViewModel& viewModel, QWidget* parent = nullptr);

    QLineEdit* searchField() const { return m_search; }
    QTreeView* albumList() const { return m_list; }
    AlbumSidebarModel& model() const { return *m_model; }
    QToolButton* newAlbumButton() const { return m_newAlbum; }
    QToolButton* importButton() const { return m_import; }
    QToolButton* importURLButton() const { return m_importURL; }
    QToolButton* importHelpButton() const { return m_importHelp; }

Q_SIGNALS:
    void newAlbumRequested();
    void importURLRequested(QWidget* anchor);
    void importHelpRequested(QWidget* anchor);

private:
    void showSelectedAlbum();
    void followRename();
    void showContextMenu(const QPoint& position);

    AlbumManagerViewModel& m_viewModel;
    AlbumSidebarModel* m_model;
    QLineEdit* m_search;
    QTreeView* m_list;
    QToolButton* m_newAlbum;
    QToolButton* m_import;
    QToolButton* m_importURL;
    QToolButton* m_importHelp;
    bool m_updatingSelection = false;
};

} // namespace calmcove
