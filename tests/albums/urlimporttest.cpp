// URL import jobs against a real loopback HTTP server: the queue and its order, job
// states and messages, recognising audio by extension or media type, the "URL Imports"
// album, duplicates with scripted answers, progress texts and refused downloads.

#include "support/qtprinters.h"
#include "support/wavfile.h"

#include "albums/albumstore.h"
#include "platform/userdefaults.h"

#include <gtest/gtest.h>

#include <httplib.h>

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <thread>

namespace calmcove {
namespace {

class AudioServer
{
public:
    AudioServer()
    {
        const std::string audio = test::silentWav(1).toStdString();
        m_server.Get("/music/Rain_Song.mp3",
                     [audio](const httplib::Request&, httplib::Response& reply) {
                         reply.set_content(audio, "text/html");
                     });
        m_server.Get("/play.php", [audio](const httplib::Request&, httplib::Response& reply) {
            reply.set_content(audio, "audio/mpeg");
        });
        m_server.Get("/page", [](const httplib::Request&, httplib::Response& reply) {
            reply.set_content("<html></html>", "text/html");
        });
        m_server.Get("/slow.wav", [this, audio](const httplib::Request&, httplib::Response& reply) {
            std::this_thread::sleep_for(std::chrono::milliseconds(m_slowMs));
            reply.set_content(audio, "audio/wav");
        });
        m_server.Get("/stream", [audio](const httplib::Request&, httplib::Response& reply) {
            reply.set_chunked_content_provider(
                "audio/x-wav", [audio](size_t offset, httplib::DataSink& sink) {
                    if (offset < audio.size())
                        sink.write(audio.data() + offset,
                                   std::min<size_t>(4096, audio.size() - offset));
                    else
                        sink.done();
                    return true;
                });
        });
        m_port = m_server.bind_to_any_port("127.0.0.1");
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
        while (!m_server.is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~AudioServer()
    {
        m_server.stop();
        m_thread.join();
    }
    QString url(const char* path) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(QLatin1String(path));
    }
    int m_slowMs = 300;

private:
    httplib::Server m_server;
    std::thread m_thread;
    int m_port = 0;
};

class ScriptedAnswers : public ImportDialogs
{
public:
    QStringList chooseImportSelection() override { return {}; }
    QStringList chooseTracksToAdd() override { return {}; }
    QString chooseArtwork() override { return {}; }
    DuplicateResolution confirmDuplicateImport(int count, const QString& title,
                                               const QString& album) override
    {
        asked.append(QStringLiteral("%1|%2|%3").arg(count).arg(title, album));
        return answer;
    }
    DuplicateResolution answer = DuplicateResolution::skip;
    QStringList asked;
};

class URLImportTest : public ::testing::Test
{
protected:
    URLImportTest() { m_store.setDialogs(&m_answers); }

    void waitForQueue() { QTRY_VERIFY_WITH_TIMEOUT(!m_store.isProcessingURLImportQueue(), 20000); }
    QStringList messages() const
    {
        QStringList result;
        for (const URLImportJob& job : m_store.urlImportJobs())
            result << job.message;
        return result;
    }
    QStringList temporaryLeftovers() const
    {
        return QDir(QDir::tempPath()).entryList({QStringLiteral("Calmcove-*")}, QDir::AllEntries);
    }

