#pragma once

// The verification records kept beside each pack: for every audio file that passed its
// check, the digest it had and the identity (size, inode, device, modification and change
// times in nanoseconds) of the file at that moment. A launch trusts an unchanged file on
// its record and reads only the files whose identity differs. Safe on any thread.

#include "library/audiopackerror.h"
#include "library/filedigest.h"

#include <QHash>
#include <QString>

namespace calmcove {

// Audio file name → its record.
using VerificationRecords = QHash<QString, VerifiedDigest>;

inline const QString verificationRecordsFileName = QStringLiteral("verified-files.json");

// The records of the pack at `packDirectory`; empty when there is no readable, well-formed
// records file (every file is then hashed again). Malformed entries are skipped.
VerificationRecords readVerificationRecords(const QString& packDirectory);
// Replaces the pack's records file atomically (a temporary file renamed into place).
Result<void> writeVerificationRecords(const QString& packDirectory,
                                      const VerificationRecords& records);

} // namespace calmcove
