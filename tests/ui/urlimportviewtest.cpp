// The URL import view over the real album store: the Import button and the field, the
// target summary, job titles, "Clear Done", a pasted list of links, and one import from a
// loopback HTTPS server followed to the end in the job list and the album's table.

#include "ui/urlimportview.h"
#include "albummanagerworld.h"
#include "rangetestserver.h"
#include "support/qtprinters.h"
#include "ui/albumdetailpanel.h"
#include "ui/albummanagerviewmodel.h"
#include "ui/albummanagerwindow.h"
#include "ui/tracktablemodel.h"
#include "ui/urlimportjoblistmodel.h"
#include "ui/urlimportviewmodel.h"

#include <QCoro/QCoroTask>

#include <gtest/gtest.h>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QTest>

namespace calmcove {
namespace {

TEST(URLImportJobTitleTest, HostAndLastPathComponent)
{
    const struct
    {
        const char* url;
        const char* title;
    } cases[] = {
        {"https://example.com/music/Rain%20Song.mp3", "example.com / Rain Song.mp3"},
        {"https://example.com/albums/night/", "example.com / night"},
        {"https://example.com/", "example.com"},
        {"https://example.com", "example.com"},
        {"not a url", "not a url"},
        {"/just/a/path.mp3", "/just/a/path.mp3"},
    };
    for (const auto& [url, title] : cases)
        EXPECT_EQ(URLImportViewModel::jobTitle(QString::fromUtf8(url)), title) << url;
}

class URLImportViewTest : public ::testing::Test
{
protected:
    URLImportViewTest()
    {
        server.setFiles({test::silentWav(2)});
        view.show();
    }
    ~URLImportViewTest() override
    {
        QTRY_VERIFY_WITH_TIMEOUT(!world.albumStore.isProcessingURLImportQueue(), 20000);
    }

    QString url(const char* path) const { return server.url(QString::fromLatin1(path)).toString(); }

