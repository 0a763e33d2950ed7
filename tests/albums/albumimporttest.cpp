// Local import and artwork against real folders and real audio files: albums from folders
// and loose files, numbering and names of the copies, duplicates with scripted answers,
// and cover pictures.

#include "albums/albumstore.h"
#include "albums/importnaming.h"
#include "platform/userdefaults.h"
#include "scripteddialogs.h"
#include "support/qtprinters.h"
#include "support/wavfile.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

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
        const QString path = m_dir.path() + QStringLiteral("/source/") + relativePath;
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
    UserDefaults m_defaults{m_dir.path() + QStringLiteral("/settings.conf")};
    AlbumStore m_store{m_defaults, m_dir.path() + QStringLiteral("/albums")};
    ScriptedDialogs m_dialogs;
};

TEST(ImportNamingTest, TitlesCopiesAndDuplicateRule)
{
    EXPECT_EQ(trackTitle(QStringLiteral("night_drive-02.mp3")), QStringLiteral("night drive 02"));
    EXPECT_EQ(trackTitle(QStringLiteral("____.mp3")), QStringLiteral("URL Track"));
    EXPECT_EQ(trackTitle(QStringLiteral("a.b.flac")), QStringLiteral("a.b"));
    EXPECT_EQ(copiedFileName(QStringLiteral("My Song (live).MP3"), 3),
              QStringLiteral("03-My-Song-live.mp3"));
    EXPECT_EQ(copiedFileName(QStringLiteral("Café_déjà vu.wav"), 112),
              QStringLiteral("112-Café_déjà-vu.wav"));

    // Titles match ignoring case, diacritics and separators; durations within 2.0 s, or
    // either unknown.
    CalmTrack stored;
    stored.title = QStringLiteral("Café -_ Déjà\tVu ");
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
    QStringList files{QStringLiteral("/x/track10.mp3"), QStringLiteral("/y/Track2.mp3"),
                      QStringLiteral("/z/track1.mp3")};
    sortByFileName(files);
    EXPECT_EQ(files, QStringList({QStringLiteral("/z/track1.mp3"), QStringLiteral("/y/Track2.mp3"),
                                  QStringLiteral("/x/track10.mp3")}));
}

