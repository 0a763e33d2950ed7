#pragma once

// The drum kit: every sound (kick, snare, rim, brush, hats, shaker, clap, glitch clicks
// and blips) is synthesised once per piece into a short sample, tuned by the piece's id
// and style, and then played back by a pool of sample voices.

#include "score.h"
#include "style.h"

#include <array>
#include <cstdint>
#include <vector>

namespace calmcove::musicgen {

class DrumKit
{
public:
    static constexpr int maxVariants = 6;

    DrumKit(const Style& style, std::uint64_t seed);

    // Starts the hits (sorted by start) that begin before blockStart + frames and adds the
    // block's sound to left and right. Call with consecutive blocks from frame 0.
    void render(const std::vector<DrumHit>& hits, std::int64_t blockStart, int frames, float* left,
                float* right);

    // The sample of a sound (for tests and inspection); variant is wrapped.
    const std::vector<float>& sample(DrumSound sound, int variant) const;

private:
    struct Voice
    {
        const float* data = nullptr;
        int length = 0;
        int position = 0;
        int delay = 0;
        float left = 0;
        float right = 0;
    };

    std::array<std::vector<std::vector<float>>, drumSoundCount> samples_;
    std::array<Voice, 32> voices_{};
    std::size_t next_ = 0;
};

} // namespace calmcove::musicgen
