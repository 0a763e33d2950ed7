#include "installtree.h"

#include <QCoreApplication>
#include <QCoro/QCoroProcess>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

namespace calmcove {

namespace {

constexpr std::chrono::milliseconds toolTimeout{120000};

// Runs `program` to its end; true when it exited normally with status 0. The wrapper
// lives in a variable of its own: its coroutine refers to it while suspended.
QCoro::Task<bool> runsCleanly(QProcess& process, QString program, QStringList arguments)
{
    process.start(program, arguments);
    if (!process.waitForStarted(int(toolTimeout.count())))
        co_return false;
    auto waiter = qCoro(&process);
    auto waiting = waiter.waitForFinished(toolTimeout);
    const bool finished = co_await std::move(waiting);
    co_return finished&& process.exitStatus() == QProcess::NormalExit&& process.exitCode() == 0;
}

bool writable(const QString& path)
{
    return ::access(QFile::encodeName(path).constData(), W_OK) == 0;
}

// Flushes the unpacked files to disk before the exchange makes them the program.
void syncFileSystem(const QString& path)
{
    const int descriptor = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY);
    if (descriptor >= 0) {
        ::syncfs(descriptor);
        ::close(descriptor);
    }
}

} // namespace

InstallTree::InstallTree(QString path) : m_path(QDir::cleanPath(std::move(path))) {}

InstallTree InstallTree::ofRunningProgram()
{
    return InstallTree(QFileInfo(QCoreApplication::applicationDirPath() + QStringLiteral("/.."))
                           .canonicalFilePath());
}

QString InstallTree::leftoverPrefix() const
{
    return QLatin1Char('.') + QFileInfo(m_path).fileName() + QStringLiteral(".update-");
}

bool InstallTree::canUpdateItself() const
{
    const QFileInfo tree(m_path);
    return !m_path.isEmpty() && tree.isDir() && !tree.isSymLink() &&
           QFileInfo(m_path + QLatin1Char('/') + releaseMarker).isFile() && writable(m_path) &&
           writable(m_path + QStringLiteral("/bin")) && writable(tree.absolutePath());
}

void InstallTree::removeLeftovers() const
{
    const QFileInfo tree(m_path);
    const QDir parent(tree.absolutePath());
    const QStringList names = parent.entryList({leftoverPrefix() + QLatin1Char('*')},
                                               QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString& name : names)
        QDir(parent.filePath(name)).removeRecursively();
}

QCoro::Task<Expected<StagedTree, QString>> stageRelease(InstallTree tree, QString archivePath,
                                                        QString version)
{
    QTemporaryDir staging(QFileInfo(tree.path()).absolutePath() + QLatin1Char('/') +
                          tree.leftoverPrefix() + QStringLiteral("XXXXXX"));
    if (!staging.isValid())
        co_return QStringLiteral("Could not make a folder beside %1: %2")
            .arg(tree.path(), staging.errorString());

    QProcess tar;
    tar.setProcessChannelMode(QProcess::MergedChannels);
    auto unpacking = runsCleanly(tar, QStringLiteral("tar"),
                                 {QStringLiteral("-xJf"), archivePath, QStringLiteral("-C"),
                                  staging.path(), QStringLiteral("--no-same-owner")});
    const bool unpacked = co_await std::move(unpacking);
    if (!unpacked)
        co_return QStringLiteral("Could not unpack the update: %1")
            .arg(QString::fromLocal8Bit(tar.readAll()).trimmed());

    const QStringList top =
        QDir(staging.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    const QString newTree = staging.path() + QLatin1Char('/') + top.value(0);
    if (top.size() != 1 || !QFileInfo(newTree).isDir() ||
        !QFileInfo(newTree + QLatin1Char('/') + InstallTree::releaseMarker).isFile())
        co_return QStringLiteral("The update archive holds no Calmcove release folder.");

    QProcess program;
    auto running = runsCleanly(program, newTree + QStringLiteral("/bin/calmcove"),
                               {QStringLiteral("--version")});
    const bool ran = co_await std::move(running);
    const QString reported = QString::fromLocal8Bit(program.readAllStandardOutput()).trimmed();
    if (!ran || reported != QStringLiteral("calmcove ") + version)
        co_return QStringLiteral("The unpacked update does not run as Calmcove %1.").arg(version);

    syncFileSystem(newTree);
    staging.setAutoRemove(false);
    co_return StagedTree{newTree, version};
}

Expected<bool, QString> InstallTree::exchange(const StagedTree& staged) const
{
    if (::renameat2(AT_FDCWD, QFile::encodeName(staged.path).constData(), AT_FDCWD,
                    QFile::encodeName(m_path).constData(), RENAME_EXCHANGE) != 0)
        return QStringLiteral("Could not put the update in place: %1")
            .arg(QString::fromLocal8Bit(std::strerror(errno)));
    syncFileSystem(QFileInfo(m_path).absolutePath());
    return true;
}

} // namespace calmcove