TEST_F(AlbumImportTest, FoldersAndLooseFilesBecomeAlbums)
{
    const QString first = source(QStringLiteral("Sunday/track10.wav"));
    source(QStringLiteral("Sunday/track2.wav"), wav(2.5));
    source(QStringLiteral("Sunday/Disc 2/My Song (live).wav"));
    source(QStringLiteral("Sunday/.hidden.wav"));
    source(QStringLiteral("Sunday/.secret/inside.wav"));
    source(QStringLiteral("Sunday/notes.txt"), "text");
    source(QStringLiteral("Sunday/album.PNG"), "png");
    source(QStringLiteral("Sunday/Disc 2/cover.jpg"), "nested");
    source(QStringLiteral("Monday/b.flac.txt"), "not audio");
    source(QStringLiteral("Monday/night_drive-02.wav"));
    const QStringList loose = {source(QStringLiteral("one.wav")),
                               source(QStringLiteral("two.mp3"), "junk"),
                               source(QStringLiteral("three.ogg"))};
    source(QStringLiteral("Empty/readme.txt"), "x");

    m_store.importExternalURLs({m_dir.path() + QStringLiteral("/source/Sunday"),
                                m_dir.path() + QStringLiteral("/source/Empty"), loose[0], loose[1],
                                loose[2], m_dir.path() + QStringLiteral("/source/Monday")});
    ASSERT_EQ(m_store.importedAlbums().size(), 3);
    EXPECT_EQ(m_store.statusMessage(), QStringLiteral("Imported 3 albums."));
    const CalmAlbum sunday = m_store.importedAlbums().at(0);
    const CalmAlbum monday = m_store.importedAlbums().at(1);
    const CalmAlbum tracks = m_store.importedAlbums().at(2);
    EXPECT_EQ(m_store.selectedAlbumID(), tracks.id);

    EXPECT_EQ(sunday.name, QStringLiteral("Sunday"));
    EXPECT_EQ(titles(sunday), QStringList({QStringLiteral("My Song (live)"),
                                           QStringLiteral("track2"), QStringLiteral("track10")}));
    EXPECT_EQ(folderEntries(sunday.id),
              QStringList({QStringLiteral("01-My-Song-live.wav"), QStringLiteral("02-track2.wav"),
                           QStringLiteral("03-track10.wav"), QStringLiteral("cover.png")}));
    EXPECT_EQ(sunday.artwork, AlbumArtwork(FileArtwork{m_store.rootDirectory() + QLatin1Char('/') +
                                                       sunday.id + QStringLiteral("/cover.png")}));
    EXPECT_NEAR(sunday.tracks.at(1).duration, 2.5, 1e-6);
    EXPECT_EQ(sunday.tracks.at(1).id, sunday.id + QStringLiteral("-02-track2"));
    EXPECT_EQ(sunday.tracks.at(1).artist, QStringLiteral("Imported"));
    EXPECT_EQ(sunday.tracks.at(1).moods, everyMood());
    EXPECT_EQ(titles(monday), QStringList{QStringLiteral("night drive 02")});
    EXPECT_EQ(monday.artwork, AlbumArtwork(NoArtwork{}));

    EXPECT_EQ(tracks.name, QStringLiteral("Imported Tracks"));
    EXPECT_EQ(titles(tracks), QStringList({QStringLiteral("one"), QStringLiteral("two")}));
    EXPECT_EQ(tracks.tracks.at(1).duration, 0); // undecodable, still imported
    EXPECT_TRUE(QFile::exists(first));          // the user's files stay

    m_store.importExternalURLs({loose[0]});
    EXPECT_EQ(m_store.importedAlbums().last().name, QStringLiteral("Imported Tracks 2"));
    EXPECT_EQ(m_store.statusMessage(), QStringLiteral("Imported 1 album."));

    AlbumStore reopened(m_defaults, m_store.rootDirectory());
    EXPECT_EQ(reopened.importedAlbums(), m_store.importedAlbums());
}

TEST_F(AlbumImportTest, NothingSupportedIsSaidAndNotSaved)
{
    m_store.importExternalURLs(
        {source(QStringLiteral("a.txt"), "x"), m_dir.path() + QStringLiteral("/missing.mp3")});
    EXPECT_EQ(m_store.errorMessage(), QStringLiteral("No supported audio files found."));
    m_store.importExternalURLs({source(QStringLiteral("b.txt"), "x")});
    EXPECT_EQ(m_store.errorMessage(), QStringLiteral("No supported audio files found."));
    EXPECT_TRUE(m_store.importedAlbums().isEmpty());
    EXPECT_FALSE(QFile::exists(m_store.rootDirectory() + QStringLiteral("/albums.json")));
    EXPECT_TRUE(
        QDir(m_store.rootDirectory()).entryList(QDir::Dirs | QDir::NoDotAndDotDot).isEmpty());
}

