#include "replaysource.h"

#include <algorithm>

namespace calmcove {

ReplaySource::ReplaySource(FrameSource& player, int capacityFrames)
    : m_player(player), m_ring(std::size_t(2 * capacityFrames)), m_capacity(capacityFrames)
{}

void ReplaySource::copyOut(qint64 from, float* frames, int count) const
{
    for (int done = 0; done < count;) {
        const qint64 at = (from + done) % m_capacity;
        const int n = int(std::min<qint64>(count - done, m_capacity - at));
        std::copy_n(m_ring.data() + 2 * at, 2 * n, frames + 2 * done);
        done += n;
    }
}

void ReplaySource::copyIn(const float* frames, int count)
{
    // Only the newest m_capacity frames can be kept.
    const int skipped = int(std::max<qint64>(0, count - m_capacity));
    for (int done = skipped; done < count;) {
        const qint64 at = (m_recorded + done) % m_capacity;
        const int n = int(std::min<qint64>(count - done, m_capacity - at));
        std::copy_n(frames + 2 * done, 2 * n, m_ring.data() + 2 * at);
        done += n;
    }
    m_recorded += count;
}

void ReplaySource::pull(float* frames, int count)
{
    const int replayed = int(std::min<qint64>(count, m_recorded - m_position));
    if (replayed > 0) {
        copyOut(m_position, frames, replayed);
        m_position += replayed;
    }
    const int rest = count - std::max(0, replayed);
    if (rest == 0)
        return;
    float* fresh = frames + 2 * std::max(0, replayed);
    if (m_replayOnly) {
        std::fill_n(fresh, 2 * rest, 0.0f);
        return;
    }
    m_player.pull(fresh, rest);
    copyIn(fresh, rest);
    m_position += rest;
}

} // namespace calmcove
