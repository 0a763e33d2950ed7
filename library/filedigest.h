#pragma once

// Streamed SHA-256 (OpenSSL) of data and files, and the memory of which files were
// verified: a digest is trusted only while the file keeps the size, modification time,
// change time, inode and device it had when it was hashed. The memory itself is main
// thread only; sha256OfFile and FileIdentity::of are safe on any thread.

#include <QHash>
#include <QString>

#include <atomic>
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
// opened or read, or when `stop` turns true between two blocks.
std::optional<QString> sha256OfFile(const QString& path, const std::atomic<bool>* stop = nullptr);

// What the file system tells about a regular file without reading it. Any write changes
// the change time, which no program can set back, so an equal identity means equal bytes.
struct FileIdentity
{
    qint64 size = 0;
    qint64 modified = 0; // nanoseconds since the epoch
    qint64 changed = 0;  // nanoseconds since the epoch
    quint64 inode = 0;
    quint64 device = 0;
    bool operator==(const FileIdentity&) const = default;

    // None when the path is no regular file or cannot be examined.
    static std::optional<FileIdentity> of(const QString& path);
};

// A digest and the identity of the file it was taken from.
struct VerifiedDigest
{
    FileIdentity identity;
    QString digest; // lower-case hexadecimal
    bool operator==(const VerifiedDigest&) const = default;
};

class FileDigestCache
{
public:
    // The file's size in bytes, none when it does not exist (or cannot be examined).
    static std::optional<qint64> fileSize(const QString& path);

    // The lower-case digest of the file, hashed (on the calling thread) at most once while
    // the file stays the same; none when it cannot be read.
    std::optional<QString> digest(const QString& path);
    // The digest known for the file whose identity the caller has just read, without
    // reading the file: none when it was never hashed or has changed since.
    std::optional<QString> knownDigest(const QString& path, const FileIdentity& current) const;
    // The known digest with the identity it holds for, under the same condition.
    std::optional<VerifiedDigest> knownEntry(const QString& path) const;
    // Records a digest computed elsewhere (while the file was downloaded) for the file as
    // it is now.
    void remember(const QString& path, const QString& digest);
    // Records a digest taken from the file when it had `entry.identity` (a verification
    // record or a hash computed on another thread); it counts only while that still holds.
    void remember(const QString& path, const VerifiedDigest& entry);
    // Paths with an entry (current or not), in no particular order.
    QList<QString> paths() const { return m_entries.keys(); }

private:
    QHash<QString, VerifiedDigest> m_entries;
};

} // namespace calmcove
