#pragma once

// The command line of the calmcove executable.

#include <QString>
#include <QStringList>
#include <utility>
#include <variant>

namespace calmcove {

struct LaunchOptions
{
    // No tray and no windows; every store and controller runs as usual.
    bool headless = false;
    // "pulse" or "null".
    QString audioOutput = QStringLiteral("pulse");
    // "KEY=VALUE" overrides of settings keys for this run only.
    QStringList settingOverrides;
    // Files, folders (absolute paths) and http(s) links to import.
    QStringList openArguments;
    // --panel: open the player panel (also in a Calmcove that already runs).
    bool showPanel = false;
    // --albums: open the album manager window.
    bool showAlbumManager = false;
    // --update-library: complete or update the track library now rather than at the next
    // hourly pass.
    bool updateLibrary = false;
    // Headless only because no display was found; said by the process that really runs.
    bool displayMissing = false;

    // What a later launch hands to the running instance: the open arguments, and
    // showPanelArgument, showAlbumManagerArgument and updateLibraryArgument when asked
    // for.
    QStringList handOverArguments() const;

    bool operator==(const LaunchOptions&) const = default;
};

// What to print and the exit status, for --help, --version and bad command lines.
struct LaunchExit
{
    int status = 0;
    QString text;
    bool toStandardError = false;
};

// Handed over to ask the running instance for the panel or the album manager. Handed-over paths are
// absolute, so no file can be mistaken for it.
inline const QString showPanelArgument = QStringLiteral("--panel");
inline const QString showAlbumManagerArgument = QStringLiteral("--albums");
inline const QString updateLibraryArgument = QStringLiteral("--update-library");

struct HandedOverArguments
{
    QStringList open; // files and links
    bool showPanel = false;
    bool showAlbumManager = false;
    bool updateLibrary = false;
};
HandedOverArguments splitHandedOverArguments(const QStringList& arguments);

// `arguments` includes the program name first. Relative paths are made absolute against
// the current directory, and file: URLs become paths.
std::variant<LaunchOptions, LaunchExit> parseLaunchOptions(const QStringList& arguments);

// One thing to open as the command line takes it: http(s) links as they are, file: URLs
// as paths, other paths made absolute.
QString openArgument(const QString& argument);

} // namespace calmcove
