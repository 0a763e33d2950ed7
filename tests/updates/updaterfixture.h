#pragma once

// An updater on a temporary install tree (version 0.1.0) with its own settings file, a
// clock that moves by hand, a network the test switches, a scripted user and a real HTTPS
// feed server on loopback serving releases signed by calmcove-pack.

#include "updatetesting.h"

#include "library/librarytesting.h"
#include "updates/appstoreversionchecker.h"
#include "updates/updater.h"

#include <gtest/gtest.h>

namespace calmcove::test {

struct RecordingDelegate : UpdateUserDriverDelegate
{
    QStringList calls;
    bool supportsGentleScheduledUpdateReminders() const override { return true; }
    void willHandleShowingUpdate(bool userInitiated) override
    {
        calls << (userInitiated ? "show userInitiated" : "show background");
    }
    void didReceiveUserAttentionForUpdate() override { calls << "attention"; }
    void willFinishUpdateSession() override { calls << "finish"; }
};

class UpdaterFixture : public ::testing::Test
{
protected:
    static ReleaseWorkshop& workshop();
    // The 0.2.0 archive and a snapshot of the tree inside it.
    static const QString& newArchive();
    static const QMap<QString, QString>& newTreeSnapshot();

    void SetUp() override;

    // Signs `archive` as `version` into a fresh feed with calmcove-pack and serves the
    // feed at /feed.json and the archive at /calmcove.tar.xz; returns the feed document.
    QByteArray publish(const QString& archive, const QString& version,
                       const QStringList& extraArguments = {});
    UpdaterOptions options();
    std::unique_ptr<Updater> makeUpdater();
    // Runs a user-initiated check to its end.
    void checkAndWait(Updater& updater);
    // What lies beside the tree, apart from the settings file.
    QStringList besideTree() const;
    static QStringList leftoverDownloads() { return LibraryHarness::leftoverDownloads(); }

    TestServer server;
    QTemporaryDir home;
    QString treePath;
    std::unique_ptr<UserDefaults> defaults;
    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    std::unique_ptr<TestNetworkMonitor> monitor = std::make_unique<TestNetworkMonitor>();
    ScriptedUserDriver driver;
    RecordingDelegate delegate;
    QStringList relaunched;
};

} // namespace calmcove::test
