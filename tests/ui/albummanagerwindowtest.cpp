// The album manager window under the offscreen platform: what the header shows and
// enables, keys typed into fields never taken for commands, in-place renames through
// the real editors, drops of real files, the create-album dialog, and a fresh window
// after each close.

#include "ui/albummanagerwindow.h"
#include "albummanagerworld.h"
#include "support/qtprinters.h"
#include "ui/albumdetailpanel.h"
#include "ui/albummanagerviewmodel.h"
#include "ui/albummanagerwindowpresenter.h"
#include "ui/albumsidebar.h"
#include "ui/albumsidebarmodel.h"
#include "ui/artworkeditor.h"
#include "ui/createalbumdialog.h"
#include "ui/tracktablemodel.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTreeView>

namespace calmcove {
namespace {

class AlbumManagerWindowTest : public ::testing::Test
{
protected:
    AlbumManagerWindowTest()
    {
        presenter.setController(world.controller.get());
        presenter.setAlbumStore(&world.albumStore);
        presenter.setAudioPackStore(&world.audioPackStore);
        presenter.setDialogs(&world.dialogs);
    }

    AlbumManagerWindow& open()
    {
        presenter.show();
        AlbumManagerWindow* window = presenter.window();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(window));
        window->activateWindow();
        return *window;
    }

    QWidget* focused() const { return QApplication::focusWidget(); }

    // A drop of real files through the window's own event handlers; waits until the store has
    // recorded the import (whose files are copied off the main thread) and says so.
    void drop(QWidget& window, const QStringList& paths)
    {
        QMimeData data;
        QList<QUrl> urls;
        for (const QString& path : paths)
            urls << QUrl::fromLocalFile(path);
        data.setUrls(urls);
        const QPointF centre = QPointF(window.rect().center());
        QDragEnterEvent enter(centre.toPoint(), Qt::CopyAction, &data, Qt::LeftButton,
                              Qt::NoModifier);
        QApplication::sendEvent(&window, &enter);
        QDropEvent dropped(centre, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&window, &dropped);
        QTRY_VERIFY(!world.albumStore.statusMessage().isEmpty() ||
                    !world.albumStore.errorMessage().isEmpty());
    }

    test::AlbumManagerWorld world;
    AlbumManagerWindowPresenter presenter;
};

TEST_F(AlbumManagerWindowTest, OpensAsTheAlbumsWindowAndAfreshAfterEachClose)
{
    AlbumManagerWindow& first = open();
    EXPECT_EQ(first.windowTitle(), "Calmcove");
    EXPECT_FALSE(first.windowIcon().isNull());
    EXPECT_EQ(first.parentWidget(), nullptr); // its own taskbar entry

    first.viewModel().setSearchText("left over");
    presenter.show(); // already open: the same window
    EXPECT_EQ(presenter.window(), &first);

    QPointer<AlbumManagerWindow> closed(&first);
    first.close();
    EXPECT_EQ(presenter.window(), nullptr);
    QTRY_VERIFY(closed.isNull());
    AlbumManagerWindow& second = open();
    EXPECT_TRUE(second.viewModel().searchText().isEmpty());
    EXPECT_TRUE(second.sidebar()->searchField()->text().isEmpty());
}

TEST_F(AlbumManagerWindowTest, DefaultAlbumIsReadOnlyAndKeysDoNothingVisible)
{
    AlbumManagerWindow& window = open();
    AlbumDetailPanel& detail = *window.detail();
    EXPECT_TRUE(detail.readOnlyNotice()->isVisible());
    EXPECT_FALSE(detail.addTracksButton()->isEnabled());
    EXPECT_FALSE(detail.addURLButton()->isEnabled());
    EXPECT_FALSE(detail.deleteAlbumButton()->isEnabled());
    EXPECT_FALSE(detail.deleteTracksButton()->isEnabled());
    EXPECT_TRUE(detail.nameLabel()->isVisible());
    EXPECT_FALSE(detail.nameField()->isVisible());

    detail.trackTable()->setFocus();
    detail.trackTable()->selectRow(0);
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Delete, Qt::Key_Backspace})
        QTest::keyClick(detail.trackTable(), key);
    EXPECT_FALSE(window.viewModel().renamingTrackID());
    EXPECT_FALSE(window.viewModel().renamingSidebarAlbumID());
    EXPECT_TRUE(world.dialogs.asked.isEmpty());
    EXPECT_EQ(world.albumStore.builtInAlbum().tracks.size(), detail.trackModel().rowCount());
}

