#include "pulseoutput.h"

#include <algorithm>
#include <cmath>
#include <pulse/pulseaudio.h>
#include <QCoreApplication>
#include <unistd.h>

namespace calmcove {

namespace {
constexpr pa_usec_t connectTimeout = 5'000'000;
constexpr pa_usec_t retryInterval = 1'000'000;
// Enough for any buffer the server grants for our request.
constexpr double historySeconds = 1.0;
// Silence written after a cut's fade beyond one refill: the server asks for the sound that
// follows only once a refill's worth is missing, and the stream must not run dry meanwhile.
constexpr double cutSilenceMarginSeconds = 0.02;

// Operations whose completion nobody waits for; libpulse gives none back on failure.
void release(pa_operation* operation)
{
    if (operation)
        pa_operation_unref(operation);
}

QString pulseError(pa_context* context)
{
    return QString::fromUtf8(pa_strerror(context ? pa_context_errno(context) : PA_ERR_UNKNOWN));
}
} // namespace

PulseOutput::PulseOutput(double bufferSeconds, double refillSeconds)
    : m_bufferSeconds(bufferSeconds), m_refillSeconds(refillSeconds)
{}

PulseOutput::~PulseOutput()
{
    stop();
}

bool PulseOutput::start(const AudioFormat& format, Renderer* renderer, QString* errorMessage)
{
    stop();
    m_everReady = false;
    m_format = format;
    m_renderer = renderer;
    m_history.assign(std::size_t(historySeconds * format.sampleRate) * std::size_t(format.channels),
                     0.0f);
    m_historyFrames = 0;
    m_historyEnd = -1;
    m_tail.assign(
        std::size_t(std::lround((cutFadeSeconds + m_refillSeconds + cutSilenceMarginSeconds) *
                                format.sampleRate)) *
            std::size_t(format.channels),
        0.0f);
    m_mainloop = pa_threaded_mainloop_new();
    if (m_mainloop)
        pa_threaded_mainloop_set_name(m_mainloop, "calmcove-audio");
    if (!m_mainloop || pa_threaded_mainloop_start(m_mainloop) < 0) {
        if (errorMessage)
            *errorMessage = QString::fromUtf8(pa_strerror(PA_ERR_INTERNAL));
        stop();
        return false;
    }

    // The render thread is made real-time before any audio flows; asking may take a call
    // on the system bus, which must not happen on that thread while it plays.
    pa_threaded_mainloop_lock(m_mainloop);
    struct ThreadQuery
    {
        pa_threaded_mainloop* mainloop;
        pid_t threadId = 0;
    } query{m_mainloop};
    pa_mainloop_api_once(
        pa_threaded_mainloop_get_api(m_mainloop),
        [](pa_mainloop_api*, void* state) {
            auto* asked = static_cast<ThreadQuery*>(state);
            asked->threadId = gettid();
            pa_threaded_mainloop_signal(asked->mainloop, 0);
        },
        &query);
    while (query.threadId == 0)
        pa_threaded_mainloop_wait(m_mainloop);
    pa_threaded_mainloop_unlock(m_mainloop);
    m_renderThreadId = query.threadId;
    m_realtime = makeThreadRealtime(m_renderThreadId, renderThreadPriority);

    pa_threaded_mainloop_lock(m_mainloop);
    // Wait for the connection and the stream, each ending in ready or failed; a server that
    // accepts the socket but never answers counts as failed after connectTimeout.
    struct Timeout
    {
        pa_threaded_mainloop* mainloop;
        bool expired = false;
    } timeoutState{m_mainloop};
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(m_mainloop);
    timeval deadline;
    pa_timeval_add(pa_gettimeofday(&deadline), connectTimeout);
    pa_time_event* timeout = api->time_new(
        api, &deadline,
        [](pa_mainloop_api*, pa_time_event*, const timeval*, void* state) {
            auto* expiry = static_cast<Timeout*>(state);
            expiry->expired = true;
            pa_threaded_mainloop_signal(expiry->mainloop, 0);
        },
        &timeoutState);
    const bool& timedOut = timeoutState.expired;

    bool ok = beginConnect(errorMessage);
    while (ok && !timedOut) {
        const pa_context_state_t state = pa_context_get_state(m_context);
        if (state == PA_CONTEXT_READY)
            break;
        if (!PA_CONTEXT_IS_GOOD(state)) {
            ok = false;
            if (errorMessage)
                *errorMessage = pulseError(m_context);
            break;
        }
        pa_threaded_mainloop_wait(m_mainloop);
    }
    if (ok && !timedOut)
        ok = openStream(errorMessage);
    while (ok && !timedOut) {
        const pa_stream_state_t state = pa_stream_get_state(m_stream);
        if (state == PA_STREAM_READY)
            break;
        if (!PA_STREAM_IS_GOOD(state)) {
            ok = false;
            if (errorMessage)
                *errorMessage = pulseError(m_context);
            break;
        }
        pa_threaded_mainloop_wait(m_mainloop);
    }
    api->time_free(timeout);
    if (ok && timedOut) {
        ok = false;
        if (errorMessage)
            *errorMessage = QString::fromUtf8(pa_strerror(PA_ERR_TIMEOUT));
    }
    m_running = ok;
    pa_threaded_mainloop_unlock(m_mainloop);
    if (!ok)
        stop();
    return ok;
}

bool PulseOutput::beginConnect(QString* errorMessage)
{
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(m_mainloop);
    const QByteArray applicationName = QCoreApplication::applicationName().isEmpty()
                                           ? QByteArrayLiteral("Calmcove")
                                           : QCoreApplication::applicationName().toUtf8();
    m_context = pa_context_new(api, applicationName.constData());
    if (!m_context) {
        if (errorMessage)
            *errorMessage = QString::fromUtf8(pa_strerror(PA_ERR_INTERNAL));
        return false;
    }
    pa_context_set_state_callback(m_context, &PulseOutput::onContextState, this);
    if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        if (errorMessage)
            *errorMessage = pulseError(m_context);
        return false;
    }
    return true;
}