    test::RangeTestServer server{test::LoopbackCertificate::trusted().certificateFile,
                                 test::LoopbackCertificate::trusted().keyFile};
    test::AlbumManagerWorld world;
    URLImportView view{&world.albumStore};
};

TEST_F(URLImportViewTest, BlankTextQueuesNothingATrimmedLinkIsQueuedAndTheFieldEmptied)
{
    EXPECT_FALSE(view.importButton()->isEnabled());
    QTest::keyClicks(view.urlField(), "   ");
    EXPECT_FALSE(view.importButton()->isEnabled());
    QTest::keyClick(view.urlField(), Qt::Key_Return);
    EXPECT_TRUE(world.albumStore.urlImportJobs().isEmpty());
    EXPECT_EQ(view.summaryLabel()->text(), "Direct audio links save into URL Imports.");
    EXPECT_FALSE(view.jobList()->isVisible());

    const QString link = url("/music/Rain_Song.wav");
    view.urlField()->setText("  " + link + " \n");
    EXPECT_TRUE(view.importButton()->isEnabled());
    view.importButton()->setFocus();
    QTest::mouseClick(view.importButton(), Qt::LeftButton);
    ASSERT_EQ(world.albumStore.urlImportJobs().size(), 1);
    EXPECT_EQ(world.albumStore.urlImportJobs().first().urlString, link);
    EXPECT_TRUE(view.urlField()->text().isEmpty());
    EXPECT_FALSE(view.importButton()->isEnabled());
    QTRY_VERIFY(view.urlField()->hasFocus());
    EXPECT_EQ(view.jobModel().index(0).data().toString(), "127.0.0.1 / Rain_Song.wav");
}

TEST_F(URLImportViewTest, TypingANewLinkWhileIdleClearsOldMessages)
{
    QCoro::waitFor(
        world.albumStore.importExternalURLs({world.dir.path()})); // nothing to import there
    ASSERT_FALSE(world.albumStore.errorMessage().isEmpty());
    QTest::keyClicks(view.urlField(), "   ");
    EXPECT_FALSE(world.albumStore.errorMessage().isEmpty()); // blank text is no new link
    QTest::keyClicks(view.urlField(), "h");
    EXPECT_TRUE(world.albumStore.errorMessage().isEmpty());
    EXPECT_TRUE(world.albumStore.statusMessage().isEmpty());
}

TEST_F(URLImportViewTest, TargetAlbumDeletedMeanwhileFallsBackToURLImports)
{
    const CalmAlbum album = *world.albumStore.createAlbum("Evening");
    world.albumStore.setPendingURLImportAlbumID(album.id);
    EXPECT_EQ(view.summaryLabel()->text(), "New audio will save into Evening.");
    EXPECT_EQ(view.viewModel().importTargetAlbumID(), album.id);
    world.albumStore.deleteAlbum(album.id);
    EXPECT_EQ(view.summaryLabel()->text(), "Direct audio links save into URL Imports.");
    EXPECT_EQ(view.viewModel().importTargetAlbumID(), std::nullopt);
}

TEST_F(URLImportViewTest, ClearDoneOnlyWithFinishedOrFailedJobs)
{
    server.setBehaviour({.bytesPerSecond = 40000});
    view.urlField()->setText(url("/slow-one.wav"));
    QTest::keyClick(view.urlField(), Qt::Key_Return);
    view.urlField()->setText(url("/slow-two.wav"));
    QTest::keyClick(view.urlField(), Qt::Key_Return);
    ASSERT_EQ(world.albumStore.urlImportJobs().size(), 2);
    EXPECT_EQ(world.albumStore.urlImportJobs()[0].state, URLImportJob::State::importing);
    EXPECT_EQ(world.albumStore.urlImportJobs()[1].state, URLImportJob::State::queued);
    EXPECT_TRUE(view.jobList()->isVisible());
    EXPECT_FALSE(view.clearDoneButton()->isEnabled());
    EXPECT_LE(view.jobList()->height(), URLImportView::maximumJobListHeight);

    QTRY_VERIFY_WITH_TIMEOUT(
        world.albumStore.urlImportJobs()[0].state != URLImportJob::State::importing, 20000);
    EXPECT_TRUE(view.clearDoneButton()->isEnabled());
}

TEST_F(URLImportViewTest, APastedListQueuesEveryLine)
{
    QApplication::clipboard()->setText(url("/a.wav") + "\n\n  " + url("/b.wav") + "\r\n");
    view.urlField()->setFocus();
    view.urlField()->paste();
    QTest::keyClick(view.urlField(), Qt::Key_Return);
    ASSERT_EQ(world.albumStore.urlImportJobs().size(), 2);
    EXPECT_EQ(world.albumStore.urlImportJobs()[0].urlString, url("/a.wav"));
    EXPECT_EQ(world.albumStore.urlImportJobs()[1].urlString, url("/b.wav"));
}

TEST_F(URLImportViewTest, FromTheWindowFollowedToFinishedAndShownInTheTable)
{
    const CalmAlbum album = *world.albumStore.createAlbum("Evening");
    AlbumManagerWindow window(world.controller.get(), &world.albumStore, &world.audioPackStore,
                              &world.dialogs);
    window.show();
    window.viewModel().selectAlbum(album.id);
    URLImportPopup* popup = window.showURLImport(window.detail()->addURLButton(),
                                                 window.viewModel().selectedAlbum().id);
    URLImportView& popupView = *popup->view();
    EXPECT_EQ(popup->width(), URLImportPopup::popupWidth);
    EXPECT_EQ(popupView.summaryLabel()->text(), "New audio will save into Evening.");
    QTest::keyClicks(popupView.urlField(), url("/music/Night_Drive.wav"));
    QTest::keyClick(popupView.urlField(), Qt::Key_Return);

    const auto state = [&] {
        return URLImportJob::State(
            popupView.jobModel().index(0).data(URLImportJobListModel::StateRole).toInt());
    };
    QTRY_VERIFY_WITH_TIMEOUT(state() == URLImportJob::State::finished, 20000);
    EXPECT_EQ(popupView.jobModel().index(0).data().toString(), "127.0.0.1 / Night_Drive.wav");
    EXPECT_EQ(popupView.jobModel().index(0).data(URLImportJobListModel::MessageRole).toString(),
              "Imported Night Drive to Evening.");
    TrackTableModel& table = window.detail()->trackModel();
    ASSERT_EQ(table.rowCount(), 1);
    EXPECT_EQ(table.index(0, TrackTableModel::titleColumn).data().toString(), "Night Drive");
    EXPECT_EQ(table.index(0, TrackTableModel::durationColumn).data().toString(), "0:02");
    EXPECT_EQ(table.index(0, TrackTableModel::formatColumn).data().toString(), "WAV");
    EXPECT_TRUE(popupView.clearDoneButton()->isEnabled());
    QTest::mouseClick(popupView.clearDoneButton(), Qt::LeftButton);
    EXPECT_EQ(popupView.jobModel().rowCount(), 0);
}

} // namespace
} // namespace calmcove
