// The calmcove executable: parses the command line, makes the Qt application object and
// the runtime, and runs the event loop until the user quits or a signal arrives.

#include "albums/albumstore.h"
#include "app/appversion.h"
#include "app/calmcoveruntime.h"
#include "platform/apppaths.h"
#include "platform/networkinformationmonitor.h"
#include "platform/singleinstance.h"
#include "platform/unixsignalwatcher.h"
#include "platform/userdefaults.h"
#include "ui/qtimportdialogs.h"

#include <cstdio>
#include <memory>
#include <QApplication>
#include <QTimer>

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
        std::fputs("calmcove: no graphical display found; running headless.\n", stderr);
        options.headless = true;
    }

    std::unique_ptr<QCoreApplication> app;
    if (options.headless)
        app = std::make_unique<QCoreApplication>(argc, argv);
    else
        app = std::make_unique<QApplication>(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Calmcove"));
    QCoreApplication::setApplicationName(QStringLiteral("Calmcove"));
    QCoreApplication::setApplicationVersion(calmcove::appVersion());

    // A second launch hands its files to the running Calmcove and ends.
    calmcove::SingleInstance instance;
    const auto role = instance.claim(options.openArguments, [] {
        std::fputs("calmcove: waiting for the running Calmcove to accept this launch...\n", stderr);
    });
    if (role == calmcove::SingleInstance::Role::handedOver)
        return 0;
    instance.listen();
    // Only the running instance uses the temporary folder: what is there is a killed run's.
    calmcove::AppPaths::clearTemporaryDirectory();

    calmcove::UserDefaults& defaults = calmcove::UserDefaults::standard();
    for (const QString& assignment : options.settingOverrides)
        defaults.addOverride(assignment);

    calmcove::UnixSignalWatcher signalWatcher;
    QObject::connect(&signalWatcher, &calmcove::UnixSignalWatcher::terminationRequested, app.get(),
                     &QCoreApplication::quit);

    calmcove::NetworkInformationMonitor networkMonitor;
    calmcove::CalmcoveRuntime runtime(options, defaults, {.networkMonitor = &networkMonitor});
    calmcove::QtImportDialogs dialogs;
    if (!options.headless)
        runtime.albumStore().setDialogs(&dialogs);
    QObject::connect(&instance, &calmcove::SingleInstance::argumentsReceived, &runtime,
                     &calmcove::CalmcoveRuntime::open);
    QTimer::singleShot(0, &runtime, [&runtime, &options] { runtime.open(options.openArguments); });
    const int status = app->exec();
    defaults.sync();
    return status;
}
