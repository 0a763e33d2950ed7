// The pack index and manifest decoders and validators: never crash, and a manifest that
// decodes also encodes to one that decodes.

#include "library/audiopackformat.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray json(reinterpret_cast<const char*>(data), qsizetype(size));
    if (const auto index = calmcove::decodeAudioPackIndex(json); index.ok())
        (void)calmcove::validateIndex(*index);
    const auto manifest = calmcove::decodeAudioPackManifest(json);
    if (!manifest.ok())
        return 0;
    (void)calmcove::validateManifest(*manifest, QStringLiteral("1.0"));
    const auto again =
        calmcove::decodeAudioPackManifest(calmcove::encodeAudioPackManifest(*manifest));
    if (!again.ok())
        std::abort();
    return 0;
}
