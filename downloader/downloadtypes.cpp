#include "downloadtypes.h"

#include <algorithm>

namespace calmcove {

QList<ByteRange> downloadChunkRanges(qint64 totalBytes)
{
    QList<ByteRange> ranges;
    for (qint64 first = 0; first < totalBytes; first += downloadChunkSize)
        ranges.append({first, std::min(first + downloadChunkSize, totalBytes) - 1});
    return ranges;
}

} // namespace calmcove
