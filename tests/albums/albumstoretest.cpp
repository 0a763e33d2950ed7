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
    QString root() const { return m_dir.path() + "/Imported Albums"; }
    QString indexPath() const { return root() + "/albums.json"; }

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

    QStringList skippedIndexCopies()
    {
        return QDir(root()).entryList({"albums.json.skipped-*"}, QDir::Files);
    }

    QStringList keptIndexCopies()
    {
        return QDir(root()).entryList({"albums.json.unreadable-*"}, QDir::Files);
    }

    // An album "A1" with tracks T1..Tn whose files exist.
    void writeAlbumWithTracks(int count)
    {
        ImportedAlbumRecord album{"A1", "Harbor", std::nullopt, {}};
        for (int i = 1; i <= count; ++i) {
            const QString fileName = QStringLiteral("0%1-Song.mp3").arg(i);
            album.tracks.append({QStringLiteral("T%1").arg(i), QStringLiteral("Song %1").arg(i),
                                 "Artist", 60.0 + i, fileName});
            writeFile(root() + "/A1/" + fileName);
        }
        writeFile(indexPath(), *encodeAlbumIndex({album}));
    }

    QTemporaryDir m_dir;
    UserDefaults m_defaults{m_dir.path() + "/settings.conf"};
};

TEST_F(AlbumStoreTest, LoadsHandWrittenIndexAndDropsMissingFilesAtNextSave)
{
    writeFile(indexPath(), readFile(QStringLiteral(CALMCOVE_TEST_DATA "/handwritten.json")));
    writeFile(root() + "/A1/01-Harbor.mp3");
    QDir().mkpath(root() + "/A2");

    const auto store = makeStore();
    ASSERT_EQ(store->importedAlbums().size(), 2);
    const CalmAlbum& harbor = store->importedAlbums().at(0);
    EXPECT_EQ(harbor.name, "Harbor Songs");
    EXPECT_EQ(harbor.artwork, AlbumArtwork(NoArtwork{}));
    EXPECT_FALSE(harbor.isBuiltIn);
    ASSERT_EQ(harbor.tracks.size(), 1);
    EXPECT_EQ(harbor.tracks.at(0),
              (CalmTrack{"T1", "A1", "Harbor", "Dock Band", 184.25, everyMood(), CalmKind::all,
                         FileAudio{root() + "/A1/01-Harbor.mp3"}}));
    // An album whose tracks are all gone stays.
    const CalmAlbum& gone = store->importedAlbums().at(1);
    EXPECT_TRUE(gone.tracks.isEmpty());
    EXPECT_EQ(gone.artwork, AlbumArtwork(FileArtwork{root() + "/A2/cover.png"}));

    // Loading alone writes nothing; the next save writes only what is in memory.
    EXPECT_EQ(readFile(indexPath()),
              readFile(QStringLiteral(CALMCOVE_TEST_DATA "/handwritten.json")));
    store->renameAlbum("A2", "  Still Here \n");
    EXPECT_EQ(readFile(indexPath()),
              QByteArray(
                  R"([{"id":"A1","name":"Harbor Songs","tracks":[{"id":"T1","title":"Harbor",)"
                  R"("artist":"Dock Band","duration":184.25,"fileName":"01-Harbor.mp3"}]},)"
                  R"({"id":"A2","name":"Still Here","artworkFileName":"cover.png","tracks":[]}])"));
    EXPECT_TRUE(QDir(root()).entryList({"*.tmp", "*~"}).isEmpty());
}

