#pragma once

// Encodes rendered audio to AAC in an .m4a file by piping raw float samples into the
// `ffmpeg` program found on PATH. The file appears atomically: ffmpeg writes a partial
// file beside the target, which is renamed only when encoding succeeded.
// Thread-safe: several encodes may run at once.

#include <string>
#include <vector>

namespace calmcove::musicgen {

struct EncodeSettings
{
    int bitrateKbps = 96;
    std::string title; // stored as metadata when not empty
    std::string artist;
};

struct EncodeResult
{
    bool ok = false;
    std::string error; // a complete sentence for the user when !ok
};

// interleavedStereo: 44.1 kHz float samples. Fails (never throws) when ffmpeg is missing,
// the target's folder cannot be written or ffmpeg reports an error.
EncodeResult encodeM4a(const std::vector<float>& interleavedStereo, const std::string& path,
                       const EncodeSettings& settings = {});

} // namespace calmcove::musicgen
