#pragma once

// Connects the player to the real audio engine: the controller's narrow engine contract
// (PlaybackEngine) carried out by AudioEngine and its player node. Main thread only.

#include "playbackengine.h"

#include <memory>

namespace calmcove {

class AudioEngine;
class AudioFile;

class AudioEngineAdapter : public PlaybackEngine
{
public:
    // The engine must outlive this object.
    explicit AudioEngineAdapter(AudioEngine& engine);
    ~AudioEngineAdapter() override;

    std::variant<AudioFileInfo, QString> openFile(const QString& path) override;
    bool isRunning() const override;
    std::optional<QString> start() override;
    void scheduleSegment(const AudioFileInfo& file, qint64 startFrame, qint64 frameCount,
                         std::function<void()> completion) override;
    void stopPlayer() override;
    void playPlayer() override;
    void pausePlayer() override;
    bool isPlayerPlaying() const override;
    std::optional<qint64> playerSampleTime() const override;
    void setEqualiserGains(float low, float mid, float high) override;
    void setPlaybackRate(double rate) override;
    void setReverbMix(double percent) override;
    void setVolume(double volume) override;

private:
    AudioEngine& m_engine;
    // The file opened last: the one the controller schedules.
    std::shared_ptr<const AudioFile> m_file;
};

} // namespace calmcove
