#pragma once

// Connects the player to the real audio engine: the controller's narrow engine contract
// (PlaybackEngine) carried out by AudioEngine and its player node, each file played at the
// gain a lookup names for it. Main thread only.

#include "playbackengine.h"

#include <array>
#include <functional>
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

    // The gain in dB to play a file at, asked for every scheduled segment; without a
    // lookup every file plays at 0 dB.
    using GainLookup = std::function<double(const QString& path)>;
    void setGainLookup(GainLookup lookup) { m_gainLookup = std::move(lookup); }
    // A file's gain became known or changed: its scheduled segments take it at once.
    void setFileGain(const QString& path, double gainDb);

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
    // The files opened last, newest first: the controller schedules the current track's
    // and the one queued behind it.
    std::array<std::shared_ptr<const AudioFile>, 2> m_files;
    GainLookup m_gainLookup;
};

} // namespace calmcove
