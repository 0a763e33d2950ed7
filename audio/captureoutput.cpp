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

qint64 CaptureOutput::renderTailAgain(qint64 framesBack)
{
    const auto channels = std::size_t(m_format.channels);
    if (!m_renderer || !m_keep || std::size_t(framesBack) * channels > m_audio.size())
        return -1;
    std::vector<float> again(std::size_t(framesBack) * channels);
    const auto rerendered = m_renderer->renderAgain(framesBack, again.data(), int(framesBack));
    if (rerendered.framesBack < 0)
        return -1;
    m_audio.resize(m_audio.size() - std::size_t(rerendered.framesBack) * channels);
    m_audio.insert(m_audio.end(), again.begin(),
                   again.begin() + std::ptrdiff_t(std::size_t(rerendered.frames) * channels));
    return rerendered.framesBack;
}

} // namespace calmcove
