// The calmcove executable: parses the command line, makes the Qt application object and
// the application root, and runs the event loop until the user quits or a signal arrives.

#include "app/appversion.h"
#include "app/calmcoveapplication.h"

#include <cstdio>
#include <memory>
#include <QApplication>

namespace {

bool hasDisplay()
{
    return qEnvironmentVariableIsSet("DISPLAY") || qEnvironmentVariableIsSet("WAYLAND_DISPLAY") ||
           qEnvironmentVariableIsSet("QT_QPA_PLATFORM");
}

} // namespace

int main(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);

    const auto parsed = calmcove::parseLaunchOptions(arguments);
    if (const auto* exit = std::get_if<calmcove::LaunchExit>(&parsed)) {
        std::fputs(exit->text.toLocal8Bit().constData(), exit->toStandardError ? stderr : stdout);
        return exit->status;
    }
    calmcove::LaunchOptions options = std::get<calmcove::LaunchOptions>(parsed);
    if (!options.headless && !hasDisplay()) {
        options.headless = true;
        options.displayMissing = true;
    }

    std::unique_ptr<QCoreApplication> app;
    if (options.headless)
        app = std::make_unique<QCoreApplication>(argc, argv);
    else
        app = std::make_unique<QApplication>(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Calmcove"));
    QCoreApplication::setApplicationName(QStringLiteral("Calmcove"));
    QCoreApplication::setApplicationVersion(calmcove::appVersion());

    calmcove::CalmcoveApplication root(options);
    if (!root.start())
        return 0;
    return app->exec();
}
