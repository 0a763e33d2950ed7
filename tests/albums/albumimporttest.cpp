// Local import and artwork against real folders and real audio files: albums from folders
// and loose files, numbering and names of the copies, duplicates with scripted answers,
// cover pictures, and long copies that run while the event loop does.

#include "albums/albumstore.h"
#include "albums/importnaming.h"
#include "albums/importpanels.h"
#include "platform/atomicfile.h"
#include "platform/userdefaults.h"
#include "scripteddialogs.h"
#include "support/qtprinters.h"
#include "support/smallfilesystem.h"
#include "support/wavfile.h"

#include <QCoro/QCoroTask>

#include <algorithm>
#include <gtest/gtest.h>
#include <iostream>
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

namespace calmcove {
namespace {

using test::ScriptedDialogs;

constexpr auto wav = test::silentWav;

class AlbumImportTest : public ::testing::Test
{
protected:
    AlbumImportTest() { m_store.setDialogs(&m_dialogs); }

    QString source(const QString& relativePath, const QByteArray& bytes = wav(1))
    {
        const QString path = m_dir.path() + "/source/" + relativePath;
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return path;
    }

    QStringList folderEntries(const QString& albumID)
    {
        return QDir(m_store.rootDirectory() + QLatin1Char('/') + albumID)
            .entryList(QDir::Files, QDir::Name);
    }

    static QStringList titles(const CalmAlbum& album)
    {
        QStringList result;
        for (const CalmTrack& track : album.tracks)
            result << track.title;
        return result;
    }

    CalmAlbum album(const QString& id)
    {
        const auto albums = m_store.importedAlbums();
        const auto found = std::find_if(albums.begin(), albums.end(),
                                        [&](const CalmAlbum& album) { return album.id == id; });
        return found == albums.end() ? CalmAlbum{} : *found;
    }

