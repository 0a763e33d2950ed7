// The system network monitor on whatever backend this machine offers (NetworkManager,
// glib, or none): it reports on the main thread, never from inside start(), and not at
// all once stopped.

#include "librarytesting.h"

#include "platform/networkinformationmonitor.h"

#include <gtest/gtest.h>

#include <QThread>

namespace calmcove {
namespace {

TEST(NetworkInformationMonitorTest, ReportsAfterStartAndNotAfterStop)
{
    NetworkInformationMonitor monitor;
    QList<NetworkPath> reports;
    bool onMainThread = true;
    monitor.start([&](const NetworkPath& path) {
        onMainThread = onMainThread && QThread::currentThread() == qApp->thread();
        reports.append(path);
    });
    EXPECT_TRUE(reports.isEmpty()) << "never from inside start()";
    ASSERT_TRUE(test::runUntil([&] { return !reports.isEmpty(); }, 5000));
    EXPECT_TRUE(onMainThread);
    EXPECT_EQ(reports.first(), NetworkInformationMonitor::currentPath());

    monitor.start([&](const NetworkPath& path) { reports.append(path); });
    monitor.stop();
    const qsizetype count = reports.size();
    test::runUntil([] { return false; }, 100);
    EXPECT_EQ(reports.size(), count);
}

} // namespace
} // namespace calmcove
