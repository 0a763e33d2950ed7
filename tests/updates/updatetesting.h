#pragma once

// The parts the update tests share: release trees whose bin/calmcove is a small script
// reporting its version, release archives made with tar, a release key and feeds made
// with calmcove-pack itself, a snapshot of a tree's files, and a user driver that records
// what it was shown and answers as scripted.

#include "updates/updateuserdriver.h"

#include <QMap>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <optional>

namespace calmcove::test {

// Writes a release tree for `version` into `path`: the release marker (unless
// `releaseMarker` is false), bin/calmcove printing "calmcove <version>" for --version,
// and `payloadBytes` of random data in share/calmcove/ so that unpacking takes a while.
void writeReleaseTree(const QString& path, const QString& version, qint64 payloadBytes = 200000,
                      bool releaseMarker = true);

// Every regular file under `path` by relative path, with its SHA-256 and mode.
QMap<QString, QString> snapshotTree(const QString& path);

QByteArray readFile(const QString& path);
void writeFile(const QString& path, const QByteArray& content);

// What `program --version` prints, trimmed; empty when it does not run.
QString reportedVersion(const QString& program);

// A release key made by calmcove-pack keygen and release archives signed with it.
class ReleaseWorkshop
{
public:
    ReleaseWorkshop();

    QString folder() const { return m_folder.path(); }
    QString privateKey() const;
    QString publicKeyText() const;

    // calmcove-<version>-linux-x86_64.tar.xz of a release tree.
    QString makeArchive(const QString& version, qint64 payloadBytes = 200000);
    // Runs calmcove-pack release for `archive` into `feedPath`; the tool's output on
    // failure, empty on success.
    QString release(const QString& archive, const QString& feedPath, const QString& version,
                    const QUrl& url, const QStringList& extraArguments = {});

private:
    QTemporaryDir m_folder;
};

// Records every window in order ("checking", "upToDate 0.1.0", "found 0.2.0 install",
// "progress …", "error <message> | <detail>", "dismiss") and answers a found release
// with `answer` (none: never answers).
class ScriptedUserDriver : public UpdateUserDriver
{
public:
    std::optional<UpdateReply> answer = UpdateReply::install;
    QStringList shown;
    std::function<void()> cancelChecking;
    std::function<void(UpdateReply)> pendingReply; // of the last found release

    void showCheckingForUpdates(std::function<void()> cancel) override;
    void showUpToDate(const QString& runningVersion) override;
    void showUpdateFound(const UpdateRelease& release, UpdateOffer offer, bool userInitiated,
                         std::function<void(UpdateReply)> reply) override;
    void showProgress(const QString& text, std::function<void()> cancel) override;
    void showUpdateError(const QString& message, const QString& detail) override;
    void dismissUpdateWindows() override;

    // The last error window's text, empty when none was shown.
    QString lastError() const;
};

} // namespace calmcove::test