bool PulseOutput::openStream(QString* errorMessage)
{
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, uint32_t(m_format.sampleRate),
                              uint8_t(m_format.channels)};
    m_stream = pa_stream_new(m_context, "Calmcove", &spec, nullptr);
    if (!m_stream) {
        if (errorMessage)
            *errorMessage = pulseError(m_context);
        return false;
    }
    pa_stream_set_state_callback(m_stream, &PulseOutput::onStreamState, this);
    pa_stream_set_write_callback(m_stream, &PulseOutput::onWrite, this);
    pa_stream_set_underflow_callback(m_stream, &PulseOutput::onUnderflow, this);
    pa_stream_set_started_callback(m_stream, &PulseOutput::onStarted, this);
    pa_buffer_attr attributes;
    attributes.maxlength = uint32_t(-1);
    attributes.tlength = uint32_t(pa_usec_to_bytes(pa_usec_t(m_bufferSeconds * 1e6), &spec));
    attributes.prebuf = uint32_t(-1);
    attributes.minreq = uint32_t(pa_usec_to_bytes(pa_usec_t(m_refillSeconds * 1e6), &spec));
    attributes.fragsize = uint32_t(-1);
    const auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_AUTO_TIMING_UPDATE |
                                         PA_STREAM_INTERPOLATE_TIMING);
    m_corked = false;
    m_starting = true;
    m_historyEnd = -1;
    if (pa_stream_connect_playback(m_stream, nullptr, &attributes, flags, nullptr, nullptr) < 0) {
        if (errorMessage)
            *errorMessage = pulseError(m_context);
        return false;
    }
    return true;
}

void PulseOutput::closeConnection()
{
    m_ready = false;
    if (m_stream) {
        pa_stream_set_state_callback(m_stream, nullptr, nullptr);
        pa_stream_set_write_callback(m_stream, nullptr, nullptr);
        pa_stream_set_underflow_callback(m_stream, nullptr, nullptr);
        pa_stream_set_started_callback(m_stream, nullptr, nullptr);
        if (PA_STREAM_IS_GOOD(pa_stream_get_state(m_stream)))
            pa_stream_disconnect(m_stream);
        pa_stream_unref(m_stream);
        m_stream = nullptr;
    }
    if (m_context) {
        pa_context_set_state_callback(m_context, nullptr, nullptr);
        if (PA_CONTEXT_IS_GOOD(pa_context_get_state(m_context)))
            pa_context_disconnect(m_context);
        pa_context_unref(m_context);
        m_context = nullptr;
    }
}

