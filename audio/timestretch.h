#pragma once

// Pitch-preserving speed change of the sound chain. TimeStretcher is the small interface
// the chain needs from a stretching library (SoundTouch here); TimeStretchStage puts it in
// the signal path only while the rate differs from 1.0 and crossfades in and out of it.

#include <memory>
#include <vector>

namespace calmcove {

// Where a pulling stage gets its input: interleaved stereo float frames, always exactly
// as many as asked for (silence when there is nothing to play). Render thread.
class FrameSource
{
public:
    virtual void pull(float* frames, int count) = 0;

protected:
    ~FrameSource() = default;
};

// A time stretcher for interleaved stereo float. All calls on the render thread; none
// allocates once the buffers have reached their working size (see createSoundTouchStretcher).
class TimeStretcher
{
public:
    virtual ~TimeStretcher() = default;
    // Speed factor: 0.88 plays 12 % slower at the same pitch.
    virtual void setTempo(double tempo) = 0;
    virtual void put(const float* frames, int count) = 0;
    // Frames ready to take.
    virtual int available() const = 0;
    // Takes up to count frames, returns how many it took.
    virtual int take(float* frames, int count) = 0;
    // Input frames put in but not yet turned into output.
    virtual int pendingInput() const = 0;
    virtual void clear() = 0;
};

// SoundTouch with quick seek; its buffers are grown once here, at the slowest and fastest
// tempi the chain uses, so that the render thread never grows them.
std::unique_ptr<TimeStretcher> createSoundTouchStretcher(int sampleRate);

class TimeStretchStage
{
public:
    TimeStretchStage(int sampleRate, int maxBlockFrames,
                     std::unique_ptr<TimeStretcher> stretcher = {});

    // Render thread. Speed factor; exactly 1.0 takes the stretcher out of the path.
    void setTargetRate(double rate) { m_targetRate = rate; }
    // Render thread. Fills count frames (count ≤ maxBlockFrames), pulling from source as much
    // input as the rate needs. At rate 1.0 outside a crossfade the output is the source's,
    // bit for bit.
    void process(float* out, int count, FrameSource& source);
    // Render thread. Drops the input held in the stretcher (the sound cut off there).
    void clear() { m_stretcher->clear(); }
    // Output frames by which the stage delays the input right now.
    double latencyFrames() const;
    bool bypassed() const { return m_state == State::bypassed; }

    static constexpr double crossfadeSeconds = 0.02;

private:
    enum class State
    {
        bypassed,
        entering,
        stretching,
        leaving
    };

    void crossfade(float* out, const float* direct, const float* stretched, int count,
                   bool towardsStretched);

    std::unique_ptr<TimeStretcher> m_stretcher;
    std::vector<float> m_direct, m_stretched, m_input;
    State m_state = State::bypassed;
    double m_targetRate = 1.0;
    double m_tempo = 1.0;
    int m_crossfadeFrames;
    int m_crossfadeDone = 0;
    bool m_silentSoFar = true; // the last bypassed block was silence (or there was none)
};

} // namespace calmcove
