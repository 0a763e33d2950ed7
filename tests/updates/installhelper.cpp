// Installs one release archive into a tree the way the program does (unpack beside it,
// check the new program's version, exchange the folders) and exits: 0 done, 1 failed.
//   calmcove-update-install-helper TREE ARCHIVE VERSION

#include "updates/installtree.h"

#include <QCoreApplication>
#include <QCoro/QCoroTask>

#include <cstdio>

namespace {

QCoro::Task<int> install(calmcove::InstallTree tree, QString archive, QString version)
{
    auto staging = calmcove::stageRelease(tree, archive, version);
    const auto staged = co_await std::move(staging);
    if (!staged) {
        std::fprintf(stderr, "%s\n", qPrintable(staged.error()));
        co_return 1;
    }
    const auto exchanged = tree.exchange(*staged);
    if (!exchanged) {
        std::fprintf(stderr, "%s\n", qPrintable(exchanged.error()));
        co_return 1;
    }
    co_return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() != 4) {
        std::fputs("usage: calmcove-update-install-helper TREE ARCHIVE VERSION\n", stderr);
        return 2;
    }
    return QCoro::waitFor(install(calmcove::InstallTree(arguments[1]), arguments[2], arguments[3]));
}
