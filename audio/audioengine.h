#pragma once

// Calmcove's audio engine: a file player feeding the sound chain (equaliser, pitch-keeping
// speed change, reverb, volume) into an output backend. Three threads: the main thread
// calls everything here; a decoder thread reads files ahead; the output's render thread
// runs the chain. Completions come back to the main thread as queued calls.

#include "audiooutput.h"
#include "media/audiofile.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <unordered_map>

namespace calmcove {

class AudioEngine;
class DecoderThread;
class RenderChain;
class Wakeup;
struct PlayerCommand;
struct PlayerEvent;
struct PlayerSegment;

// The engine's file player, after AVAudioPlayerNode: frame ranges of files are scheduled
// one after another and play without gaps between them. Main thread only.
class PlayerNode
{
public:
    enum class SegmentEnd
    {
        played,   // its last frame has been heard (or the file ended early / became unreadable)
        discarded // a stop() dropped it
    };
    using Completion = std::function<void(SegmentEnd)>;

    // Appends frames [startFrame, startFrame + frameCount) of file (file frames, clamped to
    // the file) to the queue, played with `gainDb` before the sound chain. completion is
    // called exactly once, always as a queued call on the main thread, never from within
    // this call. Returns the segment's number.
    quint64 scheduleSegment(std::shared_ptr<const AudioFile> file, qint64 startFrame,
                            qint64 frameCount, Completion completion, double gainDb = 0.0);
    // Changes the gain of every scheduled segment of the file at `path`; a playing one
    // glides there over about 50 ms.
    void setFileGain(const QString& path, double gainDb);
    // Starts or resumes (with a 15 ms fade-in). Allowed while the engine is stopped: the
    // player then plays once the engine runs.
    void play();
    // Holds the position (after a 15 ms fade-out, heard within about 50 ms); play() resumes
    // there.
    void pause();
    // Discards every scheduled segment (their completions report discarded) and resets
    // the sample time; the audible one fades out over 15 ms, heard within about 50 ms.
    void stop();
    bool isPlaying() const { return m_playing; }
    // File frames heard since the last stop() (pause does not reset it), counted across
    // consecutive segments; nullopt while not playing or the engine is not running. Frames
    // are counted as they enter the chain, less what the output holds still unheard where
    // it can tell (pulse).
    std::optional<qint64> sampleTime() const;

private:
    friend class AudioEngine;
    explicit PlayerNode(AudioEngine& engine) : m_engine(engine) {}

    AudioEngine& m_engine;
    bool m_playing = false;
    std::uint16_t m_generation = 0;
};

class AudioEngine : public QObject
{
    Q_OBJECT

public:
    static constexpr int defaultSampleRate = 44100;

    // Takes the output backend (see createAudioOutput()); decodes everything to sampleRate.
    // Starts the decoder thread; the output stays closed until start().
    explicit AudioEngine(std::unique_ptr<AudioOutput> output, int sampleRate = defaultSampleRate,
                         QObject* parent = nullptr);
    ~AudioEngine() override;

    // Opens the output. On failure (e.g. no sound server) returns false with the reason,
    // and the engine stays stopped and usable; start() may be tried again later.
    bool start(QString* errorMessage);
    // Fades everything out (15 ms where the output can cut its buffer short, else 20 ms),
    // waits until the faded end has been heard (at most stopFadeLimitMs) and closes the
    // output; the player keeps its segments and position (which a 20 ms fade moved on by its
    // length), and the sound fades in again after the next start().
    void stop();
    static constexpr int stopFadeLimitMs = 400;
    bool isRunning() const { return m_running; }
    int sampleRate() const { return m_sampleRate; }
    AudioOutput& output() { return *m_output; }
    PlayerNode& player() { return m_player; }

    // Sound settings, main thread; each is heard within about 50 ms (where the output can
    // render its buffer again, else after it), without clicks.
    // Gains in dB at 140, 900 and 5200 Hz (RBJ peaking, one octave wide).
    void setEqualiserGains(double lowDb, double midDb, double highDb);
    // Speed factor with the pitch kept (SoundTouch); exactly 1.0 leaves the audio untouched.
    // Clamped to 0.5…2.0.
    void setRate(double rate);
    // Reverb wet share in percent, clamped to 0…100.
    void setReverbMix(double percent);
    // Linear output gain, clamped to 0…1.
    void setVolume(double volume);

    // Any thread: times the decoder had no audio ready when it was due, plus the output's
    // own underruns. Should stay 0.
    std::uint64_t underruns() const;

private:
    friend class PlayerNode;

    struct SegmentEntry
    {
        std::shared_ptr<PlayerSegment> segment;
        PlayerNode::Completion completion;
        bool completed = false;
    };

    void submit(const PlayerCommand& command);
    // Pause and stop: the output cuts its buffered sound short where it can (so that the
    // interruption is heard at once, not after the buffer) and the player then applies the
    // commands without a fade of its own; otherwise the player fades as usual.
    void interrupt(std::initializer_list<PlayerCommand> commands);
    void handleEvent(const PlayerEvent& event);
    // Stores a setting; true when it changed.
    static bool store(std::atomic<double>& setting, double value);
    void settingChanged();
    static constexpr int renderAgainIntervalMs = 50;

    int m_sampleRate;
    std::unique_ptr<AudioOutput> m_output;
    std::unique_ptr<Wakeup> m_decoderWakeup;
    std::unique_ptr<RenderChain> m_chain;
    std::unique_ptr<DecoderThread> m_decoder;
    PlayerNode m_player;
    bool m_running = false;
    quint64 m_nextSegmentID = 1;
    std::unordered_map<quint64, SegmentEntry> m_segments;
    QTimer m_renderAgainTimer;
    QElapsedTimer m_lastRenderAgain;
};

} // namespace calmcove