TEST_F(AlbumStoreTest, CreateAlbumSelectsItAndPersists)
{
    const QString picture = m_dir.path() + "/Front.JPG";
    writeFile(picture, "jpeg bytes");
    {
        const auto store = makeStore();
        QSignalSpy selected(store.get(), &AlbumStore::selectedAlbumIDChanged);
        const auto album = store->createAlbum("  Rainy Day  ", picture);
        ASSERT_TRUE(album);
        EXPECT_EQ(album->name, "Rainy Day");
        EXPECT_EQ(album->id, album->id.toUpper());
        EXPECT_EQ(album->id.size(), 36);
        EXPECT_EQ(album->artwork,
                  AlbumArtwork(FileArtwork{root() + QLatin1Char('/') + album->id + "/cover.jpg"}));
        EXPECT_EQ(readFile(root() + QLatin1Char('/') + album->id + "/cover.jpg"), "jpeg bytes");
        EXPECT_EQ(store->statusMessage(), "Created Rainy Day.");
        EXPECT_EQ(store->selectedAlbumID(), album->id);
        EXPECT_EQ(selected.count(), 1);

        const auto untitled = store->createAlbum(" \n\t", m_dir.path() + "/x.gif");
        EXPECT_EQ(untitled->name, "Untitled Album");
        EXPECT_EQ(untitled->artwork, AlbumArtwork(NoArtwork{}));
        EXPECT_EQ(store->statusMessage(), "Created Untitled Album.");
    }
    const auto reopened = makeStore();
    ASSERT_EQ(reopened->importedAlbums().size(), 2);
    EXPECT_EQ(reopened->importedAlbums().at(0).name, "Rainy Day");
    EXPECT_EQ(reopened->selectedAlbumID(), reopened->importedAlbums().at(1).id);
    EXPECT_TRUE(readFile(indexPath()).contains(R"("artworkFileName":"cover.jpg")"));
}

TEST_F(AlbumStoreTest, RenamesTrimAndEditsOfTheDefaultAlbumOrUnknownIdsChangeNothing)
{
    writeAlbumWithTracks(2);
    const auto store = makeStore();
    const QByteArray before = readFile(indexPath());
    const QList<CalmAlbum> albums = store->albums();
    QSignalSpy imported(store.get(), &AlbumStore::importedAlbumsChanged);
    QSignalSpy builtIn(store.get(), &AlbumStore::builtInAlbumChanged);
    const QString firstTrack = TrackLibrary::tracks().first().id;
    store->renameAlbum(builtInAlbumID, "Mine");
    store->deleteAlbum(builtInAlbumID);
    store->renameTrack(firstTrack, builtInAlbumID, "x");
    store->deleteTracks({firstTrack}, builtInAlbumID);
    store->renameAlbum("nope", "x");
    store->deleteTracks({"nope"}, "A1");
    store->renameTrack("nope", "A1", "x");
    EXPECT_EQ(store->albums(), albums);
    EXPECT_EQ(imported.count() + builtIn.count(), 0);
    EXPECT_EQ(readFile(indexPath()), before);

    store->renameAlbum("A1", "   ");
    store->renameTrack("T2", "A1", " ");
    store->renameTrack("T1", "A1", " Dawn ");
    EXPECT_EQ(store->importedAlbums().at(0).name, "Untitled Album");
    EXPECT_EQ(store->importedAlbums().at(0).tracks.at(0).title, "Dawn");
    EXPECT_EQ(store->importedAlbums().at(0).tracks.at(1).title, "Untitled Track");
    EXPECT_TRUE(store->statusMessage().isNull());
    EXPECT_EQ(makeStore()->importedAlbums(), store->importedAlbums());
}

TEST_F(AlbumStoreTest, DeletesRemoveFilesKeepOrderAndCount)
{
    writeAlbumWithTracks(4);
    const auto store = makeStore();
    store->deleteTracks({"T2"}, "A1");
    EXPECT_EQ(store->statusMessage(), "Deleted 1 track.");
    store->deleteTracks({"T1", "T4", "nope"}, "A1");
    EXPECT_EQ(store->statusMessage(), "Deleted 2 tracks.");
    ASSERT_EQ(store->importedAlbums().at(0).tracks.size(), 1);
    EXPECT_EQ(store->importedAlbums().at(0).tracks.at(0).id, "T3");
    EXPECT_EQ(QDir(root() + "/A1").entryList(QDir::Files), QStringList{"03-Song.mp3"});
    EXPECT_EQ(makeStore()->importedAlbums().at(0).tracks.size(), 1);

    // Deleting the selected album selects the default album.
    store->setSelectedAlbumID("A1");
    store->deleteAlbum("A1");
    EXPECT_TRUE(store->importedAlbums().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(root() + "/A1"));
    EXPECT_EQ(store->selectedAlbumID(), "built-in-calm");
    EXPECT_EQ(m_defaults.string("selectedAlbumID"), "built-in-calm");
    EXPECT_EQ(readFile(indexPath()), "[]");
}

