// The URL import queue on its own, against a real loopback HTTP server and a destination
// written here: what the destination is handed, how its outcome ends the job, and that
// a download it leaves behind never stays in the partial folder.

#include "albums/urlimportqueue.h"
#include "platform/userdefaults.h"
#include "rangetestserver.h"
#include "support/qtprinters.h"
#include "support/wavfile.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

namespace calmcove {
namespace {

class URLImportQueueTest : public ::testing::Test
{
protected:
    URLImportQueueTest() { m_server.setFiles({test::silentWav(1)}); }

    QString url(const char* path) const
    {
        return m_server.url(QString::fromLatin1(path)).toString();
    }
    QString root() const { return m_dir.path() + "/albums"; }
    QStringList partialEntries() const
    {
        return QDir(URLImportQueue::partialFolder(root()))
            .entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    }

    test::RangeTestServer m_server;
    QTemporaryDir m_dir;
    UserDefaults m_defaults{m_dir.path() + "/settings.conf"};
    QList<DownloadedAudio> m_handedOver;
    QList<URLImportOutcome> m_answers;
    URLImportQueue m_queue{
        m_defaults,
        URLImportQueue::Destination{
            .rootDirectory = root(),
            .audioExtensions = {"mp3", "wav"},
            .addTrack = [this](DownloadedAudio download) -> QCoro::Task<URLImportOutcome> {
                EXPECT_TRUE(QFile::exists(download.path));
                m_handedOver.append(download);
                if (m_answers.isEmpty())
                    co_return URLImportOutcome{URLImportJob::State::failed, "Not expected."};
                co_return m_answers.takeFirst();
            },
        }};
};

TEST_F(URLImportQueueTest, TheDestinationsOutcomeEndsTheJobAndLeftDownloadsAreRemoved)
{
    m_answers = {{URLImportJob::State::failed, "Could not add the track to the album: full"},
                 {URLImportJob::State::finished, "Imported Rain Song to Mine."}};
    m_queue.enqueue(url("/first.wav"));
    m_queue.enqueue("  " + url("/music/Rain_Song.mp3") + "\n", QStringLiteral("MINE"));
    EXPECT_TRUE(m_queue.isProcessing());
    QTRY_VERIFY_WITH_TIMEOUT(!m_queue.isProcessing(), 20000);

    ASSERT_EQ(m_handedOver.size(), 2);
    const DownloadedAudio& second = m_handedOver[1];
    EXPECT_EQ(QFileInfo(second.path).absolutePath(),
              QFileInfo(URLImportQueue::partialFolder(root())).absoluteFilePath());
    EXPECT_EQ(second.extension, "mp3");
    EXPECT_EQ(second.title, "Rain Song");
    EXPECT_EQ(second.artist, "127.0.0.1");
    EXPECT_EQ(second.targetAlbumID, "MINE");
    EXPECT_EQ(m_handedOver[0].extension, "wav");
    EXPECT_FALSE(m_handedOver[0].targetAlbumID);

    ASSERT_EQ(m_queue.jobs().size(), 2);
    const URLImportJob& failed = m_queue.jobs()[0];
    EXPECT_EQ(failed.state, URLImportJob::State::failed);
    EXPECT_EQ(failed.message, "Could not add the track to the album: full");
    EXPECT_FALSE(failed.progress);
    EXPECT_FALSE(failed.progressText);
    const URLImportJob& finished = m_queue.jobs()[1];
    EXPECT_EQ(finished.urlString, url("/music/Rain_Song.mp3"));
    EXPECT_EQ(finished.state, URLImportJob::State::finished);
    EXPECT_EQ(finished.message, "Imported Rain Song to Mine.");
    EXPECT_EQ(finished.progress, 1.0);
    EXPECT_EQ(finished.progressText, "Done");
    // Neither download was moved: both are gone once handed over.
    EXPECT_EQ(partialEntries(), QStringList());
}

TEST_F(URLImportQueueTest, RefusedDownloadsNeverReachTheDestination)
{
    m_server.serve("/page.mp3", 200, "<html></html>", "text/html");
    m_server.serve("/missing.mp3", 404, "<html></html>", "text/html");
    m_defaults.setValue(URLImportQueue::maximumBytesKey, 1500);
    for (const char* path : {"/page.mp3", "/missing.mp3", "/big.wav"})
        m_queue.enqueue(url(path));
    m_queue.enqueue("   ");
    EXPECT_EQ(m_queue.jobs().size(), 3);
    QTRY_VERIFY_WITH_TIMEOUT(!m_queue.isProcessing(), 20000);

    EXPECT_TRUE(m_handedOver.isEmpty());
    QStringList messages;
    for (const URLImportJob& job : m_queue.jobs()) {
        EXPECT_EQ(job.state, URLImportJob::State::failed);
        messages << job.message;
    }
    EXPECT_EQ(messages, QStringList({"The download finished without a usable file.",
                                     "The download finished without a usable file.",
                                     "The file is larger than the URL import limit of 1.5 kB."}));
    EXPECT_EQ(partialEntries(), QStringList());
}

} // namespace
} // namespace calmcove
