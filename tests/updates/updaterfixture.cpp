#include "updaterfixture.h"

#include "platform/userdefaults.h"

#include <QDir>
#include <QFile>

namespace calmcove::test {

ReleaseWorkshop& UpdaterFixture::workshop()
{
    static ReleaseWorkshop shared;
    return shared;
}

const QString& UpdaterFixture::newArchive()
{
    static const QString archive = workshop().makeArchive("0.2.0");
    return archive;
}

const QMap<QString, QString>& UpdaterFixture::newTreeSnapshot()
{
    static const QMap<QString, QString> snapshot = [] {
        newArchive();
        return snapshotTree(workshop().folder() + "/stage-0.2.0/calmcove-0.2.0");
    }();
    return snapshot;
}

void UpdaterFixture::SetUp()
{
    treePath = home.path() + "/calmcove";
    writeReleaseTree(treePath, "0.1.0");
    defaults = std::make_unique<UserDefaults>(home.path() + "/settings.conf");
    defaults->setValue(AudioPackClient::caCertificatesFileKey, TestCertificates::shared().caFile);
}

QByteArray UpdaterFixture::publish(const QString& archive, const QString& version,
                                   const QStringList& extraArguments)
{
    const QString feedPath =
        home.path() + "/../" + QFileInfo(home.path()).fileName() + "-feed.json";
    QFile::remove(feedPath);
    const QString failure = workshop().release(archive, feedPath, version,
                                               server.url("/calmcove.tar.xz"), extraArguments);
    EXPECT_TRUE(failure.isEmpty()) << failure.toStdString();
    QFile feed(feedPath);
    feed.open(QIODevice::ReadOnly);
    const QByteArray document = feed.readAll();
    feed.remove();
    QFile content(archive);
    content.open(QIODevice::ReadOnly);
    server.serve("/feed.json", TestServer::json(document.toStdString()));
    server.serve("/calmcove.tar.xz", {content.readAll().toStdString()});
    return document;
}

UpdaterOptions UpdaterFixture::options()
{
    UpdaterOptions options;
    options.configuration = UpdaterConfiguration{"0.1.0", server.url("/feed.json").toString(),
                                                 workshop().publicKeyText(), InstallTree(treePath)};
    options.clock = clock;
    options.networkMonitor = monitor.get();
    options.relaunch = [this](const QString& executable) { relaunched << executable; };
    return options;
}

std::unique_ptr<Updater> UpdaterFixture::makeUpdater()
{
    auto updater = std::make_unique<Updater>(*defaults, delegate, options());
    updater->setUserDriver(&driver);
    return updater;
}

void UpdaterFixture::checkAndWait(Updater& updater)
{
    updater.checkForUpdates();
    EXPECT_FALSE(updater.canCheckForUpdates());
    EXPECT_TRUE(runUntil([&] { return updater.canCheckForUpdates(); }, 60000));
}

QStringList UpdaterFixture::besideTree() const
{
    QStringList names =
        QDir(home.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    names.removeAll("settings.conf");
    names.removeAll("calmcove");
    return names;
}

} // namespace calmcove::test
