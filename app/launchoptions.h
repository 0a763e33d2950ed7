#pragma once

// The command line of the calmcove executable.

#include <QString>
#include <QStringList>
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
    // Complete or update the track library now rather than at the next hourly pass.
    bool updateLibrary = false;
    // Headless only because no display was found; said by the process that really runs.
    bool displayMissing = false;

    bool operator==(const LaunchOptions&) const = default;
};

// What to print and the exit status, for --help, --version and bad command lines.
struct LaunchExit
{
    int status = 0;
    QString text;
    bool toStandardError = false;
};

// What a later launch hands to the running Calmcove: the paths and links to open, and
// `updateLibraryArgument` when asked to. Paths are absolute, so no path looks like an option.
inline const QString updateLibraryArgument = QStringLiteral("--update-library");
QStringList handOverArguments(const LaunchOptions& options);

// `arguments` includes the program name first. Relative paths are made absolute against
// the current directory, and file: URLs become paths.
std::variant<LaunchOptions, LaunchExit> parseLaunchOptions(const QStringList& arguments);

} // namespace calmcove
