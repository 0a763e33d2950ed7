// The command line: arguments separated by NUL bytes, parsed as the program parses its
// own, and each one classified as a link or a path as the launch does. Never crashes.

#include "app/launchoptions.h"

#include <QUrl>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QStringList arguments{QStringLiteral("calmcove")};
    for (const QByteArray& part :
         QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)).split('\0'))
        arguments.append(QString::fromLocal8Bit(part));
    const auto parsed = calmcove::parseLaunchOptions(arguments);
    if (const auto* options = std::get_if<calmcove::LaunchOptions>(&parsed)) {
        for (const QString& argument : options->openArguments) {
            const QUrl url(argument, QUrl::StrictMode);
            (void)url.scheme().toLower();
            (void)url.host(QUrl::FullyDecoded);
        }
    }
    return 0;
}
