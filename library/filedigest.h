#pragma once

// Streamed SHA-256 (OpenSSL) of data and files, and the per-launch memory of which files
// were already verified: a file is hashed again only when its path, size, modification
// time, change time or inode differ from the last time. Main thread only.

#include <QHash>
#include <QString>

#include <memory>
#include <optional>

namespace calmcove {

// Incremental SHA-256.
class Sha256
{
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void update(const char* data, qint64 size);
    // The digest as 64 lower-case hexadecimal digits; the object cannot be updated after.
    QString hexDigest();

private:
    struct Context;
    std::unique_ptr<Context> m_context;
};

// The digest of the whole file at `path`, read in 1 MiB blocks; none when it cannot be
// opened or read.
std::optional<QString> sha256OfFile(const QString& path);

class FileDigestCache
{
public:
    // The file's size in bytes, none when it does not exist (or cannot be examined).
    static std::optional<qint64> fileSize(const QString& path);

    // The lower-case digest of the file, hashed at most once while the file stays the
    // same; none when it cannot be read.
    std::optional<QString> digest(const QString& path);
    // Records a digest computed elsewhere (while the file was downloaded) for the file as
    // it is now.
    void remember(const QString& path, const QString& digest);

private:
    struct Identity
    {
        qint64 size = 0;
        qint64 modified = 0; // nanoseconds since the epoch
        qint64 changed = 0;  // nanoseconds since the epoch
        quint64 inode = 0;
        quint64 device = 0;
        bool operator==(const Identity&) const = default;
    };
    struct Entry
    {
        Identity identity;
        QString digest;
    };
    static std::optional<Identity> identify(const QString& path);

    QHash<QString, Entry> m_entries;
};

} // namespace calmcove
