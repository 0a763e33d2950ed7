#pragma once

// The render-thread half of the player: takes the main thread's commands, plays the
// scheduled segments' decoded audio one after another without a gap, each at its own file
// gain, fades over 15 ms at every start, pause and stop, and reports finished segments back.

#include "playersegment.h"
#include "timestretch.h"
#include "wakeup.h"

#include <array>
#include <atomic>
#include <utility>
#include <vector>

namespace calmcove {

class PlayerStage final : public FrameSource
{
public:
    // Every start, pause and stop fades over this long: long enough not to click, short
    // enough to feel immediate.
    static constexpr double fadeSeconds = 0.015;
    // A file gain changed while its segment plays moves there linearly over this long.
    static constexpr double gainGlideSeconds = 0.05;
    // Offline rendering would rather wait this long for the decoder than render a gap.
    static constexpr double offlineWaitSeconds = 5.0;
    // A segment's start is waited for at most startWaitSeconds, until startSeconds of it are
    // decoded (more than a cut renders at once).
    static constexpr double startWaitSeconds = 0.1;
    static constexpr double startSeconds = 0.3;

    // decoderWakeup is notified when events are waiting or a segment wants more audio.
    PlayerStage(int sampleRate, int maxBlockFrames, Wakeup& decoderWakeup);

    // Filled by the main thread, drained by processCommands().
    SpscRing<PlayerCommand>& commands() { return m_commands; }
    // Filled by processCommands()/endBlock(), drained by the decoder thread.
    SpscRing<PlayerEvent>& events() { return m_events; }

    // Everything below runs on the render thread, or on the main thread while no render
    // thread exists (never both).
    void processCommands();
    void apply(const PlayerCommand& command);
    // outputFrames: frames rendered so far; latencyFrames: how long a frame pulled now takes
    // to be heard; waitSeconds: how long pull() may wait for the decoder in this block
    // rather than go silent.
    void beginBlock(qint64 outputFrames, double latencyFrames, double waitSeconds);
    // How long the last block waited for the decoder.
    double waitedSeconds() const { return m_waited; }
    void pull(float* frames, int count) override;
    void endBlock(qint64 outputFrames);
    // Nothing playing, nothing fading.
    bool idle() const;
    // A cut pause or stop has been applied since the last call: the sound was cut off there.
    bool takeCut() { return std::exchange(m_cut, false); }

    // Any thread: the sample time as (generation << 48 | file frames), see PlayerNode.
    std::uint64_t packedSampleTime() const { return m_sampleTime.load(std::memory_order_acquire); }
    // Any thread: blocks in which audio was due but the decoder had none ready.
    std::uint64_t underruns() const { return m_underruns.load(std::memory_order_relaxed); }

private:
    PlayerSegment* current() const { return m_queueSize > 0 ? m_queue[m_queueHead] : nullptr; }
    void popCurrent();
    void finishCurrent(const PlayerSegment& segment, int pulledSoFar);
    void releaseGhost();
    void addGhost(float* frames, int count);
    void scale(const PlayerSegment& segment, float* frames, int count);
    // Waits at most `seconds` until `frames` (or the rest of the segment) are decoded.
    bool waitForAudio(PlayerSegment* segment, double seconds, qint64 frames);

    void post(PlayerEvent::Type type, quint64 id);
    void publishSampleTime();

    static constexpr int queueCapacity = 64;
    static constexpr int finishingCapacity = 64;

    SpscRing<PlayerCommand> m_commands{1024};
    SpscRing<PlayerEvent> m_events{4096};
    Wakeup& m_decoderWakeup;

    std::array<PlayerSegment*, queueCapacity> m_queue{};
    int m_queueHead = 0, m_queueSize = 0;
    struct Finishing
    {
        quint64 id;
        qint64 playedAt; // output frame at which its last frame is heard
    };
    std::array<Finishing, finishingCapacity> m_finishing{};
    int m_finishingCount = 0;

    bool m_playing = false;
    bool m_cut = false;
    float m_gain = 0;                 // fade gain of the current segment
    float m_fadeStep;                 // per frame
    PlayerSegment* m_ghost = nullptr; // a stopped segment fading out
    float m_ghostGain = 0;
    float m_ghostFileGain = 1;

    // The file gain as applied to the current segment, gliding towards the segment's gain.
    quint64 m_fileGainSegmentID = 0;
    float m_fileGain = 1;
    float m_fileGainTarget = 1;
    float m_fileGainStep = 0;
    int m_glideFrames;
    std::size_t m_refillFrames; // free room in a ring at which the decoder is asked for more
    qint64 m_startFrames;
    std::vector<float> m_scratch;

    std::uint16_t m_generation = 0;
    qint64 m_generationFrames = 0; // file frames of this generation's finished segments

    qint64 m_blockStart = 0;
    double m_latency = 0;
    double m_waitSeconds = 0;
    double m_waited = 0;
    int m_pulled = 0; // frames pulled since beginBlock
    bool m_wantDecoder = false;
    bool m_underrunInBlock = false;
    quint64 m_startWaitedFor = 0; // the segment whose start was waited for

    std::atomic<std::uint64_t> m_sampleTime{0};
    std::atomic<std::uint64_t> m_underruns{0};
};

} // namespace calmcove
