#include "audioengineadapter.h"

#include "audio/audioengine.h"

#include <algorithm>

namespace calmcove {

AudioEngineAdapter::AudioEngineAdapter(AudioEngine& engine) : m_engine(engine) {}

AudioEngineAdapter::~AudioEngineAdapter() = default;

std::variant<AudioFileInfo, QString> AudioEngineAdapter::openFile(const QString& path)
{
    QString error;
    auto file = AudioFile::open(path, &error);
    if (!file)
        return error;
    m_files = {file, m_files[0]};
    return AudioFileInfo{path, file->length(), double(file->sampleRate())};
}

bool AudioEngineAdapter::isRunning() const
{
    return m_engine.isRunning();
}

std::optional<QString> AudioEngineAdapter::start()
{
    QString error;
    if (m_engine.start(&error))
        return std::nullopt;
    return error;
}

void AudioEngineAdapter::scheduleSegment(const AudioFileInfo& file, qint64 startFrame,
                                         qint64 frameCount, std::function<void()> completion)
{
    const auto found = std::find_if(m_files.cbegin(), m_files.cend(), [&file](const auto& opened) {
        return opened && opened->path() == file.path;
    });
    std::shared_ptr<const AudioFile> audio = found != m_files.cend() ? *found : nullptr;
    if (!audio) {
        QString error;
        audio = AudioFile::open(file.path, &error);
        if (!audio) {
            completion();
            return;
        }
        m_files = {audio, m_files[0]};
    }
    const double gainDb = m_gainLookup ? m_gainLookup(file.path) : 0.0;
    m_engine.player().scheduleSegment(
        audio, startFrame, frameCount,
        [completion = std::move(completion)](PlayerNode::SegmentEnd) { completion(); }, gainDb);
}

void AudioEngineAdapter::setFileGain(const QString& path, double gainDb)
{
    m_engine.player().setFileGain(path, gainDb);
}

void AudioEngineAdapter::stopPlayer()
{
    m_engine.player().stop();
}

void AudioEngineAdapter::playPlayer()
{
    m_engine.player().play();
}

void AudioEngineAdapter::pausePlayer()
{
    m_engine.player().pause();
}

bool AudioEngineAdapter::isPlayerPlaying() const
{
    return m_engine.player().isPlaying();
}

std::optional<qint64> AudioEngineAdapter::playerSampleTime() const
{
    return m_engine.player().sampleTime();
}

void AudioEngineAdapter::setEqualiserGains(float low, float mid, float high)
{
    m_engine.setEqualiserGains(low, mid, high);
}

void AudioEngineAdapter::setPlaybackRate(double rate)
{
    m_engine.setRate(rate);
}

void AudioEngineAdapter::setReverbMix(double percent)
{
    m_engine.setReverbMix(percent);
}

void AudioEngineAdapter::setVolume(double volume)
{
    m_engine.setVolume(volume);
}

} // namespace calmcove