    QTemporaryDir m_dir;
    UserDefaults m_defaults{m_dir.path() + "/settings.conf"};
    AlbumStore m_store{m_defaults, m_dir.path() + "/albums"};
    ScriptedDialogs m_dialogs;
    ImportPanels m_panels{m_store, m_dialogs};
};

TEST(ImportNamingTest, TitlesCopiesAndDuplicateRule)
{
    EXPECT_EQ(trackTitle("night_drive-02.mp3"), "night drive 02");
    EXPECT_EQ(trackTitle("____.mp3"), "URL Track");
    EXPECT_EQ(trackTitle("a.b.flac"), "a.b");
    // Control characters from a file name never reach a title or an album name.
    EXPECT_EQ(trackTitle(QString::fromUtf8("a\x1b[31mb\x07"
                                           "c\nd\u0085e.mp3")),
              "a [31mb c d e");
    EXPECT_EQ(withoutControlCharacters("Tab\tAnd\rReturn\x7f"), "Tab And Return ");
    EXPECT_EQ(copiedFileName("My Song (live).MP3", 3), "03-My-Song-live.mp3");
    EXPECT_EQ(copiedFileName("Café_déjà vu.wav", 112), "112-Café_déjà-vu.wav");

    // Titles match ignoring case, diacritics and separators; durations within 2.0 s, or
    // either unknown.
    CalmTrack stored;
    stored.title = "Café -_ Déjà\tVu ";
    stored.duration = 180.0;
    const struct
    {
        const char* title;
        double duration;
        bool duplicate;
    } cases[] = {{"cafe deja vu", 182.0, true},
                 {"CAFÉ_DEJA-VU", 178.0, true},
                 {"Cafe Deja Vu", 182.01, false},
                 {"Cafe Deja Vu", 0, true},
                 {"Cafe Deja", 180.0, false}};
    for (const auto& c : cases)
        EXPECT_EQ(duplicateTrackIndex({stored}, QString::fromUtf8(c.title), c.duration),
                  c.duplicate ? std::optional<qsizetype>(0) : std::nullopt)
            << c.title << " " << c.duration;

    EXPECT_LT(compareFileNames(u"a9", u"A10"), 0);
    EXPECT_LT(compareFileNames(u"disc 2 track 007", u"Disc 2 Track 10"), 0);
    EXPECT_EQ(compareFileNames(u"x01", u"x1"), 0);
    QStringList files{"/x/track10.mp3", "/y/Track2.mp3", "/z/track1.mp3"};
    sortByFileName(files);
    EXPECT_EQ(files, QStringList({"/z/track1.mp3", "/y/Track2.mp3", "/x/track10.mp3"}));
}

TEST_F(AlbumImportTest, FoldersAndLooseFilesBecomeAlbums)
{
    const QString first = source("Sunday/track10.wav");
    source("Sunday/track2.wav", wav(2.5));
    source("Sunday/Disc 2/My Song (live).wav");
    source("Sunday/.hidden.wav");
    source("Sunday/.secret/inside.wav");
    source("Sunday/notes.txt", "text");
    source("Sunday/album.PNG", "png");
    source("Sunday/Disc 2/cover.jpg", "nested");
    source("Monday/b.flac.txt", "not audio");
    source("Monday/night_drive-02.wav");
    const QStringList loose = {source("one.wav"), source("two.mp3", "junk"), source("three.ogg")};
    source("Empty/readme.txt", "x");

    QCoro::waitFor(m_store.importExternalURLs({m_dir.path() + "/source/Sunday",
                                               m_dir.path() + "/source/Empty", loose[0], loose[1],
                                               loose[2], m_dir.path() + "/source/Monday"}));
    ASSERT_EQ(m_store.importedAlbums().size(), 3);
    EXPECT_EQ(m_store.statusMessage(), "Imported 3 albums.");
    const CalmAlbum sunday = m_store.importedAlbums().at(0);
    const CalmAlbum monday = m_store.importedAlbums().at(1);
    const CalmAlbum tracks = m_store.importedAlbums().at(2);
    EXPECT_EQ(m_store.selectedAlbumID(), tracks.id);

    EXPECT_EQ(sunday.name, "Sunday");
    EXPECT_EQ(titles(sunday), QStringList({"My Song (live)", "track2", "track10"}));
    EXPECT_EQ(folderEntries(sunday.id),
              QStringList({"01-My-Song-live.wav", "02-track2.wav", "03-track10.wav", "cover.png"}));
    EXPECT_EQ(sunday.artwork, AlbumArtwork(FileArtwork{m_store.rootDirectory() + QLatin1Char('/') +
                                                       sunday.id + "/cover.png"}));
    EXPECT_NEAR(sunday.tracks.at(1).duration, 2.5, 1e-6);
    EXPECT_EQ(sunday.tracks.at(1).id, sunday.id + "-02-track2");
    EXPECT_EQ(sunday.tracks.at(1).artist, "Imported");
    EXPECT_EQ(sunday.tracks.at(1).moods, everyMood());
    EXPECT_EQ(titles(monday), QStringList{"night drive 02"});
    EXPECT_EQ(monday.artwork, AlbumArtwork(NoArtwork{}));

    EXPECT_EQ(tracks.name, "Imported Tracks");
    EXPECT_EQ(titles(tracks), QStringList({"one"})); // "two.mp3" does not decode
    EXPECT_EQ(folderEntries(tracks.id), QStringList({"01-one.wav"}));
    EXPECT_TRUE(QFile::exists(first)); // the user's files stay

    QCoro::waitFor(m_store.importExternalURLs({loose[0]}));
    EXPECT_EQ(m_store.importedAlbums().last().name, "Imported Tracks 2");
    EXPECT_EQ(m_store.statusMessage(), "Imported 1 album.");

    AlbumStore reopened(m_defaults, m_store.rootDirectory());
    EXPECT_EQ(reopened.importedAlbums(), m_store.importedAlbums());
}

TEST_F(AlbumImportTest, NothingSupportedIsSaidAndNotSaved)
{
    // Names that promise audio are not enough: the files must decode.
    const QByteArray page = "<html><body>Not found</body></html>";
    QCoro::waitFor(m_store.importExternalURLs(
        {source("a.txt", "x"), m_dir.path() + "/missing.mp3", source("page.mp3", page),
         source("noise.wav", QByteArray(9000, 'z')), source("cut.wav", wav(1).left(44))}));
    EXPECT_EQ(m_store.errorMessage(), "No supported audio files found.");
    EXPECT_TRUE(m_store.importedAlbums().isEmpty());
    EXPECT_FALSE(QFile::exists(m_store.rootDirectory() + "/albums.json"));
    EXPECT_TRUE(
        QDir(m_store.rootDirectory()).entryList(QDir::Dirs | QDir::NoDotAndDotDot).isEmpty());
}

TEST_F(AlbumImportTest, AddTracksWithDuplicateAnswers)
{
    m_dialogs.selection = {source("rainy-day.wav", wav(3)), source("Dawn.wav")};
    const QString id = m_store.createAlbum("Mix")->id;
    QCoro::waitFor(m_panels.addTracksWithPanel(id));
    EXPECT_EQ(m_store.statusMessage(), "Added 2 tracks.");
    EXPECT_TRUE(m_dialogs.asked.isEmpty());
    const QList<CalmTrack> before = album(id).tracks;

    // Cancel changes nothing.
    m_dialogs.answer = DuplicateResolution::cancel;
    QCoro::waitFor(m_store.addTracks({source("Rainy_Day.wav", wav(4.5))}, id));
    EXPECT_EQ(m_store.statusMessage(), "Import canceled.");
    EXPECT_EQ(m_dialogs.asked, QStringList{"1|Rainy Day|Mix"});
    EXPECT_EQ(album(id).tracks, before);
    EXPECT_EQ(folderEntries(id).size(), 2);

    // Skip: two duplicates, one new file.
    m_dialogs.answer = DuplicateResolution::skip;
    QCoro::waitFor(m_store.addTracks(
        {source("RAINY DAY.wav", wav(4.5)), source("dawn.wav"), source("Dusk.wav")}, id));
    EXPECT_EQ(m_store.statusMessage(), "Added 1 track. Skipped 2 duplicates.");
    QCoro::waitFor(m_store.addTracks({source("dawn.wav")}, id));
    EXPECT_EQ(m_store.statusMessage(), "Skipped 1 duplicate.");

    // Replace keeps the position and counts as added; a longer take is not a duplicate.
    m_dialogs.answer = DuplicateResolution::replace;
    QCoro::waitFor(
        m_store.addTracks({source("Rainy Day.wav", wav(4)), source("Dawn.wav", wav(9))}, id));
    EXPECT_EQ(m_store.statusMessage(), "Added 2 tracks.");
    const CalmAlbum after = album(id);
    EXPECT_EQ(titles(after), QStringList({"Dawn", "Rainy Day", "Dusk", "Dawn"}));
    EXPECT_NEAR(after.tracks.at(1).duration, 4, 1e-6);
    EXPECT_NE(after.tracks.at(1).id, before.at(1).id);
    // The replaced track's old copy is gone; the new one takes its number.
    EXPECT_EQ(folderEntries(id),
              QStringList({"01-Dawn.wav", "02-Rainy-Day.wav", "03-Dusk.wav", "04-Dawn.wav"}));
    EXPECT_EQ(m_store.selectedAlbumID(), id);

    QCoro::waitFor(m_store.addTracks({m_dir.path() + "/source"}, id));
    EXPECT_EQ(m_store.errorMessage(), "No supported audio files found.");
}

TEST_F(AlbumImportTest, ArtworkIsCopiedReplacedAndRemoved)
{
    const QString id = m_store.createAlbum("Art")->id;
    m_dialogs.picture = source("Front.JPG", "jpeg");
    QCoro::waitFor(m_panels.setArtworkWithPanel(id));
    EXPECT_EQ(m_store.statusMessage(), "Updated artwork.");
    const QString stored = m_store.rootDirectory() + QLatin1Char('/') + id + "/cover.jpg";
    EXPECT_EQ(album(id).artwork, AlbumArtwork(FileArtwork{stored}));

    QCoro::waitFor(m_store.setArtwork(source("anim.gif", "gif"), id));
    EXPECT_EQ(m_store.errorMessage(), "Choose a JPG, PNG, or WebP image.");
    EXPECT_EQ(album(id).artwork, AlbumArtwork(FileArtwork{stored}));

    m_store.removeArtwork(id);
    EXPECT_FALSE(QFile::exists(stored));
    m_store.removeArtwork(id);
    EXPECT_EQ(m_store.statusMessage(), "Removed artwork.");
    EXPECT_EQ(album(id).artwork, AlbumArtwork(NoArtwork{}));

    // Only exact cover names directly inside an imported folder count.
    source("Pics/Cover-art.jpg", "x");
    source("Pics/a.wav");
    QCoro::waitFor(m_store.importExternalURLs({m_dir.path() + "/source/Pics"}));
    EXPECT_EQ(m_store.importedAlbums().last().artwork, AlbumArtwork(NoArtwork{}));

    QCoro::waitFor(m_store.setArtwork(source("x.png", "png"), builtInAlbumID));
    EXPECT_EQ(m_store.builtInAlbum().artwork, AlbumArtwork(AssetArtwork{"BuiltInAlbumCover"}));
}

TEST_F(AlbumImportTest, OnlyFilesThatDecodeBecomeTracksAndCopiesAppearWhole)
{
    source("Mixed\x1b]0;owned\x07/1-real.wav");
    source("Mixed\x1b]0;owned\x07/2-fake.mp3", "<html></html>");
    QCoro::waitFor(m_store.importExternalURLs({m_dir.path() + "/source/Mixed\x1b]0;owned\x07"}));
    ASSERT_EQ(m_store.importedAlbums().size(), 1);
    const CalmAlbum imported = m_store.importedAlbums().first();
    EXPECT_EQ(imported.name, "Mixed ]0;owned");
    EXPECT_EQ(titles(imported), QStringList({"1 real"}));
    // Nothing half-written beside the copies.
    EXPECT_EQ(QDir(m_store.rootDirectory() + QLatin1Char('/') + imported.id)
                  .entryList(QDir::Files | QDir::Hidden),
              QStringList({"01-1-real.wav"}));

    QCoro::waitFor(m_store.addTracks(
        {source("3-fake.wav", QByteArray(5000, '\0')), source("4-real.wav", wav(2))}, imported.id));
    EXPECT_EQ(m_store.statusMessage(), "Added 1 track.");
    EXPECT_EQ(titles(album(imported.id)), QStringList({"1 real", "4 real"}));
}

TEST_F(AlbumImportTest, ACopyOntoAFullDiskLeavesNothingBehind)
{
    test::SmallFileSystem disk(4);
    if (!disk.isMounted())
        GTEST_SKIP() << disk.skipReason().toStdString();
    // Far below the reserve: refused before a byte is copied.
    AlbumStore store(m_defaults, disk.path() + "/albums");
    QCoro::waitFor(store.importExternalURLs({source("Big/long.wav", wav(30))}));
    EXPECT_TRUE(store.importedAlbums().isEmpty());
    EXPECT_FALSE(store.errorMessage().isNull());
    EXPECT_EQ(QDir(disk.path() + "/albums")
                  .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList());

    // The copy itself, as the import makes it, on a disk that fills during the copy.
    QString reason;
    EXPECT_FALSE(copyFileAtomically(source("huge.bin", QByteArray(6 * 1048576, 'a')),
                                    disk.path() + "/huge.wav", &reason));
    EXPECT_FALSE(reason.isEmpty());
    EXPECT_EQ(QDir(disk.path()).entryList(QDir::Files | QDir::Hidden), QStringList());
}

TEST_F(AlbumImportTest, ALongCopyLeavesTheEventLoopRunningAndImportsRunInTurn)
{
    // 300 MB of real audio: a sparse file reads at memory speed, the copy is written out.
    const QString big = m_dir.path() + "/source/Long/long.wav";
    QDir().mkpath(QFileInfo(big).path());
    ASSERT_TRUE(test::writeLongSilentWav(big, 300'000'000));
    source("Short/one.wav");

    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
    timer.start(5);
    QElapsedTimer clock;
    clock.start();
    // Started back to back: the second waits for the first and neither loses the other.
    auto first = m_store.importExternalURLs({m_dir.path() + "/source/Long"});
    auto second = m_store.importExternalURLs({m_dir.path() + "/source/Short"});
    EXPECT_TRUE(m_store.importedAlbums().isEmpty()); // nothing recorded before the copy is done
    QCoro::waitFor(first);
    std::cerr << "300 MB copied in " << clock.elapsed() << " ms; the timer fired " << ticks
              << " times meanwhile\n";
    EXPECT_GE(ticks, 2);
    ASSERT_EQ(m_store.importedAlbums().size(), 1);
    EXPECT_EQ(m_store.statusMessage(), "Imported 1 album.");
    const CalmAlbum longAlbum = m_store.importedAlbums().first();
    EXPECT_EQ(longAlbum.name, "Long");
    EXPECT_NEAR(longAlbum.tracks.first().duration, 299'999'956 / 16000.0, 1e-3);
    QCoro::waitFor(second);
    ASSERT_EQ(m_store.importedAlbums().size(), 2);
    EXPECT_EQ(m_store.importedAlbums().last().name, "Short");
    EXPECT_EQ(m_store.selectedAlbumID(), m_store.importedAlbums().last().id);
    AlbumStore reopened(m_defaults, m_store.rootDirectory());
    EXPECT_EQ(reopened.importedAlbums(), m_store.importedAlbums());

    // An artwork change queued behind a long addition waits for it.
    const QString longer = m_dir.path() + "/source/longer.wav";
    ASSERT_TRUE(test::writeLongSilentWav(longer, 300'000'000));
    auto adding = m_store.addTracks({longer}, longAlbum.id);
    auto picture = m_store.setArtwork(source("cover.png", "png"), longAlbum.id);
    QCoro::waitFor(picture);
    EXPECT_EQ(m_store.statusMessage(), "Updated artwork.");
    EXPECT_EQ(album(longAlbum.id).tracks.size(), 2);
    QCoro::waitFor(adding);

    // A store that goes mid-copy abandons it: no partial file, no album folder, no record.
    const QString root = m_dir.path() + "/abandoned";
    auto store = std::make_unique<AlbumStore>(m_defaults, root);
    auto abandoned = store->importExternalURLs({m_dir.path() + "/source/Long"});
    const auto partialFiles = [&root] {
        QStringList found;
        QDirIterator walk(root, {"*.partial"}, QDir::Files | QDir::Hidden,
                          QDirIterator::Subdirectories);
        while (walk.hasNext())
            found << walk.next();
        return found;
    };
    QElapsedTimer waited;
    waited.start();
    while (partialFiles().isEmpty() && waited.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    ASSERT_FALSE(partialFiles().isEmpty());
    clock.restart();
    store.reset();
    std::cerr << "a store mid-copy went in " << clock.elapsed() << " ms\n";
    EXPECT_LT(clock.elapsed(), 5000);
    QCoreApplication::processEvents(); // the abandoned import's last turn
    EXPECT_EQ(QDir(root).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList());
}

} // namespace
} // namespace calmcove