TEST_F(AlbumStoreTest, StoredSelectionIsRestoredOrFallsBack)
{
    writeAlbumWithTracks(1);
    m_defaults.setValue("selectedAlbumID", "A1");
    EXPECT_EQ(makeStore()->selectedAlbumID(), "A1");

    m_defaults.setValue("selectedAlbumID", "GONE");
    const auto store = makeStore();
    EXPECT_EQ(store->selectedAlbumID(), "built-in-calm");
    EXPECT_EQ(m_defaults.string("selectedAlbumID"), "built-in-calm");

    // Every assignment is stored; observers hear only real changes.
    QSignalSpy changed(store.get(), &AlbumStore::selectedAlbumIDChanged);
    m_defaults.remove("selectedAlbumID");
    store->setSelectedAlbumID("built-in-calm");
    EXPECT_EQ(changed.count(), 0);
    EXPECT_EQ(m_defaults.string("selectedAlbumID"), "built-in-calm");
    store->setSelectedAlbumID("A1");
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(store->selectedAlbum().name, "Harbor");
}

TEST_F(AlbumStoreTest, WithNothingStoredTheDefaultAlbumFollowsTheLibrary)
{
    const auto store = makeStore();
    EXPECT_EQ(store->albums(), QList<CalmAlbum>{TrackLibrary::builtInAlbum()});
    EXPECT_EQ(store->selectedAlbum().id, "built-in-calm");
    EXPECT_TRUE(store->statusMessage().isNull());
    EXPECT_TRUE(store->errorMessage().isNull());
    EXPECT_FALSE(QFile::exists(indexPath()));

    // The library replaces only the tracks; without any, the default album is as shipped.
    QSignalSpy changed(store.get(), &AlbumStore::builtInAlbumChanged);
    QList<CalmTrack> library = TrackLibrary::tracks().mid(0, 2);
    library[0].title = "Renamed by the library";
    store->updateBuiltInTracks(library);
    EXPECT_EQ(store->builtInAlbum().tracks, library);
    EXPECT_EQ(store->builtInAlbum().name, "Default album");
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

    store->createAlbum("New");
    const QStringList kept = keptIndexCopies();
    ASSERT_EQ(kept.size(), 1);
    EXPECT_EQ(readFile(root() + QLatin1Char('/') + kept.first()), damaged);
    EXPECT_TRUE(store->errorMessage().contains(kept.first()));
    EXPECT_EQ(decodeAlbumIndex(readFile(indexPath()))->size(), 1);

    store->createAlbum("Second");
    EXPECT_EQ(keptIndexCopies().size(), 1);
    EXPECT_TRUE(store->errorMessage().isNull());
}

TEST_F(AlbumStoreTest, UnsafeNamesFromTheIndexAreSkipped)
{
    const QString outside = m_dir.path() + "/outside.txt";
    writeFile(outside, "keep me");
    writeFile(root() + "/Safe/ok.mp3");
    writeFile(root() + "/Safe/.hidden.mp3");
    const auto track = [](const char* name) {
        return ImportedTrackRecord{name, "t", "a", 1, name};
    };
    QList<ImportedAlbumRecord> albums;
    for (const QString& id : QStringList{"..", "../..", ".", "", " Safe", "a:b", "a\\b",
                                         QString::fromUtf8("nul\0x", 5), "Tabbed\tName"})
        albums.append({id, "n", std::nullopt, {}});
    albums.append({"Art", "n", "../../outside.txt", {}});
    albums.append({"Safe",
                   "n",
                   std::nullopt,
                   {track("ok.mp3"), track("../../outside.txt"), track(".hidden.mp3"),
                    track("/etc/hostname")}});
    writeFile(indexPath(), *encodeAlbumIndex(albums));
    const QByteArray original = readFile(indexPath());

    const auto store = makeStore();
    ASSERT_EQ(store->importedAlbums().size(), 1);
    EXPECT_EQ(store->importedAlbums().at(0).id, "Safe");
    ASSERT_EQ(store->importedAlbums().at(0).tracks.size(), 1);
    EXPECT_EQ(store->importedAlbums().at(0).tracks.at(0).id, "ok.mp3");

    // The skipped records leave the index at the first save, but not without a copy.
    EXPECT_TRUE(skippedIndexCopies().isEmpty());
    store->deleteTracks({"ok.mp3"}, "Safe");
    ASSERT_EQ(skippedIndexCopies().size(), 1);
    EXPECT_EQ(readFile(root() + "/" + skippedIndexCopies().first()), original);
    store->deleteAlbum("Safe");
    EXPECT_EQ(skippedIndexCopies().size(), 1); // once
    EXPECT_EQ(readFile(outside), "keep me");
}

