#pragma once

// The "pulse" output backend: one playback stream on the PulseAudio server (or
// pipewire-pulse) through libpulse's threaded main loop, whose thread is the render thread.
// About 75 ms of buffer. If the server goes away the backend keeps reconnecting every
// second until it is back, and playback resumes by itself.

#include "audiooutput.h"

#include <atomic>

struct pa_context;
struct pa_stream;
struct pa_threaded_mainloop;
struct pa_time_event;

namespace calmcove {

class PulseOutput final : public AudioOutput
{
public:
    explicit PulseOutput(double bufferSeconds = 0.075);
    ~PulseOutput() override;

    QString name() const override { return QStringLiteral("pulse"); }
    // Connects (waiting at most 5 s for the server) and opens the stream. Fails with
    // libpulse's reason, e.g. "Connection refused" when no server runs.
    bool start(const AudioFormat& format, Renderer* renderer, QString* errorMessage) override;
    void stop() override;
    void wake() override;
    std::uint64_t underruns() const override { return m_underruns.load(); }
    // Any thread: times the connection was re-established after a loss.
    int reconnections() const { return m_reconnections.load(); }

private:
    static void onContextState(pa_context* context, void* self);
    static void onStreamState(pa_stream* stream, void* self);
    static void onWrite(pa_stream* stream, std::size_t bytes, void* self);
    static void onUnderflow(pa_stream* stream, void* self);

    // All of these run with the main-loop lock held.
    bool beginConnect(QString* errorMessage);
    bool openStream(QString* errorMessage);
    void closeConnection();
    void scheduleReconnect();
    void reconnect();

    double m_bufferSeconds;
    AudioFormat m_format;
    Renderer* m_renderer = nullptr;
    pa_threaded_mainloop* m_mainloop = nullptr;
    pa_context* m_context = nullptr;
    pa_stream* m_stream = nullptr;
    pa_time_event* m_retry = nullptr;
    bool m_running = false; // started and not stopped: losses are reconnected
    bool m_ready = false;   // the stream plays
    bool m_corked = false;
    bool m_everReady = false; // a stream of this start() has played before
    std::atomic<std::uint64_t> m_underruns{0};
    std::atomic<int> m_reconnections{0};
};

} // namespace calmcove
