#pragma once

// The free space Calmcove keeps on the file systems it writes to: a reserve of the larger
// of 256 MiB and 5 % of the file system, so that an import never fills a disk. Any thread.

#include <optional>
#include <QString>
#include <QStringList>

namespace calmcove {

struct DiskReserve
{
    qint64 minimumBytes = qint64(256) * 1024 * 1024;
    double fraction = 0.05; // of the file system's size

    bool operator==(const DiskReserve&) const = default;
};

// Bytes that may still be written to `folder`'s file system (the nearest existing
// ancestor's when it does not exist yet) before its free space falls to the reserve;
// negative when it is below already. None when the file system cannot be asked.
std::optional<qint64> bytesAboveReserve(const QString& folder, const DiskReserve& reserve);

// Whether `bytes` more fit on the file system of each of `folders` above the reserve.
// A file system that cannot be asked counts as having room.
bool roomFor(qint64 bytes, const QStringList& folders, const DiskReserve& reserve);

} // namespace calmcove
