// The program as a user meets it on an X11 desktop: a private Xvfb with a real tray
// (trayer), clicks from xdotool, the playback state read over MPRIS with playerctl on a
// private session bus, and without a tray the panel as a window. Skipped where one of
// those programs is missing.

#include "support/privatesessionbus.h"
#include "support/qtprinters.h"
#include "support/x11desktop.h"
#include "support/xvfbsession.h"

#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <QRect>
#include <QStandardPaths>
#include <QTest>

namespace calmcove {
namespace {

using test::runBusClient;

class TrayProgramTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { s_bus = new test::PrivateSessionBus; }
    static void TearDownTestSuite() { delete s_bus; }

    void SetUp() override
    {
        if (s_bus->address().isEmpty())
            GTEST_SKIP() << "dbus-daemon could not be started";
        for (const char* tool : {"trayer", "xdotool", "playerctl"}) {
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                GTEST_SKIP() << tool << " is not installed";
        }
        if (!m_x.isRunning())
            GTEST_SKIP() << m_x.failure().toStdString();
        // The clients (xdotool, playerctl) and the program inherit the display.
        qputenv("DISPLAY", m_x.display().toUtf8());
    }

    void TearDown() override
    {
        for (QProcess* process : {&m_program, &m_tray}) {
            process->terminate();
            if (!process->waitForFinished(5000))
                process->kill();
            process->waitForFinished();
        }
    }

    void startTray() { ASSERT_TRUE(test::startTray(m_tray, *s_bus)); }

    static QProcessEnvironment programEnvironment()
    {
        QProcessEnvironment environment = s_bus->environment();
        environment.insert("QT_QPA_PLATFORM", "xcb");
        return environment;
    }

    void startProgram()
    {
        m_program.setProcessEnvironment(programEnvironment());
        m_program.start(QCoreApplication::applicationDirPath() + "/calmcove",
                        {"--audio-output=null"});
        ASSERT_TRUE(m_program.waitForStarted());
        // The deferred play() has run once MPRIS says so.
        ASSERT_TRUE(waitFor([this] { return status() == "Playing"; }))
            << m_program.readAllStandardError().toStdString();
    }

    QString status()
    {
        return runBusClient(*s_bus, "playerctl", {"-p", "calmcove", "status"}).output;
    }

    QStringList windows() { return test::visibleWindows(*s_bus, "calmcove"); }

    QRect geometry(const QString& window) { return test::windowGeometry(*s_bus, window); }

    void click(QPoint at, int button) { test::clickAt(*s_bus, at, button); }

    static bool waitFor(const std::function<bool()>& condition, int timeoutMs = 10000)
    {
        const QDeadlineTimer deadline(timeoutMs);
        while (!condition()) {
            if (deadline.hasExpired())
                return false;
            QTest::qWait(100);
        }
        return true;
    }

    static inline test::PrivateSessionBus* s_bus = nullptr;
    test::XvfbSession m_x{QSize(1024, 768)};
    QProcess m_tray;
    QProcess m_program;
};

TEST_F(TrayProgramTest, LeftClickTogglesRightClickOpensThePanelAClickElsewhereClosesIt)
{
    startTray();
    startProgram();
    ASSERT_TRUE(waitFor([this] { return windows().size() == 1; }));
    const QString icon = windows().first();
    const QPoint iconCentre = geometry(icon).center();

    click(iconCentre, 1);
    EXPECT_TRUE(waitFor([this] { return status() == "Paused"; }));
    click(iconCentre, 1);
    EXPECT_TRUE(waitFor([this] { return status() == "Playing"; }));

    click(iconCentre, 3);
    ASSERT_TRUE(waitFor([this] { return windows().size() == 2; }));
    QStringList shown = windows();
    shown.removeAll(icon);
    const QRect panel = geometry(shown.first());
    EXPECT_EQ(panel.width(), 330);
    EXPECT_GT(panel.top(), geometry(icon).top()) << "placed under the icon at the top edge";

    click(QPoint(20, 400), 1);
    EXPECT_TRUE(waitFor([this] { return windows().size() == 1; }));
    EXPECT_EQ(status(), "Playing") << "closing the panel leaves playback alone";
}

TEST_F(TrayProgramTest, WithoutATrayThePanelIsAWindowThatASecondLaunchKeeps)
{
    startProgram();
    ASSERT_TRUE(waitFor([this] { return windows().size() == 1; }));
    EXPECT_EQ(geometry(windows().first()).width(), 330);

    QProcess second;
    second.setProcessEnvironment(programEnvironment());
    second.start(QCoreApplication::applicationDirPath() + "/calmcove", {});
    ASSERT_TRUE(waitFor([&] { return second.state() == QProcess::NotRunning; }));
    EXPECT_EQ(second.exitCode(), 0);
    QTest::qWait(300);
    EXPECT_EQ(windows().size(), 1) << "raised, not duplicated";
    EXPECT_EQ(status(), "Playing");

    m_program.terminate();
    ASSERT_TRUE(m_program.waitForFinished(5000));
    const QString errors = QString::fromUtf8(m_program.readAllStandardError());
    EXPECT_EQ(errors.count("no system tray found"), 1) << errors.toStdString();
}

} // namespace
} // namespace calmcove
