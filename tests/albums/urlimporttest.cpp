// URL import jobs against a real loopback HTTP server: the queue and its order, job
// states and messages, recognising audio by extension or media type, the "URL Imports"
// album, duplicates with scripted answers, progress texts and refused downloads.

#include "albums/albumstore.h"
#include "platform/apppaths.h"
#include "platform/userdefaults.h"
#include "rangetestserver.h"
#include "scripteddialogs.h"
#include "support/qtprinters.h"
#include "support/smallfilesystem.h"
#include "support/wavfile.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QTemporaryDir>
#include <QTest>

namespace calmcove {
namespace {

using namespace std::chrono_literals;

class URLImportTest : public ::testing::Test
{
protected:
    URLImportTest()
    {
        m_store.setDialogs(&m_answers);
        // The file is audio at every other path, "/play.php" too.
        const QByteArray audio = test::silentWav(1);
        m_server.setFiles({audio});
        m_server.serve("/music/Rain_Song.mp3", 200, audio, "text/html");
        m_server.serve("/page", 200, "<html></html>", "text/html");
        m_server.serve("/missing.mp3", 404, "<html></html>", "text/html");
    }

    QString url(const char* path) const
    {
        return m_server.url(QString::fromLatin1(path)).toString();
    }

    void waitForQueue() { QTRY_VERIFY_WITH_TIMEOUT(!m_store.isProcessingURLImportQueue(), 20000); }
    QStringList messages() const
    {
        QStringList result;
        for (const URLImportJob& job : m_store.urlImportJobs())
            result << job.message;
        return result;
    }
    void TearDown() override
    {
        for (const QString& folder : {QDir::tempPath(), AppPaths::temporaryDirectory(),
                                      m_store.rootDirectory() + "/.partial"})
            EXPECT_EQ(
                QDir(folder).entryList({"Calmcove-*"}, QDir::AllEntries | QDir::CaseSensitive),
                QStringList())
                << folder.toStdString();
    }

    // Imports `path` into a store kept in `root`; the job's message.
    QString importInto(const QString& root, const char* path)
    {
        AlbumStore store(m_defaults, root);
        store.enqueueURLImport(url(path));
        for (int i = 0; i < 600 && store.isProcessingURLImportQueue(); ++i)
            QTest::qWait(100);
        EXPECT_FALSE(store.isProcessingURLImportQueue());
        EXPECT_EQ(QDir(root + "/.partial").entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                  QStringList());
        return store.urlImportJobs().last().message;
    }

