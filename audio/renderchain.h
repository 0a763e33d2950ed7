#pragma once

// The sound chain the render thread runs for every buffer: player → equaliser → time
// stretch (out of the path at rate 1.0) → reverb → volume. Parameters are set from any
// thread through atomics and glide in over about 20 ms. What the player delivered lately is
// kept, so that the output can have the sound it holds rendered again with new settings.

#include "audiooutput.h"
#include "equaliser.h"
#include "playerstage.h"
#include "replaysource.h"
#include "reverb.h"
#include "timestretch.h"

#include <atomic>
#include <vector>

namespace calmcove {

// Written by the main thread, read by the render thread at the start of every buffer.
struct ChainParameters
{
    std::atomic<double> lowGain{0};   // dB
    std::atomic<double> midGain{0};   // dB
    std::atomic<double> highGain{0};  // dB
    std::atomic<double> rate{1};      // speed factor
    std::atomic<double> reverbMix{0}; // percent wet
    std::atomic<double> volume{1};    // linear gain, 0…1
    // Fades the whole chain's output (reverb tail included) to silence, for closing the output.
    std::atomic<bool> muted{false};
    // Silence at once, nothing taken from the player, effects' state forgotten: the output
    // has cut the sound short before closing. Afterwards the volume rises from 0 again.
    std::atomic<bool> silenced{false};
};

class RenderChain final : public AudioOutput::Renderer
{
public:
    static constexpr int maxBlockFrames = 512;
    // Silence for this long with nothing to play, beyond the output's buffer, lets the
    // output rest (render() → false).
    static constexpr double idleAfterSeconds = 0.3;
    // How much of the player's sound is kept for renderAgain(): the output's buffer, the
    // warm-up before it and what is left over for the next render.
    static constexpr double keptSeconds = 2.0;
    // Sound run through the fresh effects before the point rendered again, so that their
    // filters and the reverb's tail are filled as they would have been.
    static constexpr double warmUpSeconds = 0.5;

    // keepSound: keep the player's recent sound for renderAgain() (else it cannot).
    RenderChain(int sampleRate, Wakeup& decoderWakeup, bool keepSound);

    ChainParameters& parameters() { return m_parameters; }
    PlayerStage& player() { return m_player; }

    // Render thread. Stereo only. Returns false once the output has been silent with
    // nothing to play for idleAfterSeconds and its buffer.
    bool render(float* buffer, int frames, const RenderTiming& timing) override;
    // Main thread, while the output holds render() off: see AudioOutput::Renderer.
    Rerendered renderAgain(qint64 maxFramesBack, float* out, int capacity) override;

    // Any thread: muted, the fade-out done and followed by at least the output's buffer of
    // silence (so nothing of the sound is left to be heard), or the output resting.
    bool isFadedOut() const { return m_fadedOut.load(std::memory_order_acquire); }
    // Any thread: the last render() returned false (the output may stop calling).
    bool isResting() const { return m_resting.load(std::memory_order_acquire); }

private:
    class Equalised final : public FrameSource
    {
    public:
        Equalised(FrameSource& source, Equaliser& equaliser)
            : m_source(source), m_equaliser(equaliser)
        {}
        void pull(float* frames, int count) override
        {
            m_source.pull(frames, count);
            m_equaliser.process(frames, count);
        }

    private:
        FrameSource& m_source;
        Equaliser& m_equaliser;
    };

    // Where a rendered block began: its first output frame and the player's frame then.
    struct BlockStart
    {
        qint64 output;
        qint64 player;
    };
    static constexpr int blockStartCapacity = 4096;

    void applyVolume(float* frames, int count);
    void clearEffects();
    void setEffectTargets(Equaliser& equaliser, TimeStretchStage& stretch, Reverb& reverb) const;
    void noteBlockStart(qint64 outputFrame);
    bool muted() const { return m_parameters.muted.load(std::memory_order_acquire); }

    int m_sampleRate;
    ChainParameters m_parameters;
    PlayerStage m_player;
    ReplaySource m_replay;
    Equaliser m_equaliser;
    Equalised m_source;
    TimeStretchStage m_stretch;
    Reverb m_reverb;
    double m_volume = 1, m_volumeTarget = 1, m_volumeStep = 0;
    int m_volumeRampLeft = 0;
    qint64 m_rendered = 0;
    qint64 m_silentFrames = 0;
    qint64 m_mutedFrames = 0; // rendered at zero gain while muted
    // The starts of the latest blocks, a ring; and the player's frame at the last cut, before
    // which nothing is replayed (the effects forgot it there).
    std::vector<BlockStart> m_blockStarts;
    qint64 m_blockStartCount = 0;
    qint64 m_replayFloor = 0;
    std::atomic<bool> m_fadedOut{false};
    std::atomic<bool> m_resting{false};
};

} // namespace calmcove
