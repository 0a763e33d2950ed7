#pragma once

// The contract between the engine and a sound output backend ("pulse", "null", and the
// capture backend of tests and benchmarks), after mpv's audio outputs.
//
// Who drives the data: the backend. It pulls audio by calling Renderer::render() from its
// render thread whenever it wants more; the engine never pushes.
// Threads: start(), stop() and wake() are called on the main thread only. render() runs on
// the backend's render thread (pulse: the libpulse main-loop thread; null: a clock thread
// of its own; capture: whoever calls CaptureOutput::render()), never two at a time, and
// never before start() or after stop() has returned.
// Buffers: the backend owns the buffer it passes to render() and keeps it only for that
// call; the engine writes exactly frames × channels interleaved 32-bit floats into it.

#include <cstdint>
#include <functional>
#include <memory>
#include <QString>

namespace calmcove {

struct AudioFormat
{
    int sampleRate = 44100;
    int channels = 2; // interleaved float32
};

struct RenderTiming
{
    // False when nobody is listening in real time (offline capture): render() may then wait
    // for decoded audio instead of playing silence.
    bool realTime = true;
    // Frames between the first frame of this buffer and the speaker (the backend's buffer).
    double latencyFrames = 0;
    // Frames still to be heard before this buffer (0: unknown). Far ahead of the listener,
    // render() may wait a little for decoded audio rather than play silence.
    double aheadFrames = 0;
};

class AudioOutput
{
public:
    class Renderer
    {
    public:
        // Render thread. Fills frames × channels floats. When realTime, it must not block,
        // allocate or do I/O. Returns false when the output is silent and will stay silent
        // until the engine calls wake(): the backend may then stop calling (and save the CPU).
        virtual bool render(float* buffer, int frames, const RenderTiming& timing) = 0;

        struct Rerendered
        {
            qint64 framesBack = -1; // where it starts, counted back from the end
            int frames = 0;
        };
        // Main thread, while the output holds render() off. Renders again, with the settings
        // as they are now, the sound from a point at most maxFramesBack frames before the end
        // of what render() has delivered, into out (at most capacity frames); the next
        // render() goes on after them. Returns where it began and how many frames it wrote,
        // or framesBack -1 when it cannot (the output's sound then stays as it is).
        virtual Rerendered renderAgain(qint64 /*maxFramesBack*/, float* /*out*/, int /*capacity*/)
        {
            return {};
        }

    protected:
        ~Renderer() = default;
    };

    virtual ~AudioOutput() = default;

    virtual QString name() const = 0;
    // Main thread. Opens the device and starts pulling from renderer (which must outlive
    // stop()). On failure returns false with a reason for the listener (e.g. libpulse's
    // "Connection refused") and leaves nothing running.
    virtual bool start(const AudioFormat& format, Renderer* renderer, QString* errorMessage) = 0;
    // Main thread. Afterwards render() is not running and will not be called. Idempotent.
    virtual void stop() = 0;
    // Main thread, cheap: resume pulling after render() returned false. Harmless otherwise.
    virtual void wake() = 0;
    // False for an output whose render() only runs when its owner calls it (capture): the
    // engine then has nobody to render a fade-out before stop().
    virtual bool rendersByItself() const { return true; }
    // Main thread. Cuts the sound short for an interruption (pause, stop, seek, closing)
    // instead of letting what the output has buffered play out: from the earliest frame it
    // can still replace (just after what the sound server has taken), the buffered sound
    // fades out over cutFadeSeconds and silence follows; the renderer's next frames come
    // after that. `beforeRendering` runs while the renderer is held off, so what it queues is
    // the first thing the renderer sees after the cut (and the cut's fade is the only one
    // needed). Returns the milliseconds until the fade has been heard, or -1 without calling
    // beforeRendering when the output has nothing buffered it could cut: the renderer has to
    // fade by itself then.
    virtual int cutShort(const std::function<void()>& /*beforeRendering*/) { return -1; }
    static constexpr double cutFadeSeconds = 0.015;
    // Main thread. Has the renderer render again what the output has buffered and can still
    // replace (see Renderer::renderAgain()), crossfading into it over cutFadeSeconds: changed
    // settings are then heard at once instead of after the buffer. Returns the milliseconds
    // until the new sound is heard, or -1 when nothing was replaced.
    virtual int renderAgain() { return -1; }
    // Whether renderAgain() (or a test's equivalent) may ever ask for sound rendered again:
    // the renderer keeps its recent sound for it only then.
    virtual bool rendersAgain() const { return false; }
    // Main thread: how long until the last frame render() delivered is heard (0: unknown).
    virtual double aheadSeconds() { return 0; }
    // Any thread: times the device ran dry although the engine was asked in time.
    virtual std::uint64_t underruns() const { return 0; }
};

// "pulse" or "null"; null for any other name.
std::unique_ptr<AudioOutput> createAudioOutput(const QString& name);

} // namespace calmcove
