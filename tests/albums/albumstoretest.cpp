// The album store against real folders: loading, saving, every edit and its message,
// the stored selection, and the two protections of the user's data.

#include "albums/albumstore.h"

#include "albums/albumindex.h"
#include "model/tracklibrary.h"
#include "platform/userdefaults.h"
#include "support/qtprinters.h"

#include <gtest/gtest.h>
#include <memory>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

namespace calmcove {
namespace {

class AlbumStoreTest : public ::testing::Test
{
protected:
    QString root() const { return m_dir.path() + QStringLiteral("/Imported Albums"); }
    QString indexPath() const { return root() + QStringLiteral("/albums.json"); }

    std::unique_ptr<AlbumStore> makeStore()
    {
        return std::make_unique<AlbumStore>(m_defaults, root());
    }

    void writeFile(const QString& path, const QByteArray& bytes = "audio")
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

    QByteArray readFile(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    QStringList keptIndexCopies()
    {
        return QDir(root()).entryList({QStringLiteral("albums.json.unreadable-*")}, QDir::Files);
    }

    // An album "A1" with tracks T1..Tn whose files exist.
    void writeAlbumWithTracks(int count)
    {
        ImportedAlbumRecord album{QStringLiteral("A1"), QStringLiteral("Harbor"), std::nullopt, {}};
        for (int i = 1; i <= count; ++i) {
            const QString fileName = QStringLiteral("0%1-Song.mp3").arg(i);
            album.tracks.append({QStringLiteral("T%1").arg(i), QStringLiteral("Song %1").arg(i),
                                 QStringLiteral("Artist"), 60.0 + i, fileName});
            writeFile(root() + QStringLiteral("/A1/") + fileName);
        }
        writeFile(indexPath(), *encodeAlbumIndex({album}));
    }

    QTemporaryDir m_dir;
    UserDefaults m_defaults{m_dir.path() + QStringLiteral("/settings.conf")};
};

TEST_F(AlbumStoreTest, StartsWithTheDefaultAlbumWhenNothingIsStored)
{
    const auto store = makeStore();
    EXPECT_EQ(store->albums(), QList<CalmAlbum>{TrackLibrary::builtInAlbum()});
    EXPECT_EQ(store->selectedAlbum().id, QStringLiteral("built-in-calm"));
    EXPECT_TRUE(store->statusMessage().isNull());
    EXPECT_TRUE(store->errorMessage().isNull());
    EXPECT_FALSE(QFile::exists(indexPath()));
}

TEST_F(AlbumStoreTest, LoadsHandWrittenIndexAndDropsMissingFilesAtNextSave)
{
    writeFile(indexPath(), readFile(QStringLiteral(CALMCOVE_TEST_DATA "/handwritten.json")));
    writeFile(root() + QStringLiteral("/A1/01-Harbor.mp3"));
    QDir().mkpath(root() + QStringLiteral("/A2"));

    const auto store = makeStore();
    ASSERT_EQ(store->importedAlbums().size(), 2);
    const CalmAlbum& harbor = store->importedAlbums().at(0);
    EXPECT_EQ(harbor.name, QStringLiteral("Harbor Songs"));
    EXPECT_EQ(harbor.artwork, AlbumArtwork(NoArtwork{}));
    EXPECT_FALSE(harbor.isBuiltIn);
    ASSERT_EQ(harbor.tracks.size(), 1);
    EXPECT_EQ(harbor.tracks.at(0),
              (CalmTrack{QStringLiteral("T1"), QStringLiteral("A1"), QStringLiteral("Harbor"),
                         QStringLiteral("Dock Band"), 184.25, everyMood(), CalmKind::all,
                         FileAudio{root() + QStringLiteral("/A1/01-Harbor.mp3")}}));
    // An album whose tracks are all gone stays.
    const CalmAlbum& gone = store->importedAlbums().at(1);
    EXPECT_TRUE(gone.tracks.isEmpty());
    EXPECT_EQ(gone.artwork, AlbumArtwork(FileArtwork{root() + QStringLiteral("/A2/cover.png")}));

    // Loading alone writes nothing; the next save writes only what is in memory.
    EXPECT_EQ(readFile(indexPath()),
              readFile(QStringLiteral(CALMCOVE_TEST_DATA "/handwritten.json")));
    store->renameAlbum(QStringLiteral("A2"), QStringLiteral("  Still Here \n"));
    EXPECT_EQ(readFile(indexPath()),
              QByteArray(
                  R"([{"id":"A1","name":"Harbor Songs","tracks":[{"id":"T1","title":"Harbor",)"
                  R"("artist":"Dock Band","duration":184.25,"fileName":"01-Harbor.mp3"}]},)"
                  R"({"id":"A2","name":"Still Here","artworkFileName":"cover.png","tracks":[]}])"));
    EXPECT_TRUE(QDir(root()).entryList({QStringLiteral("*.tmp"), QStringLiteral("*~")}).isEmpty());
}

TEST_F(AlbumStoreTest, CreateAlbumSelectsItAndPersists)
{
    const QString picture = m_dir.path() + QStringLiteral("/Front.JPG");
    writeFile(picture, "jpeg bytes");
    {
        const auto store = makeStore();
        QSignalSpy selected(store.get(), &AlbumStore::selectedAlbumIDChanged);
        const auto album = store->createAlbum(QStringLiteral("  Rainy Day  "), picture);
        ASSERT_TRUE(album);
        EXPECT_EQ(album->name, QStringLiteral("Rainy Day"));
        EXPECT_EQ(album->id, album->id.toUpper());
        EXPECT_EQ(album->id.size(), 36);
        EXPECT_EQ(album->artwork, AlbumArtwork(FileArtwork{root() + QLatin1Char('/') + album->id +
                                                           QStringLiteral("/cover.jpg")}));
        EXPECT_EQ(readFile(root() + QLatin1Char('/') + album->id + QStringLiteral("/cover.jpg")),
                  "jpeg bytes");
        EXPECT_EQ(store->statusMessage(), QStringLiteral("Created Rainy Day."));
        EXPECT_EQ(store->selectedAlbumID(), album->id);
        EXPECT_EQ(selected.count(), 1);

        const auto untitled =
            store->createAlbum(QStringLiteral(" \n\t"), m_dir.path() + QStringLiteral("/x.gif"));
        EXPECT_EQ(untitled->name, QStringLiteral("Untitled Album"));
        EXPECT_EQ(untitled->artwork, AlbumArtwork(NoArtwork{}));
        EXPECT_EQ(store->statusMessage(), QStringLiteral("Created Untitled Album."));
    }
    const auto reopened = makeStore();
    ASSERT_EQ(reopened->importedAlbums().size(), 2);
    EXPECT_EQ(reopened->importedAlbums().at(0).name, QStringLiteral("Rainy Day"));
    EXPECT_EQ(reopened->selectedAlbumID(), reopened->importedAlbums().at(1).id);
    EXPECT_TRUE(readFile(indexPath()).contains(R"("artworkFileName":"cover.jpg")"));
}

TEST_F(AlbumStoreTest, RenamesTrimAndFallBackToUntitled)
{
    writeAlbumWithTracks(2);
    const auto store = makeStore();
    store->renameAlbum(QStringLiteral("A1"), QStringLiteral("   "));
    store->renameTrack(QStringLiteral("T2"), QStringLiteral("A1"), QStringLiteral(" "));
    store->renameTrack(QStringLiteral("T1"), QStringLiteral("A1"), QStringLiteral(" Dawn "));
    EXPECT_EQ(store->importedAlbums().at(0).name, QStringLiteral("Untitled Album"));
    EXPECT_EQ(store->importedAlbums().at(0).tracks.at(0).title, QStringLiteral("Dawn"));
    EXPECT_EQ(store->importedAlbums().at(0).tracks.at(1).title, QStringLiteral("Untitled Track"));
    EXPECT_TRUE(store->statusMessage().isNull());
    EXPECT_EQ(makeStore()->importedAlbums(), store->importedAlbums());
}

TEST_F(AlbumStoreTest, EditsAddressedToTheDefaultAlbumOrUnknownIdsChangeNothing)
{
    writeAlbumWithTracks(1);
    const auto store = makeStore();
    const QByteArray before = readFile(indexPath());
    const QList<CalmAlbum> albums = store->albums();
    QSignalSpy imported(store.get(), &AlbumStore::importedAlbumsChanged);
    QSignalSpy builtIn(store.get(), &AlbumStore::builtInAlbumChanged);
    const QString firstTrack = TrackLibrary::tracks().first().id;

    store->renameAlbum(builtInAlbumID, QStringLiteral("Mine"));
    store->deleteAlbum(builtInAlbumID);
    store->renameTrack(firstTrack, builtInAlbumID, QStringLiteral("x"));
    store->deleteTracks({firstTrack}, builtInAlbumID);
    store->renameAlbum(QStringLiteral("nope"), QStringLiteral("x"));
    store->deleteTracks({QStringLiteral("nope")}, QStringLiteral("A1"));
    store->renameTrack(QStringLiteral("nope"), QStringLiteral("A1"), QStringLiteral("x"));

    EXPECT_EQ(store->albums(), albums);
    EXPECT_EQ(imported.count(), 0);
    EXPECT_EQ(builtIn.count(), 0);
    EXPECT_TRUE(store->statusMessage().isNull());
    EXPECT_EQ(readFile(indexPath()), before);
}

TEST_F(AlbumStoreTest, DeletesRemoveFilesKeepOrderAndCount)
{
    writeAlbumWithTracks(4);
    const auto store = makeStore();
    store->deleteTracks({QStringLiteral("T2")}, QStringLiteral("A1"));
    EXPECT_EQ(store->statusMessage(), QStringLiteral("Deleted 1 track."));
    store->deleteTracks({QStringLiteral("T1"), QStringLiteral("T4"), QStringLiteral("nope")},
                        QStringLiteral("A1"));
    EXPECT_EQ(store->statusMessage(), QStringLiteral("Deleted 2 tracks."));
    ASSERT_EQ(store->importedAlbums().at(0).tracks.size(), 1);
    EXPECT_EQ(store->importedAlbums().at(0).tracks.at(0).id, QStringLiteral("T3"));
    EXPECT_EQ(QDir(root() + QStringLiteral("/A1")).entryList(QDir::Files),
              QStringList{QStringLiteral("03-Song.mp3")});
    EXPECT_EQ(makeStore()->importedAlbums().at(0).tracks.size(), 1);

    // Deleting the selected album selects the default album.
    store->setSelectedAlbumID(QStringLiteral("A1"));
    store->deleteAlbum(QStringLiteral("A1"));
    EXPECT_TRUE(store->importedAlbums().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(root() + QStringLiteral("/A1")));
    EXPECT_EQ(store->selectedAlbumID(), QStringLiteral("built-in-calm"));
    EXPECT_EQ(m_defaults.string(QStringLiteral("selectedAlbumID")),
              QStringLiteral("built-in-calm"));
    EXPECT_EQ(readFile(indexPath()), "[]");
}

TEST_F(AlbumStoreTest, StoredSelectionIsRestoredOrFallsBack)
{
    writeAlbumWithTracks(1);
    m_defaults.setValue(QStringLiteral("selectedAlbumID"), QStringLiteral("A1"));
    EXPECT_EQ(makeStore()->selectedAlbumID(), QStringLiteral("A1"));

    m_defaults.setValue(QStringLiteral("selectedAlbumID"), QStringLiteral("GONE"));
    const auto store = makeStore();
    EXPECT_EQ(store->selectedAlbumID(), QStringLiteral("built-in-calm"));
    EXPECT_EQ(m_defaults.string(QStringLiteral("selectedAlbumID")),
              QStringLiteral("built-in-calm"));

    // Every assignment is stored; observers hear only real changes.
    QSignalSpy changed(store.get(), &AlbumStore::selectedAlbumIDChanged);
    m_defaults.remove(QStringLiteral("selectedAlbumID"));
    store->setSelectedAlbumID(QStringLiteral("built-in-calm"));
    EXPECT_EQ(changed.count(), 0);
    EXPECT_EQ(m_defaults.string(QStringLiteral("selectedAlbumID")),
              QStringLiteral("built-in-calm"));
    store->setSelectedAlbumID(QStringLiteral("A1"));
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(store->selectedAlbum().name, QStringLiteral("Harbor"));
}

TEST_F(AlbumStoreTest, UpdateBuiltInTracksReplacesOnlyTheTracks)
{
    const auto store = makeStore();
    QSignalSpy changed(store.get(), &AlbumStore::builtInAlbumChanged);
    QList<CalmTrack> library = TrackLibrary::tracks().mid(0, 2);
    library[0].title = QStringLiteral("Renamed by the library");
    store->updateBuiltInTracks(library);
    EXPECT_EQ(store->builtInAlbum().tracks, library);
    EXPECT_EQ(store->builtInAlbum().name, QStringLiteral("Default album"));
    EXPECT_TRUE(store->builtInAlbum().isBuiltIn);
    EXPECT_EQ(changed.count(), 1);

    store->updateBuiltInTracks({});
    EXPECT_EQ(store->builtInAlbum(), TrackLibrary::builtInAlbum());
    store->updateBuiltInTracks(TrackLibrary::tracks());
    EXPECT_EQ(changed.count(), 2);
}

TEST_F(AlbumStoreTest, UnreadableIndexIsKeptBesideBeforeTheFirstSave)
{
    const QByteArray damaged = R"([{"id":"A1","name":"Precious","tracks":[{"id":"T1")";
    writeFile(indexPath(), damaged);
    const auto store = makeStore();
    EXPECT_TRUE(store->importedAlbums().isEmpty());
    EXPECT_TRUE(keptIndexCopies().isEmpty()); // nothing moves until something would overwrite it

    store->createAlbum(QStringLiteral("New"));
    const QStringList kept = keptIndexCopies();
    ASSERT_EQ(kept.size(), 1);
    EXPECT_EQ(readFile(root() + QLatin1Char('/') + kept.first()), damaged);
    EXPECT_TRUE(store->errorMessage().contains(kept.first()));
    EXPECT_EQ(decodeAlbumIndex(readFile(indexPath()))->size(), 1);

    store->createAlbum(QStringLiteral("Second"));
    EXPECT_EQ(keptIndexCopies().size(), 1);
    EXPECT_TRUE(store->errorMessage().isNull());
}

TEST_F(AlbumStoreTest, UnsafeNamesFromTheIndexAreSkipped)
{
    const QString outside = m_dir.path() + QStringLiteral("/outside.txt");
    writeFile(outside, "keep me");
    writeFile(root() + QStringLiteral("/Safe/ok.mp3"));
    writeFile(root() + QStringLiteral("/Safe/.hidden.mp3"));
    const auto track = [](const char* fileName) {
        return ImportedTrackRecord{QString::fromUtf8(fileName), QStringLiteral("t"),
                                   QStringLiteral("a"), 1, QString::fromUtf8(fileName)};
    };
    QList<ImportedAlbumRecord> albums;
    for (const QString& id :
         {QStringLiteral(".."), QStringLiteral("../.."), QStringLiteral("."), QString(),
          QStringLiteral(" Safe"), QStringLiteral("a:b"), QStringLiteral("a\\b"),
          QString::fromUtf8("nul\0x", 5), QStringLiteral("Tabbed\tName")})
        albums.append({id, QStringLiteral("n"), std::nullopt, {}});
    albums.append(
        {QStringLiteral("Art"), QStringLiteral("n"), QStringLiteral("../../outside.txt"), {}});
    albums.append({QStringLiteral("Safe"),
                   QStringLiteral("n"),
                   std::nullopt,
                   {track("ok.mp3"), track("../../outside.txt"), track(".hidden.mp3"),
                    track("/etc/hostname")}});
    writeFile(indexPath(), *encodeAlbumIndex(albums));

    const auto store = makeStore();
    ASSERT_EQ(store->importedAlbums().size(), 1);
    EXPECT_EQ(store->importedAlbums().at(0).id, QStringLiteral("Safe"));
    ASSERT_EQ(store->importedAlbums().at(0).tracks.size(), 1);
    EXPECT_EQ(store->importedAlbums().at(0).tracks.at(0).id, QStringLiteral("ok.mp3"));

    store->deleteTracks({QStringLiteral("ok.mp3")}, QStringLiteral("Safe"));
    store->deleteAlbum(QStringLiteral("Safe"));
    EXPECT_EQ(readFile(outside), "keep me");
}

TEST_F(AlbumStoreTest, SaveFailureKeepsAlbumsInMemoryAndSaysSo)
{
    writeFile(root()); // a file where the albums folder belongs
    const auto store = makeStore();
    const auto album = store->createAlbum(QStringLiteral("Kept"));
    ASSERT_TRUE(album);
    EXPECT_EQ(store->importedAlbums().size(), 1);
    EXPECT_TRUE(store->errorMessage().startsWith(QStringLiteral("Could not save albums: ")))
        << store->errorMessage().toStdString();
}

} // namespace
} // namespace calmcove