TEST_F(AlbumManagerWindowTest, KeysTypedIntoFieldsAreNeverCommands)
{
    const CalmAlbum rain = world.importAlbum("Rain", 2);
    AlbumManagerWindow& window = open();
    window.viewModel().selectAlbum(rain.id);
    QLineEdit* search = window.sidebar()->searchField();
    search->setFocus();
    QTest::keyClicks(search, "ra");
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Backspace, Qt::Key_Delete})
        QTest::keyClick(search, key);
    EXPECT_FALSE(window.viewModel().renamingSidebarAlbumID());
    EXPECT_TRUE(world.dialogs.asked.isEmpty());

    // In the rename field Backspace edits the name and Return commits it.
    window.sidebar()->albumList()->setFocus();
    QTest::keyClick(window.sidebar()->albumList(), Qt::Key_Return);
    ASSERT_EQ(window.viewModel().renamingSidebarAlbumID(), rain.id);
    auto* editor = qobject_cast<QLineEdit*>(focused());
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->placeholderText(), "Album name");
    QTest::keyClick(editor, Qt::Key_End);
    QTest::keyClick(editor, Qt::Key_Backspace);
    QTest::keyClicks(editor, "ny Days");
    QTest::keyClick(editor, Qt::Key_Return);
    EXPECT_TRUE(world.dialogs.asked.isEmpty());
    QTRY_VERIFY(!window.viewModel().renamingSidebarAlbumID()); // the editor commits queued
    EXPECT_EQ(world.album(rain.id).name, "Rainy Days");
}

