// The command line of the executable.

#include "app/launchoptions.h"

#include "support/qtprinters.h"

#include <gtest/gtest.h>
#include <QDir>

namespace calmcove {
namespace {

std::variant<LaunchOptions, LaunchExit> parse(QStringList arguments)
{
    arguments.prepend(QStringLiteral("calmcove"));
    return parseLaunchOptions(arguments);
}

TEST(LaunchOptionsTest, ParsesOptionsAndRepeatedSettings)
{
    const auto parsed =
        parse({QStringLiteral("--headless"), QStringLiteral("--audio-output=null"),
               QStringLiteral("--setting"), QStringLiteral("volume=0.5"),
               QStringLiteral("--setting=CalmcoveAudioPackIndexURL=https://x/index.json?a=b")});
    ASSERT_TRUE(std::holds_alternative<LaunchOptions>(parsed));
    const auto& options = std::get<LaunchOptions>(parsed);
    EXPECT_TRUE(options.headless);
    EXPECT_EQ(options.audioOutput, QStringLiteral("null"));
    EXPECT_EQ(options.settingOverrides,
              QStringList({QStringLiteral("volume=0.5"),
                           QStringLiteral("CalmcoveAudioPackIndexURL=https://x/index.json?a=b")}));

    EXPECT_EQ(std::get<LaunchOptions>(parse({})), LaunchOptions{});
}

TEST(LaunchOptionsTest, FilesFoldersAndLinksToOpen)
{
    const auto parsed = parse({QStringLiteral("music/Sunday"), QStringLiteral("/abs/song.mp3"),
                               QStringLiteral("file:///abs/other%20song.flac"),
                               QStringLiteral("https://example.org/a.mp3"),
                               QStringLiteral("HTTP://example.org/b.mp3")});
    EXPECT_EQ(std::get<LaunchOptions>(parsed).openArguments,
              QStringList({QDir::currentPath() + QStringLiteral("/music/Sunday"),
                           QStringLiteral("/abs/song.mp3"), QStringLiteral("/abs/other song.flac"),
                           QStringLiteral("https://example.org/a.mp3"),
                           QStringLiteral("HTTP://example.org/b.mp3")}));
}

TEST(LaunchOptionsTest, WindowRequestsTravelWithTheFilesToTheRunningInstance)
{
    const auto parsed = parse({QStringLiteral("--albums"), QStringLiteral("/abs/--albums")});
    const auto& options = std::get<LaunchOptions>(parsed);
    EXPECT_TRUE(options.showAlbumManager);
    // A file named like the option stays a file: handed-over paths are absolute.
    EXPECT_EQ(options.handOverArguments(),
              QStringList({QStringLiteral("/abs/--albums"), QStringLiteral("--albums")}));
    const HandedOverArguments albums = splitHandedOverArguments(options.handOverArguments());
    EXPECT_EQ(albums.open, QStringList{QStringLiteral("/abs/--albums")});
    EXPECT_TRUE(albums.showAlbumManager);
    EXPECT_FALSE(albums.updateLibrary);
    EXPECT_FALSE(albums.showPanel);

    const auto both = std::get<LaunchOptions>(
        parse({QStringLiteral("--update-library"), QStringLiteral("/abs/a.mp3")}));
    EXPECT_TRUE(both.updateLibrary);
    const HandedOverArguments handed = splitHandedOverArguments(both.handOverArguments());
    EXPECT_EQ(handed.open, QStringList{QStringLiteral("/abs/a.mp3")});
    EXPECT_TRUE(handed.updateLibrary);
    EXPECT_FALSE(handed.showAlbumManager);

    const auto panel = std::get<LaunchOptions>(parse({QStringLiteral("--panel")}));
    EXPECT_TRUE(panel.showPanel);
    EXPECT_TRUE(splitHandedOverArguments(panel.handOverArguments()).showPanel);
    EXPECT_TRUE(splitHandedOverArguments(panel.handOverArguments()).open.isEmpty());

    const auto plain = std::get<LaunchOptions>(parse({QStringLiteral("/abs/a.mp3")}));
    EXPECT_EQ(plain.handOverArguments(), QStringList{QStringLiteral("/abs/a.mp3")});
    EXPECT_FALSE(splitHandedOverArguments(plain.handOverArguments()).showAlbumManager);
}

TEST(LaunchOptionsTest, HelpVersionAndMistakes)
{
    const auto version = std::get<LaunchExit>(parse({QStringLiteral("--version")}));
    EXPECT_EQ(version.status, 0);
    EXPECT_TRUE(version.text.startsWith(QStringLiteral("calmcove ")));
    const auto help = std::get<LaunchExit>(parse({QStringLiteral("--help")}));
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.text.startsWith(QStringLiteral("Usage: calmcove [options] ")));
    EXPECT_TRUE(help.text.contains(QStringLiteral("--setting")));

    for (const QStringList& wrong :
         {QStringList{QStringLiteral("--audio-output=alsa")},
          QStringList{QStringLiteral("--bogus")},
          QStringList{QStringLiteral("--setting"), QStringLiteral("novalue")},
          QStringList{QStringLiteral("--setting"), QStringLiteral("=x")},
          QStringList{QStringLiteral("--setting")}}) {
        const auto parsed = parse(wrong);
        ASSERT_TRUE(std::holds_alternative<LaunchExit>(parsed)) << wrong.join(' ').toStdString();
        EXPECT_EQ(std::get<LaunchExit>(parsed).status, 2);
        EXPECT_TRUE(std::get<LaunchExit>(parsed).toStandardError);
    }
}

} // namespace
} // namespace calmcove
