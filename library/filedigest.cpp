#include "filedigest.h"

#include <QFile>

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace calmcove {

struct Sha256::Context
{
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    ~Context() { EVP_MD_CTX_free(md); }
};

Sha256::Sha256() : m_context(std::make_unique<Context>())
{
    EVP_DigestInit_ex(m_context->md, EVP_sha256(), nullptr);
}

Sha256::~Sha256() = default;

void Sha256::update(const char* data, qint64 size)
{
    EVP_DigestUpdate(m_context->md, data, size_t(size));
}

QString Sha256::hexDigest()
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(m_context->md, digest, &length);
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char*>(digest), int(length)).toHex());
}

std::optional<QString> sha256OfFile(const QString& path, const std::atomic<bool>* stop)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    constexpr size_t blockSize = 1 << 20;
    std::vector<char> buffer(blockSize);
    Sha256 hash;
    bool failed = false;
    for (;;) {
        if (stop && stop->load(std::memory_order_relaxed)) {
            failed = true;
            break;
        }
        const ssize_t count = ::read(fd, buffer.data(), blockSize);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            failed = true;
        if (count <= 0)
            break;
        hash.update(buffer.data(), count);
    }
    ::close(fd);
    if (failed)
        return std::nullopt;
    return hash.hexDigest();
}

std::optional<qint64> FileDigestCache::fileSize(const QString& path)
{
    const auto identity = FileIdentity::of(path);
    if (!identity)
        return std::nullopt;
    return identity->size;
}

std::optional<FileIdentity> FileIdentity::of(const QString& path)
{
    struct stat info;
    if (::stat(QFile::encodeName(path).constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    const auto nanoseconds = [](const timespec& t) {
        return qint64(t.tv_sec) * 1000000000 + qint64(t.tv_nsec);
    };
    return FileIdentity{qint64(info.st_size), nanoseconds(info.st_mtim), nanoseconds(info.st_ctim),
                        quint64(info.st_ino), quint64(info.st_dev)};
}

std::optional<QString> FileDigestCache::digest(const QString& path)
{
    const auto before = FileIdentity::of(path);
    if (!before)
        return std::nullopt;
    const auto known = m_entries.constFind(path);
    if (known != m_entries.cend() && known->identity == *before)
        return known->digest;
    const auto digest = sha256OfFile(path);
    if (!digest)
        return std::nullopt;
    // Only remember a digest if the file did not change while it was read.
    if (FileIdentity::of(path) == before)
        m_entries.insert(path, VerifiedDigest{*before, *digest});
    else
        m_entries.remove(path);
    return digest;
}

std::optional<VerifiedDigest> FileDigestCache::knownEntry(const QString& path) const
{
    const auto known = m_entries.constFind(path);
    if (known == m_entries.cend() || FileIdentity::of(path) != known->identity)
        return std::nullopt;
    return *known;
}

std::optional<QString> FileDigestCache::knownDigest(const QString& path,
                                                    const FileIdentity& current) const
{
    const auto known = m_entries.constFind(path);
    if (known == m_entries.cend() || known->identity != current)
        return std::nullopt;
    return known->digest;
}

void FileDigestCache::remember(const QString& path, const QString& digest)
{
    if (const auto identity = FileIdentity::of(path))
        m_entries.insert(path, VerifiedDigest{*identity, digest});
}

void FileDigestCache::remember(const QString& path, const VerifiedDigest& entry)
{
    m_entries.insert(path, entry);
}

} // namespace calmcove
