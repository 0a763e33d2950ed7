#pragma once

// A playback engine for controller tests: no sound, a clock the test advances by hand,
// segment completions delivered the way the real engine delivers them; and a track
// library in which every track is installed.

#include "playback/playbackengine.h"
#include "playback/trackaudiolibrary.h"

#include <deque>
#include <QHash>
#include <QSet>

namespace calmcove::test {

class ManualEngine : public PlaybackEngine
{
public:
    struct Segment
    {
        QString path;
        qint64 startFrame = 0;
        qint64 frameCount = 0;
        std::function<void()> completion;
    };

    static constexpr double sampleRate = 44100;

    // Files open with this many seconds of audio unless listed in `lengths`.
    double defaultSeconds = 100;
    QHash<QString, double> lengths;
    QSet<QString> unreadable;
    std::optional<QString> startError;

    std::variant<AudioFileInfo, QString> openFile(const QString& path) override
    {
        opened.append(path);
        if (unreadable.contains(path))
            return QStringLiteral("The file is damaged.");
        return AudioFileInfo{path, qint64(lengths.value(path, defaultSeconds) * sampleRate),
                             sampleRate};
    }
    bool isRunning() const override { return running; }
    std::optional<QString> start() override
    {
        if (startError)
            return startError;
        running = true;
        return std::nullopt;
    }
    void scheduleSegment(const AudioFileInfo& file, qint64 startFrame, qint64 frameCount,
                         std::function<void()> completion) override
    {
        segments.push_back({file.path, startFrame, frameCount, std::move(completion)});
    }
    void stopPlayer() override
    {
        auto discarded = std::move(segments);
        segments.clear();
        for (Segment& segment : discarded)
            segment.completion();
        playing = false;
        played = 0;
        segmentPlayed = 0;
    }
    void playPlayer() override { playing = true; }
    void pausePlayer() override { playing = false; }
    bool isPlayerPlaying() const override { return playing; }
    std::optional<qint64> playerSampleTime() const override
    {
        return running ? std::optional(played) : std::nullopt;
    }
    void setEqualiserGains(float low, float mid, float high) override { gains = {low, mid, high}; }
    void setPlaybackRate(double value) override { rate = value; }
    void setReverbMix(double percent) override { reverbMix = percent; }
    void setVolume(double value) override { volume = value; }

    // Plays `seconds` of audio if the player is playing, completing segments on the way.
    void advance(double seconds)
    {
        qint64 frames = qint64(seconds * sampleRate);
        while (running && playing && frames > 0 && !segments.empty()) {
            Segment& segment = segments.front();
            const qint64 step = std::min(frames, segment.frameCount - segmentPlayed);
            segmentPlayed += step;
            played += step;
            frames -= step;
            if (segmentPlayed == segment.frameCount) {
                Segment finished = std::move(segment);
                segments.pop_front();
                segmentPlayed = 0;
                finished.completion();
            }
        }
    }

    bool running = false;
    bool playing = false;
    qint64 played = 0;
    qint64 segmentPlayed = 0;
    std::deque<Segment> segments;
    QStringList opened;
    std::array<float, 3> gains{};
    double rate = 0;
    double reverbMix = 0;
    double volume = 0;
};

// Every track is installed, under /library/<resource name>.m4a.
class InstalledLibrary : public TrackAudioLibrary
{
public:
    std::optional<QString> localPath(const QString& resourceName) const override
    {
        return QStringLiteral("/library/") + resourceName + QStringLiteral(".m4a");
    }
    std::optional<QString> starterPath(const QString&) const override { return std::nullopt; }
    bool isTrackAvailable(const CalmTrack&) const override { return true; }
    void requestLatestPackIfNeeded() override {}
};

} // namespace calmcove::test
