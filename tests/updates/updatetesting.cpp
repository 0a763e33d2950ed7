#include "updatetesting.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTimer>

#include <stdexcept>

namespace calmcove::test {

namespace {

QString run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return QStringLiteral("%1 failed: %2")
            .arg(program, QString::fromLocal8Bit(process.readAll()));
    return QString();
}

} // namespace

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        throw std::runtime_error("cannot write " + path.toStdString());
}

void writeReleaseTree(const QString& path, const QString& version, qint64 payloadBytes,
                      bool releaseMarker)
{
    if (releaseMarker)
        writeFile(path + "/.calmcove-release", "calmcove " + version.toUtf8() + "\n");
    const QString program = path + "/bin/calmcove";
    writeFile(program, "#!/bin/sh\nif [ \"$1\" = --version ]; then echo \"calmcove " +
                           version.toUtf8() + "\"; fi\n");
    QFile::setPermissions(program, QFile::permissions(program) | QFile::ExeOwner | QFile::ExeGroup |
                                       QFile::ExeOther);
    QByteArray payload(payloadBytes, Qt::Uninitialized);
    QRandomGenerator generator(quint32(qHash(version)));
    for (char& byte : payload)
        byte = char(generator.bounded(256));
    writeFile(path + "/share/calmcove/payload.bin", payload);
    writeFile(path + "/share/calmcove/version.txt", version.toUtf8());
}

QMap<QString, QString> snapshotTree(const QString& path)
{
    QMap<QString, QString> files;
    QDirIterator entries(path, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (entries.hasNext()) {
        const QString file = entries.next();
        QFile content(file);
        content.open(QIODevice::ReadOnly);
        files.insert(
            QDir(path).relativeFilePath(file),
            QString::fromLatin1(
                QCryptographicHash::hash(content.readAll(), QCryptographicHash::Sha256).toHex()) +
                QStringLiteral(" %1").arg(int(QFile::permissions(file)), 0, 16));
    }
    return files;
}

QString reportedVersion(const QString& program)
{
    QProcess process;
    process.start(program, {QStringLiteral("--version")});
    if (!process.waitForFinished(10000))
        return QString();
    return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
}

ReleaseWorkshop::ReleaseWorkshop()
{
    const QString failure = run(QCoreApplication::applicationDirPath() + "/calmcove-pack",
                                {"keygen", "--output", m_folder.path() + "/keys"});
    if (!failure.isEmpty())
        throw std::runtime_error(failure.toStdString());
}

QString ReleaseWorkshop::privateKey() const
{
    return m_folder.path() + "/keys/calmcove-release-key.pem";
}

QString ReleaseWorkshop::publicKeyText() const
{
    QFile file(m_folder.path() + "/keys/calmcove-release-key.pub.pem");
    file.open(QIODevice::ReadOnly);
    return QString::fromLatin1(file.readAll());
}

QString ReleaseWorkshop::makeArchive(const QString& version, qint64 payloadBytes)
{
    const QString stage = m_folder.path() + "/stage-" + version;
    QDir(stage).removeRecursively();
    writeReleaseTree(stage + "/calmcove-" + version, version, payloadBytes);
    const QString archive = m_folder.path() + "/calmcove-" + version + "-linux-x86_64.tar.xz";
    QFile::remove(archive);
    const QString failure = run("tar", {"-C", stage, "-cJf", archive, "calmcove-" + version});
    if (!failure.isEmpty())
        throw std::runtime_error(failure.toStdString());
    return archive;
}

QString ReleaseWorkshop::release(const QString& archive, const QString& feedPath,
                                 const QString& version, const QUrl& url,
                                 const QStringList& extraArguments)
{
    return run(QCoreApplication::applicationDirPath() + "/calmcove-pack",
               QStringList{"release", "--archive", archive, "--feed", feedPath, "--key",
                           privateKey(), "--version", version, "--url",
                           url.toString(QUrl::FullyEncoded), "--notes", "Calmer than ever."} +
                   extraArguments);
}

void ScriptedUserDriver::showCheckingForUpdates(std::function<void()> cancel)
{
    cancelChecking = std::move(cancel);
    shown << "checking";
}

void ScriptedUserDriver::showUpToDate(const QString& runningVersion)
{
    shown << "upToDate " + runningVersion;
}

void ScriptedUserDriver::showUpdateFound(const UpdateRelease& release, UpdateOffer offer,
                                         bool userInitiated, std::function<void(UpdateReply)> reply)
{
    shown << QStringLiteral("found %1 %2%3")
                 .arg(release.version,
                      offer == UpdateOffer::installAndRelaunch ? "install" : "releasePage",
                      userInitiated ? "" : " background");
    pendingReply = reply;
    if (answer)
        QTimer::singleShot(0, [reply, value = *answer] { reply(value); });
}

void ScriptedUserDriver::showProgress(const QString& text, std::function<void()>)
{
    shown << "progress " + text;
}

void ScriptedUserDriver::showUpdateError(const QString& message, const QString& detail)
{
    shown << "error " + message + " | " + detail;
}

void ScriptedUserDriver::dismissUpdateWindows()
{
    shown << "dismiss";
}

QString ScriptedUserDriver::lastError() const
{
    for (auto it = shown.crbegin(); it != shown.crend(); ++it) {
        if (it->startsWith("error "))
            return it->mid(6);
    }
    return QString();
}

} // namespace calmcove::test
