// Start at login through the XDG autostart entry, on real files: enabling, disabling,
// entries edited by hand or written by other tools, and folders that refuse the change.

#include "app/appsettings.h"
#include "support/qtprinters.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <unistd.h>

namespace calmcove {
namespace {

const QString program = QStringLiteral("/opt/calm cove/bin/calmcove");

class AppSettingsTest : public ::testing::Test
{
protected:
    QString folder() const { return m_dir.filePath(QStringLiteral("autostart")); }
    QString entryPath() const { return folder() + QStringLiteral("/calmcove.desktop"); }
    AutostartEntry entry() const { return AutostartEntry(entryPath(), program); }

    void writeEntry(const QByteArray& contents)
    {
        QDir().mkpath(folder());
        QFile file(entryPath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(contents);
    }
    QByteArray readEntry() const
    {
        QFile file(entryPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // Makes the autostart folder read-only for this process: a read-only mount for root
    // (which permissions do not stop), else the folder's permissions.
    bool makeFolderReadOnly()
    {
        QDir().mkpath(folder());
        if (::geteuid() != 0)
            return QFile::setPermissions(folder(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        const QByteArray kept = readEntry();
        if (QProcess::execute(QStringLiteral("mount"),
                              {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                               QStringLiteral("size=1m"), QStringLiteral("tmpfs"), folder()}) != 0)
            return false;
        m_mounted = true;
        if (!kept.isEmpty())
            writeEntry(kept);
        return QProcess::execute(QStringLiteral("mount"),
                                 {QStringLiteral("-o"), QStringLiteral("remount,ro"), folder()}) ==
               0;
    }
    void TearDown() override
    {
        if (m_mounted)
            QProcess::execute(QStringLiteral("umount"), {folder()});
        else
            QFile::setPermissions(folder(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                QFileDevice::ExeOwner);
    }

    QTemporaryDir m_dir;
    bool m_mounted = false;
};

TEST_F(AppSettingsTest, EnableWritesAnEntryForThisProgramAndDisableRemovesIt)
{
    AppSettings settings(entry());
    QSignalSpy changed(&settings, &AppSettings::launchAtLoginEnabledChanged);

    settings.setLaunchAtLogin(true);
    EXPECT_TRUE(settings.launchAtLoginEnabled());
    EXPECT_TRUE(settings.launchAtLoginError().isNull());
    const QByteArray written = readEntry();
    EXPECT_TRUE(written.startsWith("[Desktop Entry]\n"));
    EXPECT_TRUE(written.contains("\nExec=\"/opt/calm cove/bin/calmcove\"\n")) << written.data();
    EXPECT_TRUE(written.contains("\nX-GNOME-Autostart-enabled=true\n"));
    EXPECT_TRUE(written.contains("\nType=Application\n"));

    settings.setLaunchAtLogin(true); // already on: stays on, no change
    EXPECT_TRUE(settings.launchAtLoginEnabled());
    EXPECT_EQ(changed.count(), 1);

    settings.setLaunchAtLogin(false);
    EXPECT_FALSE(settings.launchAtLoginEnabled());
    EXPECT_FALSE(QFile::exists(entryPath()));
    settings.setLaunchAtLogin(false); // nothing to remove is no failure
    EXPECT_TRUE(settings.launchAtLoginError().isNull());
    EXPECT_EQ(changed.count(), 2);
}

TEST(DesktopEntryExecTest, QuotesAndEscapesAsTheDesktopEntryRulesSay)
{
    const struct
    {
        QString program;
        QString exec;
    } cases[] = {
        {QStringLiteral("/usr/bin/calmcove"), QStringLiteral("/usr/bin/calmcove")},
        {QStringLiteral("/opt/My Apps/calmcove"), QStringLiteral("\"/opt/My Apps/calmcove\"")},
        // Inside quotes \ $ " ` take a backslash; then every backslash is doubled as in
        // any string value, and % is doubled as no field code.
        {QStringLiteral("/a\\b$c\"d`e%f"), QStringLiteral("\"/a\\\\\\\\b\\\\$c\\\\\"d\\\\`e%%f\"")},
        {QStringLiteral("/home/anna/bin/calm%cove"), QStringLiteral("/home/anna/bin/calm%%cove")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(desktopEntryExecValue(c.program), c.exec) << c.program.toStdString();
}

TEST_F(AppSettingsTest, TheEntryAsItStandsDecides)
{
    const struct
    {
        const char* contents;
        bool enabled;
    } cases[] = {
        {"[Desktop Entry]\nType=Application\nExec=/usr/bin/calmcove\n", true},
        // Another tool's entry, starting something else, still counts as on.
        {"[Desktop Entry]\nExec=/usr/local/bin/other-calmcove --tray\n", true},
        {"[Desktop Entry]\nExec=calmcove\nHidden=true\n", false},
        {"[Desktop Entry]\nExec=calmcove\nX-GNOME-Autostart-enabled=false\n", false},
        {"[Desktop Entry]\nExec=calmcove\nX-GNOME-Autostart-enabled = false\n", false},
        {"[Desktop Entry]\nExec=calmcove\nHidden=false\nX-GNOME-Autostart-enabled=true\n", true},
        // Keys of other groups and comments do not count.
        {"[Desktop Entry]\nExec=calmcove\n# Hidden=true\n[Desktop Action x]\nHidden=true\n", true},
    };
    for (const auto& c : cases) {
        writeEntry(c.contents);
        AppSettings settings(entry());
        QSignalSpy changed(&settings, &AppSettings::launchAtLoginEnabledChanged);
        settings.readLaunchAtLogin();
        EXPECT_EQ(settings.launchAtLoginEnabled(), c.enabled) << c.contents;
        // Read at start-up: assigned only when it differs from the initial off.
        EXPECT_EQ(changed.count(), c.enabled ? 1 : 0) << c.contents;
    }

    // Enabling over a hidden or foreign entry rewrites it for this program.
    writeEntry("[Desktop Entry]\nExec=/usr/local/bin/other-calmcove\nHidden=true\n");
    AppSettings settings(entry());
    settings.setLaunchAtLogin(true);
    EXPECT_TRUE(settings.launchAtLoginEnabled());
    EXPECT_FALSE(readEntry().contains("other-calmcove"));
    EXPECT_FALSE(readEntry().contains("Hidden"));
}

TEST_F(AppSettingsTest, AFolderInTheWayFailsWithAMessage)
{
    // A folder where the entry goes.
    QDir().mkpath(entryPath());
    AppSettings settings(entry());
    settings.setLaunchAtLogin(true);
    EXPECT_FALSE(settings.launchAtLoginEnabled());
    EXPECT_FALSE(settings.launchAtLoginError().isEmpty());
    QDir(folder()).removeRecursively();

    // A file where the autostart folder goes.
    QFile file(folder());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    settings.setLaunchAtLogin(true);
    EXPECT_FALSE(settings.launchAtLoginEnabled());
    EXPECT_FALSE(settings.launchAtLoginError().isEmpty());
    ASSERT_TRUE(QFile::remove(folder()));

    // A later success clears the message.
    settings.setLaunchAtLogin(true);
    EXPECT_TRUE(settings.launchAtLoginEnabled());
    EXPECT_TRUE(settings.launchAtLoginError().isNull());
}

TEST_F(AppSettingsTest, AReadOnlyFolderLeavesTheStateAsItIs)
{
    writeEntry("[Desktop Entry]\nExec=/usr/bin/calmcove\n");
    if (!makeFolderReadOnly())
        GTEST_SKIP() << "could not make a read-only folder";
    AppSettings settings(entry());
    settings.readLaunchAtLogin();
    ASSERT_TRUE(settings.launchAtLoginEnabled());

    settings.setLaunchAtLogin(false);
    EXPECT_TRUE(settings.launchAtLoginEnabled()); // the entry is still there
    EXPECT_TRUE(settings.launchAtLoginError().contains(QStringLiteral("calmcove.desktop")))
        << settings.launchAtLoginError().toStdString();

    // Rewriting it fails too, and it stays as it was.
    settings.setLaunchAtLogin(true);
    EXPECT_TRUE(settings.launchAtLoginEnabled());
    EXPECT_FALSE(settings.launchAtLoginError().isEmpty());
    EXPECT_EQ(readEntry(), QByteArray("[Desktop Entry]\nExec=/usr/bin/calmcove\n"));
}

} // namespace
} // namespace calmcove
