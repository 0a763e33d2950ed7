// The album index decoder: never crashes, and what it accepts is saved the same way every
// time it is read back and saved again.

#include "albums/albumindex.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray json(reinterpret_cast<const char*>(data), qsizetype(size));
    const auto records = calmcove::decodeAlbumIndex(json);
    if (!records)
        return 0;
    const auto encoded = calmcove::encodeAlbumIndex(*records);
    if (!encoded)
        return 0; // a duration JSON cannot hold, refused as documented
    const auto reread = calmcove::decodeAlbumIndex(*encoded);
    if (!reread || calmcove::encodeAlbumIndex(*reread) != encoded)
        std::abort();
    return 0;
}
