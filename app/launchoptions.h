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
    // --albums: open the album manager window.
    bool showAlbumManager = false;

    // What a later launch hands to the running instance: the open arguments, and
    // showAlbumManagerArgument when the album manager is asked for.
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

// Handed over to ask the running instance for the album manager. Handed-over paths are
// absolute, so no file can be mistaken for it.
inline const QString showAlbumManagerArgument = QStringLiteral("--albums");

// Splits handed-over arguments into the files and links to open and whether the album
// manager was asked for.
std::pair<QStringList, bool> splitHandedOverArguments(const QStringList& arguments);

// `arguments` includes the program name first. Relative paths are made absolute against
// the current directory, and file: URLs become paths.
std::variant<LaunchOptions, LaunchExit> parseLaunchOptions(const QStringList& arguments);

} // namespace calmcove