TEST_F(AlbumImportTest, AddTracksWithDuplicateAnswers)
{
    m_dialogs.selection = {source(QStringLiteral("rainy-day.wav"), wav(3)),
                           source(QStringLiteral("Dawn.wav"))};
    const QString id = m_store.createAlbum(QStringLiteral("Mix"))->id;
    m_store.addTracksWithPanel(id);
    EXPECT_EQ(m_store.statusMessage(), QStringLiteral("Added 2 tracks."));
    EXPECT_TRUE(m_dialogs.asked.isEmpty());
    const QList<CalmTrack> before = album(id).tracks;

    // Cancel changes nothing.
    m_dialogs.answer = DuplicateResolution::cancel;
    m_store.addTracks({source(QStringLiteral("Rainy_Day.wav"), wav(4.5))}, id);
    EXPECT_EQ(m_store.statusMessage(), QStringLiteral("Import canceled."));
    EXPECT_EQ(m_dialogs.asked, QStringList{QStringLiteral("1|Rainy Day|Mix")});
    EXPECT_EQ(album(id).tracks, before);
    EXPECT_EQ(folderEntries(id).size(), 2);

    // Skip: two duplicates, one new file.
    m_dialogs.answer = DuplicateResolution::skip;
    m_store.addTracks({source(QStringLiteral("RAINY DAY.wav"), wav(4.5)),
                       source(QStringLiteral("dawn.wav")), source(QStringLiteral("Dusk.wav"))},
                      id);
    EXPECT_EQ(m_store.statusMessage(), QStringLiteral("Added 1 track. Skipped 2 duplicates."));
    m_store.addTracks({source(QStringLiteral("dawn.wav"))}, id);
    EXPECT_EQ(m_store.statusMessage(), QStringLiteral("Skipped 1 duplicate."));

    // Replace keeps the position and counts as added; a longer take is not a duplicate.
    m_dialogs.answer = DuplicateResolution::replace;
    m_store.addTracks({source(QStringLiteral("Rainy Day.wav"), wav(4)),
                       source(QStringLiteral("Dawn.wav"), wav(9))},
                      id);
    EXPECT_EQ(m_store.statusMessage(), QStringLiteral("Added 2 tracks."));
    const CalmAlbum after = album(id);
    EXPECT_EQ(titles(after), QStringList({QStringLiteral("Dawn"), QStringLiteral("Rainy Day"),
                                          QStringLiteral("Dusk"), QStringLiteral("Dawn")}));
    EXPECT_NEAR(after.tracks.at(1).duration, 4, 1e-6);
    EXPECT_NE(after.tracks.at(1).id, before.at(1).id);
    // The replaced track's old copy is gone; the new one takes its number.
    EXPECT_EQ(folderEntries(id),
              QStringList({QStringLiteral("01-Dawn.wav"), QStringLiteral("02-Rainy-Day.wav"),
                           QStringLiteral("03-Dusk.wav"), QStringLiteral("04-Dawn.wav")}));
    EXPECT_EQ(m_store.selectedAlbumID(), id);

    m_store.addTracks({m_dir.path() + QStringLiteral("/source")}, id);
    EXPECT_EQ(m_store.errorMessage(), QStringLiteral("No supported audio files found."));
}

TEST_F(AlbumImportTest, ArtworkIsCopiedReplacedAndRemoved)
{
    const QString id = m_store.createAlbum(QStringLiteral("Art"))->id;
    m_dialogs.picture = source(QStringLiteral("Front.JPG"), "jpeg");
    m_store.setArtworkWithPanel(id);
    EXPECT_EQ(m_store.statusMessage(), QStringLiteral("Updated artwork."));
    const QString stored =
        m_store.rootDirectory() + QLatin1Char('/') + id + QStringLiteral("/cover.jpg");
    EXPECT_EQ(album(id).artwork, AlbumArtwork(FileArtwork{stored}));

    m_store.setArtwork(source(QStringLiteral("anim.gif"), "gif"), id);
    EXPECT_EQ(m_store.errorMessage(), QStringLiteral("Choose a JPG, PNG, or WebP image."));
    EXPECT_EQ(album(id).artwork, AlbumArtwork(FileArtwork{stored}));

    m_store.removeArtwork(id);
    EXPECT_FALSE(QFile::exists(stored));
    m_store.removeArtwork(id);
    EXPECT_EQ(m_store.statusMessage(), QStringLiteral("Removed artwork."));
    EXPECT_EQ(album(id).artwork, AlbumArtwork(NoArtwork{}));

    // Only exact cover names directly inside an imported folder count.
    source(QStringLiteral("Pics/Cover-art.jpg"), "x");
    source(QStringLiteral("Pics/a.wav"));
    m_store.importExternalURLs({m_dir.path() + QStringLiteral("/source/Pics")});
    EXPECT_EQ(m_store.importedAlbums().last().artwork, AlbumArtwork(NoArtwork{}));

    m_store.setArtwork(source(QStringLiteral("x.png"), "png"), builtInAlbumID);
    EXPECT_EQ(m_store.builtInAlbum().artwork,
              AlbumArtwork(AssetArtwork{QStringLiteral("BuiltInAlbumCover")}));
}

} // namespace
} // namespace calmcove