void PulseOutput::stop()
{
    if (!m_mainloop)
        return;
    pa_threaded_mainloop_lock(m_mainloop);
    m_running = false;
    if (m_retry) {
        pa_threaded_mainloop_get_api(m_mainloop)->time_free(m_retry);
        m_retry = nullptr;
    }
    closeConnection();
    pa_threaded_mainloop_unlock(m_mainloop);
    pa_threaded_mainloop_stop(m_mainloop);
    pa_threaded_mainloop_free(m_mainloop);
    m_mainloop = nullptr;
    m_renderer = nullptr;
    m_renderThreadId = 0;
}

void PulseOutput::wake()
{
    if (!m_mainloop)
        return;
    pa_threaded_mainloop_lock(m_mainloop);
    if (m_stream && m_ready && m_corked) {
        // What sits in the buffer is the silence rendered before corking: drop it so that
        // the sound resumes without that delay.
        release(pa_stream_flush(m_stream, nullptr, nullptr));
        release(pa_stream_cork(m_stream, 0, nullptr, nullptr));
        m_corked = false;
        m_starting = true;
    }
    pa_threaded_mainloop_unlock(m_mainloop);
}

int PulseOutput::cutShort(const std::function<void()>& beforeRendering)
{
    if (!m_mainloop)
        return -1;
    pa_threaded_mainloop_lock(m_mainloop);
    const auto cut = [this]() -> int {
        if (!m_stream || !m_ready || m_corked || m_historyEnd < 0)
            return -1;
        const pa_timing_info* timing = pa_stream_get_timing_info(m_stream);
        pa_usec_t played = 0;
        if (!timing || timing->read_index_corrupt || pa_stream_get_time(m_stream, &played) < 0)
            return -1;
        const int channels = m_format.channels;
        const double rate = m_format.sampleRate;
        const std::size_t frameBytes = sizeof(float) * std::size_t(channels);
        // What the server has taken from the stream may already sit in its own buffer,
        // which nothing can take back: the fade starts after it.
        const qint64 playedFrame = qint64(double(played) * rate / 1e6);
        const double serverSeconds =
            double(std::max(timing->configured_sink_usec, timing->sink_usec)) / 1e6;
        const qint64 from =
            std::max(playedFrame + qint64(std::ceil((serverSeconds + cutMarginSeconds) * rate)),
                     qint64(timing->read_index / qint64(frameBytes)));
        const qint64 fadeFrames = std::lround(cutFadeSeconds * rate);
        const qint64 capacity = qint64(m_history.size()) / channels;
        if (from < m_historyEnd - m_historyFrames || from + fadeFrames > m_historyEnd)
            return -1;

        const qint64 tailFrames = qint64(m_tail.size()) / channels;
        std::fill(m_tail.begin(), m_tail.end(), 0.0f);
        for (qint64 i = 0; i < fadeFrames; ++i) {
            const float gain = float(fadeFrames - 1 - i) / float(fadeFrames);
            const float* source = &m_history[std::size_t(((from + i) % capacity) * channels)];
            for (int channel = 0; channel < channels; ++channel)
                m_tail[std::size_t(i * channels + channel)] = source[channel] * gain;
        }
        if (pa_stream_write(m_stream, m_tail.data(), m_tail.size() * sizeof(float), nullptr,
                            from * qint64(frameBytes), PA_SEEK_ABSOLUTE) < 0)
            return -1;
        remember(m_tail.data(), int(tailFrames), from);
        return int(std::ceil(1000.0 * double(from + fadeFrames - playedFrame) / rate));
    };
    const int heardInMs = cut();
    if (heardInMs >= 0 && beforeRendering)
        beforeRendering();
    pa_threaded_mainloop_unlock(m_mainloop);
    return heardInMs;
}

void PulseOutput::remember(const float* frames, int count, qint64 position)
{
    const int channels = m_format.channels;
    const qint64 capacity = qint64(m_history.size()) / channels;
    const qint64 oldest = m_historyEnd - m_historyFrames;
    if (position < 0) {
        m_historyEnd = -1;
        m_historyFrames = 0;
        return;
    }
    // Writing over the end of what is kept (a cut) keeps what lies before.
    m_historyFrames =
        m_historyEnd >= 0 && position >= oldest && position <= m_historyEnd ? position - oldest : 0;
    for (int i = int(std::max<qint64>(0, count - capacity)); i < count; ++i) {
        float* target = &m_history[std::size_t(((position + i) % capacity) * channels)];
        std::copy_n(frames + std::size_t(i) * std::size_t(channels), channels, target);
    }
    m_historyEnd = position + count;
    m_historyFrames = std::min(capacity, m_historyFrames + count);
}

