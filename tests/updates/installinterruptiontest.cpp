// An install killed with SIGKILL at random moments: the tree that starts next is always
// complete, either the old version or the new one, and the next start clears what the
// interrupted install left beside it.

#include "updatetesting.h"

#include "support/qtprinters.h"
#include "updates/installtree.h"

#include <csignal>
#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QThread>

namespace calmcove {
namespace {

TEST(InstallInterruptionTest, AKilledInstallLeavesOneCompleteTree)
{
    test::ReleaseWorkshop workshop;
    // Large enough that unpacking takes a good part of the install.
    const QString archive = workshop.makeArchive("0.2.0", 8 * 1000 * 1000);
    QTemporaryDir home;
    const QString treePath = home.path() + "/calmcove";
    const QString helper =
        QCoreApplication::applicationDirPath() + "/calmcove-update-install-helper";

    test::writeReleaseTree(treePath, "0.1.0", 8 * 1000 * 1000);
    const auto oldTree = test::snapshotTree(treePath);
    QElapsedTimer clock;
    clock.start();
    ASSERT_EQ(QProcess::execute(helper, {treePath, archive, "0.2.0"}), 0);
    const qint64 installMs = std::max<qint64>(clock.elapsed(), 50);
    const auto newTree = test::snapshotTree(treePath);
    ASSERT_EQ(test::reportedVersion(treePath + "/bin/calmcove"), "calmcove 0.2.0");

    int sawOld = 0, sawNew = 0;
    for (int round = 0; round < 10; ++round) {
        QDir(home.path()).removeRecursively();
        QDir().mkpath(home.path());
        test::writeReleaseTree(treePath, "0.1.0", 8 * 1000 * 1000);

        QProcess install;
        install.start(helper, {treePath, archive, "0.2.0"});
        ASSERT_TRUE(install.waitForStarted());
        QThread::msleep(QRandomGenerator::global()->bounded(installMs * 3 / 2));
        ::kill(pid_t(install.processId()), SIGKILL);
        install.waitForFinished();

        const QString version = test::reportedVersion(treePath + "/bin/calmcove");
        const auto tree = test::snapshotTree(treePath);
        if (version == "calmcove 0.1.0") {
            EXPECT_EQ(tree, oldTree) << "round " << round;
            ++sawOld;
        } else {
            EXPECT_EQ(version, "calmcove 0.2.0") << "round " << round;
            EXPECT_EQ(tree, newTree) << "round " << round;
            ++sawNew;
        }
        // The next start removes the leftovers and leaves the tree alone.
        InstallTree(treePath).removeLeftovers();
        EXPECT_EQ(
            QDir(home.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList{"calmcove"});
        EXPECT_EQ(test::snapshotTree(treePath), tree);
    }
    std::printf("install of %lld ms killed 10 times: old tree %d, new tree %d\n",
                static_cast<long long>(installMs), sawOld, sawNew);
}

} // namespace
} // namespace calmcove
