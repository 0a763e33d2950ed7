#pragma once

// The "pulse" output backend: one playback stream on the PulseAudio server (or
// pipewire-pulse) through libpulse's threaded main loop, whose thread is the render thread
// and runs with real-time scheduling where the system grants it. The buffer is large enough
// that a busy machine cannot drain it and the server wakes up rarely; interruptions and
// changed settings do not wait it out: what is buffered is cut short (cutShort()) or
// rendered again (renderAgain()). If the server goes away the backend keeps reconnecting
// every second until it is back, and playback resumes by itself.

#include "audiooutput.h"
#include "platform/realtimescheduling.h"

#include <atomic>
#include <optional>
#include <vector>

struct pa_context;
struct pa_stream;
struct pa_threaded_mainloop;
struct pa_time_event;

namespace calmcove {

class PulseOutput final : public AudioOutput
{
public:
    // The stream's whole latency (its buffer and the server's) and how much of it is
    // refilled at a time; the server may grant other values. The server then keeps about
    // 20 ms of its own and the stream between half a second and a second: a sound server
    // kept from running for half a second (its main loop is not real-time) still finds
    // sound to play, and it wakes up twice a second. Interruptions and changed settings do
    // not wait the buffer out: see cutShort() and renderAgain().
    static constexpr double defaultBufferSeconds = 1.0;
    static constexpr double defaultRefillSeconds = 0.48;
    // A cut puts its fade this far after the frames the server may already have taken.
    static constexpr double cutMarginSeconds = 0.008;
    // Real-time priority asked for the render thread (SCHED_FIFO 1…99).
    static constexpr int renderThreadPriority = 10;

    explicit PulseOutput(double bufferSeconds = defaultBufferSeconds,
                         double refillSeconds = defaultRefillSeconds);
    ~PulseOutput() override;

    QString name() const override { return QStringLiteral("pulse"); }
    // Connects (waiting at most 5 s for the server) and opens the stream. Fails with
    // libpulse's reason, e.g. "Connection refused" when no server runs. Asks for real-time
    // scheduling of the render thread before any audio flows (see makeThreadRealtime()).
    bool start(const AudioFormat& format, Renderer* renderer, QString* errorMessage) override;
    void stop() override;
    void wake() override;
    int cutShort(const std::function<void()>& beforeRendering) override;
    int renderAgain() override;
    bool rendersAgain() const override { return true; }
    double aheadSeconds() override;
    std::uint64_t underruns() const override { return m_underruns.load(); }
    // Any thread: times the connection was re-established after a loss.
    int reconnections() const { return m_reconnections.load(); }
    // Kernel id of the render thread (0 before start()) and what its scheduling request got.
    pid_t renderThreadId() const { return m_renderThreadId; }
    RealtimeScheduling realtimeScheduling() const { return m_realtime; }

private:
    static void onContextState(pa_context* context, void* self);
    static void onStreamState(pa_stream* stream, void* self);
    static void onWrite(pa_stream* stream, std::size_t bytes, void* self);
    static void onUnderflow(pa_stream* stream, void* self);
    static void onStarted(pa_stream* stream, void* self);

    // All of these run with the main-loop lock held.
    bool beginConnect(QString* errorMessage);
    bool openStream(QString* errorMessage);
    void closeConnection();
    void scheduleReconnect();
    void reconnect();
    void remember(const float* frames, int count, qint64 position);
    // Renders up to `bytes` and writes them at m_renderEnd; corks when the renderer has
    // nothing more to play.
    void renderAndWrite(std::size_t bytes);
    // Every topUpInterval while not resting: writes what the stream misses of its buffer.
    void armTopUp();
    void topUp();
    // Once the stream's timing is known again after a flush: where our frames are in it.
    void learnStreamOffset();
    // Asks the server for the stream's timing and waits for it (at most timingTimeout); not
    // on the render thread.
    void waitForTiming();
    // The frame being heard now, in our count; nullopt while not known (not playing, just
    // flushed).
    std::optional<qint64> playingFrame();
    // The first frame that can still be replaced (-1: none), and the one being played.
    qint64 earliestReplaceable(qint64* playedFrame);
    // Fades what is buffered out from the earliest frame it can, silence after; returns
    // the milliseconds until the fade is heard, or -1.
    int cutBuffered();

    double m_bufferSeconds;
    double m_refillSeconds;
    AudioFormat m_format;
    Renderer* m_renderer = nullptr;
    pa_threaded_mainloop* m_mainloop = nullptr;
    pa_context* m_context = nullptr;
    pa_stream* m_stream = nullptr;
    pa_time_event* m_retry = nullptr;
    pa_time_event* m_topUp = nullptr;
    bool m_running = false; // started and not stopped: losses are reconnected
    bool m_ready = false;   // the stream plays
    bool m_corked = false;
    bool m_starting = false;  // opened or flushed, and not yet playing again
    bool m_everReady = false; // a stream of this start() has played before
    pid_t m_renderThreadId = 0;
    RealtimeScheduling m_realtime = RealtimeScheduling::refused;

    // The latest frames written to the stream, a ring of whole frames ending at frame
    // m_historyEnd (counted from the stream's opening, by us); a cut fades from here. The
    // stream's own index is ours plus m_streamOffset, unknown for a moment after a flush.
    std::vector<float> m_history;
    qint64 m_historyFrames = 0; // valid frames in the ring
    qint64 m_historyEnd = 0;
    // Where the renderer's next frame goes: m_historyEnd, or before it after a cut, whose
    // silence it then overwrites.
    qint64 m_renderEnd = 0;
    qint64 m_streamOffset = 0;
    bool m_offsetKnown = true;
    // What a cut or a render again writes over the buffer, built without allocating.
    std::vector<float> m_rewrite;

    std::atomic<std::uint64_t> m_underruns{0};
    std::atomic<int> m_reconnections{0};
};

} // namespace calmcove