    test::RangeTestServer m_server;
    QTemporaryDir m_dir;
    UserDefaults m_defaults{m_dir.path() + "/settings.conf"};
    AlbumStore m_store{m_defaults, m_dir.path() + "/albums"};
    test::ScriptedDialogs m_answers;
};

TEST_F(URLImportTest, RecognisesAudioByExtensionOrMediaTypeIntoURLImports)
{
    m_store.enqueueURLImport("   \n");
    EXPECT_TRUE(m_store.urlImportJobs().isEmpty());

    m_store.enqueueURLImport("  " + url("/music/Rain_Song.mp3"));
    m_store.enqueueURLImport(url("/play.php"));
    waitForQueue();
    EXPECT_EQ(messages(),
              QStringList({"Imported Rain Song to URL Imports.", "Imported play to URL Imports."}));
    ASSERT_EQ(m_store.importedAlbums().size(), 1);
    const CalmAlbum album = m_store.importedAlbums().first();
    EXPECT_EQ(album.name, "URL Imports");
    EXPECT_EQ(m_store.selectedAlbumID(), album.id);
    ASSERT_EQ(album.tracks.size(), 2);
    EXPECT_EQ(album.tracks.at(0).artist, "127.0.0.1");
    EXPECT_NEAR(album.tracks.at(0).duration, 1.0, 1e-6);
    EXPECT_EQ(QDir(m_store.rootDirectory() + QLatin1Char('/') + album.id).entryList(QDir::Files),
              QStringList({"01-Rain-Song.mp3", "02-play.mp3"}));
    for (const URLImportJob& job : m_store.urlImportJobs()) {
        EXPECT_EQ(job.state, URLImportJob::State::finished);
        EXPECT_EQ(job.progress, 1.0);
        EXPECT_EQ(job.progressText, "Done");
    }
    EXPECT_FALSE(m_store.isImportingURL());
}

TEST_F(URLImportTest, FailuresStayInTheirJobAndNeverStopTheQueue)
{
    m_store.enqueueURLImport("ftp://127.0.0.1/a.mp3");
    m_store.enqueueURLImport(url("/page"));
    m_store.enqueueURLImport(url("/missing.mp3"));
    m_store.enqueueURLImport(url("/play.php"));
    waitForQueue();
    EXPECT_EQ(
        messages(),
        QStringList({"Enter a valid http or https URL.",
                     QStringLiteral("This URL did not return a supported audio file. Try MP3, "
                                    "M4A, AAC, WAV, AIFF, or FLAC."),
                     "The download finished without a usable file.",
                     "Imported play to URL Imports."}));
    EXPECT_EQ(m_store.urlImportJobs().at(2).state, URLImportJob::State::failed);
    EXPECT_EQ(m_store.importedAlbums().first().tracks.size(), 1); // the 404 page is no track
    EXPECT_TRUE(m_store.errorMessage().isNull());
}

TEST_F(URLImportTest, JobsRunOneAtATimeInOrderAndShowOnlyBytesWithoutALength)
{
    QStringList texts;
    QObject::connect(&m_store, &AlbumStore::urlImportJobsChanged, [&] {
        for (const URLImportJob& job : m_store.urlImportJobs())
            if (job.progressText && !job.progress)
                texts << *job.progressText;
    });
    m_server.setBehaviour({.sendContentLength = false, .headDelay = 300ms});
    m_store.enqueueURLImport(url("/slow.wav"));
    m_store.enqueueURLImport(url("/stream"));
    ASSERT_EQ(m_store.urlImportJobs().size(), 2);
    EXPECT_EQ(m_store.urlImportJobs().at(0).state, URLImportJob::State::importing);
    EXPECT_EQ(m_store.urlImportJobs().at(1).message, "Queued");
    EXPECT_TRUE(m_store.isImportingURL());

    // Clearing keeps the running and queued jobs.
    m_store.clearFinishedURLImportJobs();
    EXPECT_EQ(m_store.urlImportJobs().size(), 2);
    QTRY_COMPARE_WITH_TIMEOUT(m_store.urlImportJobs().at(1).state, URLImportJob::State::importing,
                              10000);
    EXPECT_EQ(m_store.urlImportJobs().at(0).state, URLImportJob::State::finished);
    waitForQueue();
    EXPECT_EQ(messages(),
              QStringList({"Imported slow to URL Imports.", "Imported stream to URL Imports."}));
    ASSERT_FALSE(texts.isEmpty());
    EXPECT_TRUE(texts.last().endsWith(" downloaded")) << texts.last().toStdString();
    m_store.resetURLImportProgress(m_store.urlImportJobs().last().id);
    EXPECT_FALSE(m_store.urlImportJobs().last().progressText);
    m_store.clearFinishedURLImportJobs();
    EXPECT_TRUE(m_store.urlImportJobs().isEmpty());
}

TEST_F(URLImportTest, DuplicatesAskAndTargetAlbumsAreUsed)
{
    const QString mine = m_store.createAlbum("Mine")->id;
    const struct
    {
        DuplicateResolution answer;
        const char* message;
    } steps[] = {{DuplicateResolution::skip, "Imported play to Mine."},
                 {DuplicateResolution::skip, "Skipped duplicate track."},
                 {DuplicateResolution::cancel, "Import canceled."},
                 {DuplicateResolution::replace, "Replaced play in Mine."}};
    QStringList trackIDs;
    for (const auto& step : steps) {
        m_answers.answer = step.answer;
        m_store.enqueueURLImport(url("/play.php"), mine);
        waitForQueue();
        EXPECT_EQ(m_store.urlImportJobs().last().message, QLatin1String(step.message));
        EXPECT_EQ(m_store.urlImportJobs().last().state, URLImportJob::State::finished);
        ASSERT_EQ(m_store.importedAlbums().size(), 1); // no "URL Imports" album was needed
        ASSERT_EQ(m_store.importedAlbums().first().tracks.size(), 1);
        trackIDs << m_store.importedAlbums().first().tracks.first().id;
    }
    EXPECT_EQ(m_answers.asked, QStringList(3, "1|play|Mine"));
    EXPECT_EQ(trackIDs[2], trackIDs[0]);
    EXPECT_NE(trackIDs[3], trackIDs[0]);
}

TEST_F(URLImportTest, OnlyAFileThatDecodesAsAudioBecomesATrack)
{
    m_server.serve("/error.mp3", 200, "<html><body>Rate limited</body></html>", "audio/mpeg");
    QByteArray noise(300000, Qt::Uninitialized);
    for (qsizetype i = 0; i < noise.size(); ++i)
        noise[i] = char((i * 7919 + 13) % 251);
    m_server.serve("/noise.mp3", 200, noise, "audio/mpeg");
    m_server.serve("/header.wav", 200, test::silentWav(3).left(44), "audio/wav");
    for (const char* path : {"/error.mp3", "/noise.mp3", "/header.wav"})
        m_store.enqueueURLImport(url(path));
    waitForQueue();
    EXPECT_EQ(messages(), QStringList(3, "The download finished without a usable file."));
    EXPECT_TRUE(m_store.importedAlbums().isEmpty());
    EXPECT_TRUE(
        QDir(m_store.rootDirectory()).entryList(QDir::Dirs | QDir::NoDotAndDotDot).isEmpty());
    EXPECT_FALSE(QFile::exists(m_store.rootDirectory() + "/albums.json"));
}

TEST_F(URLImportTest, TheSizeSettingEndsADownloadWithoutEnd)
{
    m_defaults.setValue(AlbumStore::urlImportMaximumBytesKey, 3 * 1048576);
    m_server.setBehaviour({.endless = true});
    m_store.enqueueURLImport(url("/endless.wav"));
    waitForQueue();
    EXPECT_EQ(messages(), QStringList("The file is larger than the URL import limit of 3.1 MB."));
    EXPECT_TRUE(m_store.importedAlbums().isEmpty());
}

TEST_F(URLImportTest, ImportsOntoAnotherFileSystemAndStopsAtItsReserve)
{
    // The temporary folder stays where it is; the albums live on a file system of their own
    // with 20 MiB above the 256 MiB reserve.
    test::SmallFileSystem disk(276);
    if (!disk.isMounted())
        GTEST_SKIP() << disk.skipReason().toStdString();
    const QString root = disk.path() + "/albums";
    EXPECT_EQ(importInto(root, "/music/Rain_Song.mp3"), "Imported Rain Song to URL Imports.");
    {
        AlbumStore store(m_defaults, root);
        ASSERT_EQ(store.importedAlbums().size(), 1);
        QFile track(std::get<FileAudio>(store.importedAlbums().first().tracks.first().source).path);
        ASSERT_TRUE(track.open(QIODevice::ReadOnly));
        EXPECT_EQ(track.readAll(), test::silentWav(1));
    }

    m_server.setBehaviour({.endless = true});
    EXPECT_EQ(importInto(root, "/endless.wav"),
              "There is not enough free disk space to import this file; what was downloaded has "
              "been deleted.");
}

} // namespace
} // namespace calmcove
