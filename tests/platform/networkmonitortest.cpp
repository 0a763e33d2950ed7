// The system network monitor on whatever backend this machine offers (NetworkManager,
// glib, or none): it reports on the main thread, never from inside watch(), and not at
// all once unwatched.

#include "platform/networkinformationmonitor.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTest>
#include <QThread>

namespace calmcove {
namespace {

TEST(NetworkInformationMonitorTest, ReportsAfterWatchAndNotAfterUnwatch)
{
    NetworkInformationMonitor monitor;
    QList<NetworkPath> reports;
    bool onMainThread = true;
    const auto first = monitor.watch([&](const NetworkPath& path) {
        onMainThread = onMainThread && QThread::currentThread() == QCoreApplication::instance()->thread();
        reports.append(path);
    });
    EXPECT_TRUE(reports.isEmpty()) << "never from inside watch()";
    ASSERT_TRUE(QTest::qWaitFor([&] { return !reports.isEmpty(); }, 5000));
    EXPECT_TRUE(onMainThread);
    EXPECT_EQ(reports.first(), NetworkInformationMonitor::currentPath());

    const auto second = monitor.watch([&](const NetworkPath& path) { reports.append(path); });
    monitor.unwatch(second);
    monitor.unwatch(first);
    const qsizetype count = reports.size();
    QTest::qWait(100);
    EXPECT_EQ(reports.size(), count);
}

} // namespace
} // namespace calmcove
