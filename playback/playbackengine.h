#pragma once

// What the playback controller needs of an audio engine: a file player that plays
// scheduled frame ranges of one file, followed by the sound chain (equaliser, speed
// change, reverb) and a volume. The program uses the real engine; tests use one driven by
// a manual clock. Every call is made on the main thread.

#include <functional>
#include <optional>
#include <QString>
#include <variant>

namespace calmcove {

// An opened audio file: its length and rate as the player counts them.
struct AudioFileInfo
{
    QString path;
    qint64 lengthFrames = 0;
    double sampleRate = 0; // frames per second
    bool operator==(const AudioFileInfo&) const = default;
};

class PlaybackEngine
{
public:
    virtual ~PlaybackEngine() = default;

    // Opens `path` for playing; the file's description, or the error's description.
    virtual std::variant<AudioFileInfo, QString> openFile(const QString& path) = 0;

    virtual bool isRunning() const = 0;
    // Starts the output; no value on success, else the error's description.
    virtual std::optional<QString> start() = 0;

    // Schedules frames [startFrame, startFrame + frameCount) of `file` after whatever is
    // already scheduled. `completion` runs exactly once, on any thread, after the last
    // frame has been played or when a stop discards the segment.
    virtual void scheduleSegment(const AudioFileInfo& file, qint64 startFrame, qint64 frameCount,
                                 std::function<void()> completion) = 0;
    // Discards everything scheduled and resets the player time to 0.
    virtual void stopPlayer() = 0;
    virtual void playPlayer() = 0;
    virtual void pausePlayer() = 0;
    virtual bool isPlayerPlaying() const = 0;
    // Frames of the scheduled segments played since the last stop, in the file's rate;
    // none while the player is not rendering.
    virtual std::optional<qint64> playerSampleTime() const = 0;

    // Gains in decibels of the bands at 140, 900 and 5200 Hz.
    virtual void setEqualiserGains(float low, float mid, float high) = 0;
    // Speed factor with preserved pitch; 1.0 is normal speed.
    virtual void setPlaybackRate(double rate) = 0;
    // Reverb wet share, percent 0…100.
    virtual void setReverbMix(double percent) = 0;
    // Player gain 0…1.
    virtual void setVolume(double volume) = 0;
};

} // namespace calmcove