    AudioServer m_server;
    QTemporaryDir m_dir;
    UserDefaults m_defaults{m_dir.path() + QStringLiteral("/settings.conf")};
    AlbumStore m_store{m_defaults, m_dir.path() + QStringLiteral("/albums")};
    ScriptedAnswers m_answers;
};

TEST_F(URLImportTest, RecognisesAudioByExtensionOrMediaTypeIntoURLImports)
{
    m_store.enqueueURLImport(QStringLiteral("   \n"));
    EXPECT_TRUE(m_store.urlImportJobs().isEmpty());

    m_store.enqueueURLImport(QStringLiteral("  ") + m_server.url("/music/Rain_Song.mp3"));
    m_store.enqueueURLImport(m_server.url("/play.php"));
    waitForQueue();
    EXPECT_EQ(messages(), QStringList({QStringLiteral("Imported Rain Song to URL Imports."),
                                       QStringLiteral("Imported play to URL Imports.")}));
    ASSERT_EQ(m_store.importedAlbums().size(), 1);
    const CalmAlbum album = m_store.importedAlbums().first();
    EXPECT_EQ(album.name, QStringLiteral("URL Imports"));
    EXPECT_EQ(m_store.selectedAlbumID(), album.id);
    ASSERT_EQ(album.tracks.size(), 2);
    EXPECT_EQ(album.tracks.at(0).artist, QStringLiteral("127.0.0.1"));
    EXPECT_NEAR(album.tracks.at(0).duration, 1.0, 1e-6);
    EXPECT_EQ(QDir(m_store.rootDirectory() + QLatin1Char('/') + album.id).entryList(QDir::Files),
              QStringList({QStringLiteral("01-Rain-Song.mp3"), QStringLiteral("02-play.mp3")}));
    for (const URLImportJob& job : m_store.urlImportJobs()) {
        EXPECT_EQ(job.state, URLImportJob::State::finished);
        EXPECT_EQ(job.progress, 1.0);
        EXPECT_EQ(job.progressText, QStringLiteral("Done"));
    }
    EXPECT_TRUE(temporaryLeftovers().isEmpty()) << temporaryLeftovers().join(' ').toStdString();
    EXPECT_FALSE(m_store.isImportingURL());
}

TEST_F(URLImportTest, FailuresStayInTheirJobAndNeverStopTheQueue)
{
    m_store.enqueueURLImport(QStringLiteral("ftp://127.0.0.1/a.mp3"));
    m_store.enqueueURLImport(m_server.url("/page"));
    m_store.enqueueURLImport(m_server.url("/missing.mp3"));
    m_store.enqueueURLImport(m_server.url("/play.php"));
    waitForQueue();
    EXPECT_EQ(
        messages(),
        QStringList({QStringLiteral("Enter a valid http or https URL."),
                     QStringLiteral("This URL did not return a supported audio file. Try MP3, "
                                    "M4A, AAC, WAV, AIFF, or FLAC."),
                     QStringLiteral("The download finished without a usable file."),
                     QStringLiteral("Imported play to URL Imports.")}));
    EXPECT_EQ(m_store.urlImportJobs().at(2).state, URLImportJob::State::failed);
    EXPECT_EQ(m_store.importedAlbums().first().tracks.size(), 1); // the 404 page is no track
    EXPECT_TRUE(m_store.errorMessage().isNull());
    EXPECT_TRUE(temporaryLeftovers().isEmpty());
}

TEST_F(URLImportTest, JobsRunOneAtATimeInOrder)
{
    m_store.enqueueURLImport(m_server.url("/slow.wav"));
    m_store.enqueueURLImport(m_server.url("/play.php"));
    ASSERT_EQ(m_store.urlImportJobs().size(), 2);
    EXPECT_EQ(m_store.urlImportJobs().at(0).state, URLImportJob::State::importing);
    EXPECT_EQ(m_store.urlImportJobs().at(1).message, QStringLiteral("Queued"));
    EXPECT_TRUE(m_store.isImportingURL());

    // Clearing keeps the running and queued jobs.
    m_store.clearFinishedURLImportJobs();
    EXPECT_EQ(m_store.urlImportJobs().size(), 2);
    QTRY_COMPARE_WITH_TIMEOUT(m_store.urlImportJobs().at(1).state, URLImportJob::State::importing,
                              10000);
    EXPECT_EQ(m_store.urlImportJobs().at(0).state, URLImportJob::State::finished);
    waitForQueue();
    EXPECT_EQ(m_store.importedAlbums().first().tracks.at(0).title, QStringLiteral("slow"));
    m_store.clearFinishedURLImportJobs();
    EXPECT_TRUE(m_store.urlImportJobs().isEmpty());
}

TEST_F(URLImportTest, DuplicatesAskAndTargetAlbumsAreUsed)
{
    const QString mine = m_store.createAlbum(QStringLiteral("Mine"))->id;
    m_store.enqueueURLImport(m_server.url("/play.php"), mine);
    waitForQueue();
    EXPECT_EQ(m_store.urlImportJobs().last().message, QStringLiteral("Imported play to Mine."));

    m_store.enqueueURLImport(m_server.url("/play.php"), mine);
    waitForQueue();
    EXPECT_EQ(m_store.urlImportJobs().last().message, QStringLiteral("Skipped duplicate track."));
    EXPECT_EQ(m_answers.asked, QStringList{QStringLiteral("1|play|Mine")});

    m_answers.answer = DuplicateResolution::cancel;
    m_store.enqueueURLImport(m_server.url("/play.php"), mine);
    waitForQueue();
    EXPECT_EQ(m_store.urlImportJobs().last().message, QStringLiteral("Import canceled."));
    EXPECT_EQ(m_store.urlImportJobs().last().state, URLImportJob::State::finished);

    m_answers.answer = DuplicateResolution::replace;
    const QString before = m_store.importedAlbums().first().tracks.first().id;
    m_store.enqueueURLImport(m_server.url("/play.php"), mine);
    waitForQueue();
    EXPECT_EQ(m_store.urlImportJobs().last().message, QStringLiteral("Replaced play in Mine."));
    ASSERT_EQ(m_store.importedAlbums().first().tracks.size(), 1);
    EXPECT_NE(m_store.importedAlbums().first().tracks.first().id, before);
    EXPECT_EQ(m_store.importedAlbums().size(), 1); // no "URL Imports" album was needed
}

TEST_F(URLImportTest, ProgressWithoutALengthShowsOnlyTheBytes)
{
    QStringList texts;
    QObject::connect(&m_store, &AlbumStore::urlImportJobsChanged, [&] {
        for (const URLImportJob& job : m_store.urlImportJobs()) {
            if (job.progressText && !job.progress)
                texts << *job.progressText;
        }
    });
    m_store.enqueueURLImport(m_server.url("/stream"));
    waitForQueue();
    EXPECT_EQ(m_store.urlImportJobs().last().message,
              QStringLiteral("Imported stream to URL Imports."));
    ASSERT_FALSE(texts.isEmpty());
    EXPECT_TRUE(texts.last().endsWith(QStringLiteral(" downloaded"))) << texts.last().toStdString();

    m_store.resetURLImportProgress(m_store.urlImportJobs().last().id);
    EXPECT_FALSE(m_store.urlImportJobs().last().progressText);
}

} // namespace
} // namespace calmcove