TEST_F(AlbumManagerWindowTest, TrackRenameInPlaceAndEscapeCancels)
{
    const CalmAlbum rain = world.importAlbum("Rain", 3);
    AlbumManagerWindow& window = open();
    window.viewModel().selectAlbum(rain.id);
    QTableView* table = window.detail()->trackTable();
    ASSERT_EQ(table->model()->rowCount(), 3);
    EXPECT_EQ(table->model()->headerData(3, Qt::Horizontal).toString(), "Size");
    table->setFocus();
    table->selectionModel()->select(table->model()->index(2, 0),
                                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
    table->selectionModel()->select(table->model()->index(1, 0),
                                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QTest::keyClick(table, Qt::Key_Return);
    // The first selected in album order, alone in the selection now.
    ASSERT_EQ(window.viewModel().renamingTrackID(), rain.tracks[1].id);
    EXPECT_EQ(window.viewModel().selectedTrackIDs(), QSet<QString>{rain.tracks[1].id});
    auto* editor = qobject_cast<QLineEdit*>(focused());
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->text(), rain.tracks[1].title);
    QTest::keyClicks(editor, "x");
    QTest::keyClick(editor, Qt::Key_Escape);
    EXPECT_FALSE(window.viewModel().renamingTrackID());
    EXPECT_EQ(world.album(rain.id).tracks[1].title, rain.tracks[1].title);

    QTest::keyClick(table, Qt::Key_Return);
    editor = qobject_cast<QLineEdit*>(focused());
    ASSERT_NE(editor, nullptr);
    editor->selectAll();
    QTest::keyClicks(editor, "Drizzle");
    QTest::keyClick(editor, Qt::Key_Enter);
    QTRY_VERIFY(!window.viewModel().renamingTrackID());
    EXPECT_EQ(world.album(rain.id).tracks[1].title, "Drizzle");
    EXPECT_EQ(table->model()->index(1, 0).data().toString(), "Drizzle");
}

TEST_F(AlbumManagerWindowTest, DropsImportRealFilesAndFolders)
{
    // A folder makes an album of its own; loose files go into the selected imported album,
    // or with the default album selected into one new album.
    AlbumManagerWindow& window = open();
    world.audioFile("drops/Evening/One.wav");
    drop(window, {world.dir.filePath("drops/Evening")});
    EXPECT_FALSE(window.dropOverlay()->isVisible());
    ASSERT_EQ(world.albumStore.importedAlbums().size(), 1);
    const CalmAlbum evening = world.albumStore.importedAlbums().first();
    EXPECT_EQ(evening.name, "Evening");
    EXPECT_EQ(evening.tracks.size(), 1);

    window.viewModel().selectAlbum(evening.id);
    drop(window, {world.audioFile("drops/Two.wav"), world.audioFile("drops/Three.wav")});
    EXPECT_EQ(world.album(evening.id).tracks.size(), 3);
    EXPECT_EQ(window.detail()->trackModel().rowCount(), 3);

    window.viewModel().selectAlbum(builtInAlbumID);
    drop(window, {world.audioFile("drops/Four.wav")});
    ASSERT_EQ(world.albumStore.importedAlbums().size(), 2);
    EXPECT_EQ(world.albumStore.importedAlbums().last().name, "Imported Tracks");
    EXPECT_EQ(world.controller->currentTrack().albumID, world.albumStore.selectedAlbumID());
    EXPECT_EQ(window.detail()->metadataLabel()->text(),
              "1 songs  |  Local  |  " + AlbumManagerViewModel::formatDuration(1));
}

TEST_F(AlbumManagerWindowTest, SidebarFollowsTheStoreAndTheSearchByRow)
{
    AlbumManagerWindow& window = open();
    AlbumSidebarModel& sidebar = window.sidebar()->model();
    const QModelIndex imported = sidebar.index(AlbumSidebarModel::importedSection, 0);
    EXPECT_EQ(sidebar.index(0, 0, imported).data().toString(), "No imported albums");
    world.albumStore.createAlbum("Rain");
    world.albumStore.createAlbum("Snow");
    ASSERT_EQ(sidebar.rowCount(imported), 2);
    EXPECT_EQ(sidebar.index(1, 0, imported).data(AlbumSidebarModel::SongCountRole).toString(),
              "0 songs");

    int resets = 0;
    QObject::connect(&sidebar, &QAbstractItemModel::modelReset, [&] { ++resets; });
    QTest::keyClicks(window.sidebar()->searchField(), "sno");
    ASSERT_EQ(sidebar.rowCount(imported), 1);
    EXPECT_EQ(sidebar.index(0, 0, imported).data().toString(), "Snow");
    QTest::keyClicks(window.sidebar()->searchField(), "x");
    EXPECT_EQ(sidebar.index(0, 0, imported).data().toString(), "No matches");
    EXPECT_EQ(resets, 0);
}

TEST_F(AlbumManagerWindowTest, CreateAlbumDialogWithArtwork)
{
    AlbumManagerWindow& window = open();
    CreateAlbumDialog* dialog = window.showCreateAlbumDialog();
    QImage cover(8, 8, QImage::Format_RGB32);
    cover.fill(Qt::darkCyan);
    world.dialogs.picture = world.dir.filePath("cover.png");
    ASSERT_TRUE(cover.save(world.dialogs.picture));
    for (QPushButton* button : dialog->findChildren<QPushButton*>()) {
        if (button->text() == "Choose Artwork")
            button->click();
    }
    EXPECT_EQ(dialog->artworkPath(), world.dialogs.picture);
    dialog->nameField()->setText("Night Drive");
    QPointer<CreateAlbumDialog> alive(dialog);
    dialog->create();
    QTRY_VERIFY(alive.isNull());
    ASSERT_EQ(world.albumStore.importedAlbums().size(), 1);
    const CalmAlbum created = world.albumStore.importedAlbums().first();
    EXPECT_EQ(created.name, "Night Drive");
    EXPECT_TRUE(std::holds_alternative<FileArtwork>(created.artwork));
    EXPECT_EQ(world.albumStore.selectedAlbumID(), created.id);
    EXPECT_TRUE(window.detail()->artworkEditor()->isVisible());
}

} // namespace
} // namespace calmcove
