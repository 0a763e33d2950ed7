#include "launchoptions.h"

#include "appversion.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QUrl>

namespace calmcove {

QStringList LaunchOptions::handOverArguments() const
{
    QStringList arguments = openArguments;
    if (showPanel)
        arguments.append(showPanelArgument);
    if (showAlbumManager)
        arguments.append(showAlbumManagerArgument);
    if (updateLibrary)
        arguments.append(updateLibraryArgument);
    return arguments;
}

HandedOverArguments splitHandedOverArguments(const QStringList& arguments)
{
    HandedOverArguments split{arguments};
    split.showPanel = split.open.removeAll(showPanelArgument) > 0;
    split.showAlbumManager = split.open.removeAll(showAlbumManagerArgument) > 0;
    split.updateLibrary = split.open.removeAll(updateLibraryArgument) > 0;
    return split;
}

std::variant<LaunchOptions, LaunchExit> parseLaunchOptions(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Calmcove plays calm instrumental music from the system tray."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the version and exit."));
    const QCommandLineOption headless(
        QStringLiteral("headless"),
        QStringLiteral("Run without tray icon and windows; everything else runs as usual."));
    const QCommandLineOption audioOutput(QStringLiteral("audio-output"),
                                         QStringLiteral("Sound output: pulse (default) or null."),
                                         QStringLiteral("pulse|null"), QStringLiteral("pulse"));
    const QCommandLineOption setting(
        QStringLiteral("setting"),
        QStringLiteral("Override a settings key for this run only (repeatable); "
                       "nothing is written to disk."),
        QStringLiteral("KEY=VALUE"));
    const QCommandLineOption panel(showPanelArgument.mid(2),
                                   QStringLiteral("Open the player panel, also in a Calmcove "
                                                  "that already runs."));
    const QCommandLineOption albums(
        QStringLiteral("albums"),
        QStringLiteral("Open the album manager (in the running Calmcove, if there is one)."));
    const QCommandLineOption updateLibrary(
        updateLibraryArgument.mid(2),
        QStringLiteral("Complete or update the track library now (a running Calmcove does it; "
                       "otherwise Calmcove starts and does it as usual)."));
    parser.addOptions(
        {help, version, headless, audioOutput, setting, panel, albums, updateLibrary});
    parser.addPositionalArgument(
        QStringLiteral("files"),
        QStringLiteral("Audio files and folders to import, and http(s) links to audio files. "
                       "When Calmcove already runs, they are handed to it."),
        QStringLiteral("[FILE|FOLDER|URL...]"));

    const QString usageError = QStringLiteral("\nRun 'calmcove --help' for the options.\n");
    if (!parser.parse(arguments))
        return LaunchExit{2, QStringLiteral("calmcove: ") + parser.errorText() + usageError, true};
    if (parser.isSet(help)) {
        // Without an application object Qt names the program "<executable_name>".
        const QString text = parser.helpText();
        return LaunchExit{0,
                          QStringLiteral("Usage: calmcove [options] [FILE|FOLDER|URL...]") +
                              text.mid(text.indexOf(QLatin1Char('\n'))),
                          false};
    }
    if (parser.isSet(version))
        return LaunchExit{0, QStringLiteral("calmcove ") + appVersion() + QLatin1Char('\n'), false};

    LaunchOptions options;
    options.headless = parser.isSet(headless);
    options.showPanel = parser.isSet(panel);
    options.audioOutput = parser.value(audioOutput);
    if (options.audioOutput != QLatin1String("pulse") &&
        options.audioOutput != QLatin1String("null"))
        return LaunchExit{2,
                          QStringLiteral("calmcove: unknown audio output '%1' (use pulse or null).")
                                  .arg(options.audioOutput) +
                              usageError,
                          true};
    options.settingOverrides = parser.values(setting);
    options.showAlbumManager = parser.isSet(albums);
    options.updateLibrary = parser.isSet(updateLibrary);
    for (const QString& assignment : options.settingOverrides) {
        if (assignment.indexOf(QLatin1Char('=')) <= 0)
            return LaunchExit{
                2,
                QStringLiteral("calmcove: --setting wants KEY=VALUE, not '%1'.").arg(assignment) +
                    usageError,
                true};
    }
    for (const QString& argument : parser.positionalArguments())
        options.openArguments.append(openArgument(argument));
    return options;
}

QString openArgument(const QString& argument)
{
    const QUrl url(argument);
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("http") || scheme == QLatin1String("https"))
        return argument;
    if (scheme == QLatin1String("file"))
        return url.toLocalFile();
    return QFileInfo(argument).absoluteFilePath();
}

} // namespace calmcove
