#pragma once

// Keeps the last seconds of what the player handed to the sound chain, so that the chain
// can run again over the same sound with new settings (RenderChain::renderAgain()): after
// rewindTo(), pulls replay what was kept and then go on with the player.

#include "timestretch.h"

#include <algorithm>
#include <QtGlobal>
#include <vector>

namespace calmcove {

class ReplaySource final : public FrameSource
{
public:
    // capacityFrames 0 keeps nothing: every pull goes to the player.
    ReplaySource(FrameSource& player, int capacityFrames);

    // Render thread (or the main thread while the render thread is held off).
    void pull(float* frames, int count) override;
    // Frames handed out so far: the number of the next one.
    qint64 position() const { return m_position; }
    // The end of what the player has delivered; frames before it are replayed first.
    qint64 recordedEnd() const { return m_recorded; }
    // The earliest frame still kept.
    qint64 oldestKept() const { return std::max<qint64>(0, m_recorded - m_capacity); }
    // The next pull starts at `frame` (oldestKept() … recordedEnd()).
    void rewindTo(qint64 frame) { m_position = std::clamp(frame, oldestKept(), m_recorded); }
    // While set, pulls beyond what was recorded give silence instead of asking the player:
    // a run over the kept sound must not take anything new from it.
    void setReplayOnly(bool replayOnly) { m_replayOnly = replayOnly; }

private:
    void copyOut(qint64 from, float* frames, int count) const;
    void copyIn(const float* frames, int count);

    FrameSource& m_player;
    std::vector<float> m_ring;
    qint64 m_capacity;
    qint64 m_recorded = 0;
    qint64 m_position = 0;
    bool m_replayOnly = false;
};

} // namespace calmcove