void PulseOutput::scheduleReconnect()
{
    if (!m_running || m_retry)
        return;
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(m_mainloop);
    timeval when;
    pa_timeval_add(pa_gettimeofday(&when), retryInterval);
    // The context cannot be freed inside its own callback: the timer does it.
    m_retry = api->time_new(
        api, &when,
        [](pa_mainloop_api* mainloopApi, pa_time_event* event, const timeval*, void* self) {
            auto* output = static_cast<PulseOutput*>(self);
            mainloopApi->time_free(event);
            output->m_retry = nullptr;
            output->reconnect();
        },
        this);
}

void PulseOutput::reconnect()
{
    closeConnection();
    if (!m_running)
        return;
    if (!beginConnect(nullptr))
        scheduleReconnect();
}

void PulseOutput::onContextState(pa_context* context, void* self)
{
    auto* output = static_cast<PulseOutput*>(self);
    const pa_context_state_t state = pa_context_get_state(context);
    if (state == PA_CONTEXT_READY && output->m_running && !output->m_stream) {
        if (!output->openStream(nullptr))
            output->scheduleReconnect();
    } else if (!PA_CONTEXT_IS_GOOD(state)) {
        output->m_ready = false;
        output->scheduleReconnect();
    }
    pa_threaded_mainloop_signal(output->m_mainloop, 0);
}

void PulseOutput::onStreamState(pa_stream* stream, void* self)
{
    auto* output = static_cast<PulseOutput*>(self);
    const pa_stream_state_t state = pa_stream_get_state(stream);
    if (state == PA_STREAM_READY) {
        if (output->m_everReady)
            ++output->m_reconnections;
        output->m_everReady = true;
        output->m_ready = true;
    } else if (!PA_STREAM_IS_GOOD(state)) {
        output->m_ready = false;
        output->scheduleReconnect();
    }
    pa_threaded_mainloop_signal(output->m_mainloop, 0);
}

void PulseOutput::onWrite(pa_stream* stream, std::size_t bytes, void* self)
{
    auto* output = static_cast<PulseOutput*>(self);
    if (!output->m_renderer || output->m_corked)
        return;
    const std::size_t frameBytes = sizeof(float) * std::size_t(output->m_format.channels);
    RenderTiming timing;
    if (const pa_buffer_attr* attributes = pa_stream_get_buffer_attr(stream))
        timing.latencyFrames = double(attributes->tlength / frameBytes);
    while (bytes >= frameBytes) {
        void* data = nullptr;
        std::size_t size = bytes;
        if (pa_stream_begin_write(stream, &data, &size) < 0 || !data)
            return;
        const int frames = int(std::min(size, bytes) / frameBytes);
        if (frames == 0) {
            pa_stream_cancel_write(stream);
            return;
        }
        const bool active = output->m_renderer->render(static_cast<float*>(data), frames, timing);
        const pa_timing_info* positions = pa_stream_get_timing_info(stream);
        output->remember(static_cast<const float*>(data), frames,
                         positions && !positions->write_index_corrupt
                             ? qint64(positions->write_index / qint64(frameBytes))
                             : -1);
        pa_stream_write(stream, data, std::size_t(frames) * frameBytes, nullptr, 0,
                        PA_SEEK_RELATIVE);
        bytes -= std::size_t(frames) * frameBytes;
        if (!active) {
            release(pa_stream_cork(stream, 1, nullptr, nullptr));
            output->m_corked = true;
            return;
        }
    }
}

void PulseOutput::onUnderflow(pa_stream*, void* self)
{
    // The emptied buffer of a flush may be found empty before the next sound arrives: that
    // is no dropout, and the server reports a start once the sound plays.
    auto* output = static_cast<PulseOutput*>(self);
    if (!output->m_corked && !output->m_starting)
        ++output->m_underruns;
}

void PulseOutput::onStarted(pa_stream*, void* self)
{
    static_cast<PulseOutput*>(self)->m_starting = false;
}

} // namespace calmcove
