#include "captureoutput.h"

#include <algorithm>

namespace calmcove {

bool CaptureOutput::start(const AudioFormat& format, Renderer* renderer, QString*)
{
    m_format = format;
    m_renderer = renderer;
    m_block.resize(std::size_t(512 * format.channels));
    return true;
}

bool CaptureOutput::render(int frames)
{
    bool active = true;
    while (m_renderer && frames > 0) {
        const int n = std::min(frames, 512);
        active = m_renderer->render(m_block.data(), n, RenderTiming{.realTime = false});
        if (m_keep)
            m_audio.insert(m_audio.end(), m_block.begin(),
                           m_block.begin() + std::ptrdiff_t(n * m_format.channels));
        frames -= n;
    }
    return active;
}

} // namespace calmcove