TEST_F(AlbumStoreTest, OfAlbumsSharingAnIdOnlyTheFirstIsKept)
{
    writeFile(root() + "/Same/first.mp3");
    writeFile(root() + "/Same/second.mp3");
    const auto album = [](const char* name, const char* file) {
        return ImportedAlbumRecord{"Same", name, std::nullopt, {{file, "t", "a", 1, file}}};
    };
    writeFile(indexPath(),
              *encodeAlbumIndex({album("First", "first.mp3"), album("Second", "second.mp3"),
                                 album("Third", "second.mp3")}));
    const QByteArray original = readFile(indexPath());

    const auto store = makeStore();
    ASSERT_EQ(store->importedAlbums().size(), 1);
    EXPECT_EQ(store->importedAlbums().at(0).name, "First");
    store->renameAlbum("Same", "Renamed");
    ASSERT_EQ(skippedIndexCopies().size(), 1);
    EXPECT_EQ(readFile(root() + "/" + skippedIndexCopies().first()), original);
    // Deleting the one album left deletes only its folder, once.
    store->deleteAlbum("Same");
    EXPECT_EQ(*decodeAlbumIndex(readFile(indexPath())), QList<ImportedAlbumRecord>());
}

TEST_F(AlbumStoreTest, AnIndexChangedOnDiskSinceItWasReadIsNeverOverwritten)
{
    writeAlbumWithTracks(1);
    const auto store = makeStore();
    const auto other = makeStore();
    store->renameAlbum("A1", "Mine");
    EXPECT_TRUE(store->errorMessage().isNull());
    const QByteArray saved = readFile(indexPath());

    // The other writer read the index before this save: its own save is refused, and the
    // refusal is said.
    other->renameAlbum("A1", "Theirs");
    EXPECT_EQ(other->errorMessage(),
              "Could not save albums: albums.json was changed by another program since "
              "Calmcove read it, so it was left unchanged.");
    EXPECT_EQ(readFile(indexPath()), saved);
    // The writer that saved last still saves.
    store->renameAlbum("A1", "Mine Again");
    EXPECT_TRUE(store->errorMessage().isNull());
    EXPECT_TRUE(readFile(indexPath()).contains("Mine Again"));
}

TEST_F(AlbumStoreTest, PartialFilesOfAKilledRunAreRemovedAtLaunch)
{
    writeAlbumWithTracks(1);
    writeFile(root() + "/A1/.01-Song.mp3.partial", "half");
    writeFile(root() + "/A1/.cover.png.partial", "half");
    writeFile(root() + "/.partial/Calmcove-1234.download", "half");
    writeFile(root() + "/.partial/Calmcove-5678/0001.part", "half");

    const auto store = makeStore();
    EXPECT_EQ(QDir(root() + "/A1").entryList(QDir::Files | QDir::Hidden),
              QStringList({"01-Song.mp3"}));
    EXPECT_FALSE(QFileInfo::exists(root() + "/.partial"));
    EXPECT_EQ(store->importedAlbums().at(0).tracks.size(), 1);
}

TEST_F(AlbumStoreTest, SaveFailureKeepsAlbumsInMemoryAndSaysSo)
{
    writeFile(root()); // a file where the albums folder belongs
    const auto store = makeStore();
    const auto album = store->createAlbum("Kept");
    ASSERT_TRUE(album);
    EXPECT_EQ(store->importedAlbums().size(), 1);
    EXPECT_TRUE(store->errorMessage().startsWith("Could not save albums: "))
        << store->errorMessage().toStdString();
}

} // namespace
} // namespace calmcove
