#include "atomicfile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <unistd.h>
#include <vector>

namespace calmcove {

namespace {

constexpr qint64 copyBlockSize = 1048576;
// Written bytes are sent to the disk in windows of this size as a copy goes, so that the
// closing fsync is short and a cancelled copy never waits for gigabytes of dirty pages.
constexpr qint64 writebackWindow = 8 * copyBlockSize;
const QString partialSuffix = QStringLiteral(".partial");

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

QString partialPathFor(const QString& finalPath)
{
    const QFileInfo info(finalPath);
    return info.path() + QStringLiteral("/.") + info.fileName() + partialSuffix;
}

bool isPartialFileName(const QString& fileName)
{
    return fileName.startsWith(QLatin1Char('.')) && fileName.endsWith(partialSuffix);
}

bool syncFile(const QString& path, QString* errorMessage)
{
    const int descriptor = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0 || ::fsync(descriptor) != 0) {
        if (errorMessage)
            *errorMessage = systemError();
        if (descriptor >= 0)
            ::close(descriptor);
        return false;
    }
    ::close(descriptor);
    return true;
}

bool renameOnto(const QString& from, const QString& to, QString* errorMessage)
{
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0)
        return true;
    if (errorMessage)
        *errorMessage = systemError();
    return false;
}

bool copyFileAtomically(const QString& source, const QString& target, QString* errorMessage,
                        const std::atomic<bool>* cancelled)
{
    const auto fail = [errorMessage](const QString& reason) {
        if (errorMessage)
            *errorMessage = reason;
        return false;
    };
    QFile input(source);
    if (!input.open(QIODevice::ReadOnly))
        return fail(input.errorString());
    QFile partial(partialPathFor(target));
    partial.remove();
    if (!partial.open(QIODevice::WriteOnly | QIODevice::NewOnly))
        return fail(partial.errorString());
    const auto discard = [&partial, &fail](const QString& reason) {
        partial.close();
        partial.remove();
        return fail(reason);
    };
    std::vector<char> block(copyBlockSize);
    qint64 written = 0;
    qint64 windowStart = 0;
    qint64 previousWindowStart = 0;
    for (;;) {
        if (cancelled && cancelled->load())
            return discard(QStringLiteral("The copy was cancelled."));
        const qint64 count = input.read(block.data(), copyBlockSize);
        if (count < 0)
            return discard(input.errorString());
        if (count == 0)
            break;
        if (partial.write(block.data(), count) != count)
            return discard(partial.errorString());
        written += count;
        if (written - windowStart >= writebackWindow) {
            if (!partial.flush())
                return discard(partial.errorString());
            // Starts this window's write-back and waits for the one before; errors are left
            // to the closing fsync.
            ::sync_file_range(partial.handle(), windowStart, written - windowStart,
                              SYNC_FILE_RANGE_WRITE);
            if (windowStart > previousWindowStart)
                ::sync_file_range(partial.handle(), previousWindowStart,
                                  windowStart - previousWindowStart,
                                  SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE |
                                      SYNC_FILE_RANGE_WAIT_AFTER);
            previousWindowStart = windowStart;
            windowStart = written;
        }
    }
    if (!partial.flush())
        return discard(partial.errorString());
    if (::fsync(partial.handle()) != 0)
        return discard(systemError());
    partial.close();
    QString reason;
    if (!renameOnto(partial.fileName(), target, &reason)) {
        partial.remove();
        return fail(reason);
    }
    return true;
}

bool moveFileAtomically(const QString& source, const QString& target, QString* errorMessage,
                        const std::atomic<bool>* cancelled)
{
    if (!syncFile(source, errorMessage))
        return false;
    if (::rename(QFile::encodeName(source).constData(), QFile::encodeName(target).constData()) == 0)
        return true;
    if (errno != EXDEV) {
        if (errorMessage)
            *errorMessage = systemError();
        return false;
    }
    if (!copyFileAtomically(source, target, errorMessage, cancelled))
        return false;
    QFile::remove(source);
    return true;
}

void removePartialFiles(const QString& folder)
{
    const QStringList names =
        QDir(folder).entryList({QStringLiteral(".*") + partialSuffix}, QDir::Files | QDir::Hidden);
    for (const QString& name : names)
        QFile::remove(folder + QLatin1Char('/') + name);
}

} // namespace calmcove
