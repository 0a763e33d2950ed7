#include "engineplayback.h"

#include "audioengine.h"

namespace calmcove {

EnginePlayback::EnginePlayback(AudioEngine& engine)
    : m_engine(engine)
{
}

EnginePlayback::~EnginePlayback() = default;

std::variant<AudioFileInfo, QString> EnginePlayback::openFile(const QString& path)
{
    QString error;
    auto file = AudioFile::open(path, &error);
    if (!file)
        return error;
    m_file = std::move(file);
    return AudioFileInfo{path, m_file->length(), double(m_file->sampleRate())};
}

bool EnginePlayback::isRunning() const
{
    return m_engine.isRunning();
}

std::optional<QString> EnginePlayback::start()
{
    QString error;
    if (m_engine.start(&error))
        return std::nullopt;
    return error;
}

void EnginePlayback::scheduleSegment(const AudioFileInfo& file, qint64 startFrame,
                                     qint64 frameCount, std::function<void()> completion)
{
    if (!m_file || m_file->path() != file.path) {
        QString error;
        m_file = AudioFile::open(file.path, &error);
        if (!m_file) {
            completion();
            return;
        }
    }
    m_engine.player().scheduleSegment(
        m_file, startFrame, frameCount,
        [completion = std::move(completion)](PlayerNode::SegmentEnd) { completion(); });
}

void EnginePlayback::stopPlayer()
{
    m_engine.player().stop();
}

void EnginePlayback::playPlayer()
{
    m_engine.player().play();
}

void EnginePlayback::pausePlayer()
{
    m_engine.player().pause();
}

bool EnginePlayback::isPlayerPlaying() const
{
    return m_engine.player().isPlaying();
}

std::optional<qint64> EnginePlayback::playerSampleTime() const
{
    return m_engine.player().sampleTime();
}

void EnginePlayback::setEqualizerGains(float low, float mid, float high)
{
    m_engine.setEqualiserGains(low, mid, high);
}

void EnginePlayback::setPlaybackRate(double rate)
{
    m_engine.setRate(rate);
}

void EnginePlayback::setReverbMix(double percent)
{
    m_engine.setReverbMix(percent);
}

void EnginePlayback::setVolume(double volume)
{
    m_engine.setVolume(volume);
}

} // namespace calmcove
