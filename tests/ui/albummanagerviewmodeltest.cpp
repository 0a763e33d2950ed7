// The album manager's logic without a window, over the real stores and player: the
// duration and metadata texts, search, keyboard commands on the default and imported
// albums, album renames, confirmed deletes and file sizes (track renames and drops go
// through the window's tests).

#include "ui/albummanagerviewmodel.h"
#include "albummanagerworld.h"
#include "support/qtprinters.h"

#include <gtest/gtest.h>
#include <limits>

namespace calmcove {
namespace {

using Command = AlbumManagerKeyboardCommand;

TEST(AlbumManagerTextsTest, DurationsAndMetadata)
{
    const struct
    {
        double seconds;
        const char* text;
    } durations[] = {{0, "--:--"},
                     {-3, "--:--"},
                     {std::numeric_limits<double>::quiet_NaN(), "--:--"},
                     {std::numeric_limits<double>::infinity(), "--:--"},
                     {0.4, "0:00"},
                     {0.5, "0:01"},
                     {59.5, "1:00"},
                     {2463, "41:03"},
                     {3599.4, "59:59"},
                     {3599.5, "1:00:00"},
                     {3725, "1:02:05"},
                     {36000, "10:00:00"}};
    for (const auto& [seconds, text] : durations)
        EXPECT_EQ(AlbumManagerViewModel::formatDuration(seconds), text) << seconds;

    CalmAlbum album;
    album.name = "Rain";
    EXPECT_EQ(AlbumManagerViewModel::albumMetadata(album), "0 songs  |  Local  |  --:--");
    album.name = "URL Imports";
    CalmTrack track;
    track.duration = 1800;
    album.tracks << track;
    track.duration = 663;
    album.tracks << track;
    EXPECT_EQ(AlbumManagerViewModel::albumMetadata(album), "2 songs  |  URL  |  41:03");
    album.isBuiltIn = true;
    album.tracks.clear();
    EXPECT_EQ(AlbumManagerViewModel::albumMetadata(album), "0 songs  |  Default album  |  --:--");

    track.source = FileAudio{"/a/b.flac"};
    EXPECT_EQ(AlbumManagerViewModel::formatName(track), "FLAC");
    track.source = BundledAudio{"x"};
    EXPECT_EQ(AlbumManagerViewModel::formatName(track), "M4A");
}

class AlbumManagerViewModelTest : public ::testing::Test
{
protected:
    test::AlbumManagerWorld world;
    AlbumManagerViewModel model{world.controller.get(), &world.albumStore, &world.audioPackStore,
                                world.dialogs};
};

TEST_F(AlbumManagerViewModelTest, SearchIgnoresCaseDiacriticsAndSurroundingSpace)
{
    EXPECT_EQ(model.importedSectionEmptyText(), "No imported albums");
    world.albumStore.createAlbum("Café Nights");
    world.albumStore.createAlbum("Morning");
    const auto names = [&] {
        QStringList result;
        for (const CalmAlbum& album : model.filteredImportedAlbums())
            result << album.name;
        return result;
    };
    for (const char* query : {"cafe", "  CAFÉ \n", "fé n"}) {
        model.setSearchText(QString::fromUtf8(query));
        EXPECT_EQ(names(), QStringList{"Café Nights"}) << query;
    }
    model.setSearchText("   ");
    EXPECT_EQ(names(), QStringList({"Café Nights", "Morning"}));
    model.setSearchText("jazz");
    EXPECT_EQ(names(), QStringList());
    EXPECT_EQ(model.importedSectionEmptyText(), "No matches");
}

TEST_F(AlbumManagerViewModelTest, BuiltInAlbumRefusesRenameAndDelete)
{
    ASSERT_TRUE(model.selectedAlbum().isBuiltIn);
    EXPECT_TRUE(model.handleKeyboardCommand(Command::rename));
    EXPECT_FALSE(model.renamingSidebarAlbumID());
    EXPECT_TRUE(model.handleKeyboardCommand(Command::remove));
    EXPECT_TRUE(world.dialogs.asked.isEmpty());

    // With built-in tracks selected, neither a track rename nor a delete question.
    model.setSelectedTrackIDs({world.albumStore.builtInAlbum().tracks.first().id});
    EXPECT_TRUE(model.handleKeyboardCommand(Command::rename));
    EXPECT_FALSE(model.renamingTrackID());
    EXPECT_TRUE(model.handleKeyboardCommand(Command::remove));
    EXPECT_TRUE(world.dialogs.asked.isEmpty());
    EXPECT_FALSE(model.canDeleteSelectedTracks());
    EXPECT_FALSE(model.handleKeyboardCommand(Command::cancel)); // Escape passes on
}

TEST_F(AlbumManagerViewModelTest, EscapeCancelsARenameAndIsOtherwiseNotUsed)
{
    const CalmAlbum album = world.importAlbum("Rain", 1);
    EXPECT_FALSE(model.handleKeyboardCommand(Command::cancel));
    ASSERT_TRUE(model.handleKeyboardCommand(Command::rename)); // no track selected: the album
    EXPECT_EQ(model.renamingSidebarAlbumID(), album.id);
    EXPECT_EQ(model.activeKeyboardArea(), AlbumManagerKeyboardArea::albums);
    EXPECT_EQ(model.focusedField(),
              (AlbumManagerFocus{AlbumManagerFocus::Field::sidebarAlbumName, album.id}));
    model.setSidebarRenameText("Changed my mind");
    EXPECT_TRUE(model.handleKeyboardCommand(Command::cancel));
    EXPECT_FALSE(model.renamingSidebarAlbumID());
    EXPECT_FALSE(model.focusedField());
    EXPECT_EQ(world.album(album.id).name, "Rain");
    EXPECT_FALSE(model.handleKeyboardCommand(Command::cancel));
}

TEST_F(AlbumManagerViewModelTest, RenamingAnotherAlbumSelectsItForThePlayer)
{
    const CalmAlbum rain = world.importAlbum("Rain", 1);
    const CalmAlbum snow = world.importAlbum("Snow", 1);
    model.selectAlbum(rain.id);
    model.beginRenamingAlbum(snow);
    EXPECT_EQ(world.albumStore.selectedAlbumID(), snow.id);
    EXPECT_EQ(world.controller->currentTrack().albumID, snow.id);
    model.setSidebarRenameText("  Fresh Snow  ");
    model.commitSidebarRename();
    EXPECT_EQ(world.album(snow.id).name, "Fresh Snow");
}

TEST_F(AlbumManagerViewModelTest, DeletesOnlyAfterConfirmation)
{
    const CalmAlbum album = world.importAlbum("Rain", 3);
    model.selectAlbum(album.id);
    model.setSelectedTrackIDs({album.tracks[0].id, album.tracks[2].id});

    world.dialogs.confirm = false;
    EXPECT_TRUE(model.handleKeyboardCommand(Command::remove));
    EXPECT_EQ(world.dialogs.asked, QStringList{"tracks:2"});
    EXPECT_EQ(world.album(album.id).tracks.size(), 3);

    world.dialogs.confirm = true;
    model.handleKeyboardCommand(Command::remove);
    ASSERT_EQ(world.album(album.id).tracks.size(), 1);
    EXPECT_EQ(world.album(album.id).tracks[0].id, album.tracks[1].id);
    EXPECT_TRUE(model.selectedTrackIDs().isEmpty());
    EXPECT_EQ(world.controller->currentTrack().id, album.tracks[1].id);

    model.handleKeyboardCommand(Command::remove); // no selection: the album
    EXPECT_EQ(world.dialogs.asked.last(), "album:Rain");
    EXPECT_FALSE(model.albumPendingDeletion());
    EXPECT_TRUE(world.albumStore.importedAlbums().isEmpty());
    EXPECT_TRUE(model.selectedAlbum().isBuiltIn);
}

TEST_F(AlbumManagerViewModelTest, SizesOfFilesAndOfTheLibrarysOwnTracks)
{
    const CalmAlbum album = world.importAlbum("Rain", 1);
    const CalmTrack track = album.tracks.first();
    const qint64 bytes = QFileInfo(std::get<FileAudio>(track.source).path).size();
    EXPECT_EQ(model.fileSizeName(track),
              QLocale().formattedDataSize(bytes, 1, QLocale::DataSizeSIFormat));
    QFile::remove(std::get<FileAudio>(track.source).path);
    EXPECT_EQ(model.fileSizeName(track), "--");

    // A starter track is read from the starter copy shipped beside the program.
    CalmTrack starter = world.albumStore.builtInAlbum().tracks.first();
    const auto path =
        world.audioPackStore.starterPath(std::get<BundledAudio>(starter.source).resourceName);
    if (path) {
        EXPECT_NE(model.fileSizeName(starter), "--");
    }
    starter.source = BundledAudio{"no-such-track"};
    EXPECT_EQ(model.fileSizeName(starter), "--");
}

} // namespace
} // namespace calmcove
