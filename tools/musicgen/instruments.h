#pragma once

// The pitched instruments: electric piano, pad, bass, lead, plucked string, bells and
// arpeggio synth. Each is a fixed pool of voices driven by a part's note events; the
// renderer calls render() once per block (no per-sample virtual calls, no allocation
// after construction).

#include "score.h"
#include "style.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace calmcove::musicgen {

class Instrument
{
public:
    virtual ~Instrument() = default;
    // Starts the events (sorted by start) that begin before blockStart + frames and adds
    // the block's sound to left and right. Call with consecutive blocks from frame 0.
    virtual void render(const std::vector<NoteEvent>& events, std::int64_t blockStart, int frames,
                        float* left, float* right) = 0;
};

// The instrument that plays a part, voiced for the style (brightness, haze, kind).
// seed varies start phases and noise between pieces.
std::unique_ptr<Instrument> makeInstrument(Part part, const Style& style, std::uint32_t seed);

} // namespace calmcove::musicgen
