#include "pulseoutput.h"

#include <algorithm>
#include <pulse/pulseaudio.h>
#include <QCoreApplication>

namespace calmcove {

namespace {
constexpr pa_usec_t connectTimeout = 5'000'000;
constexpr pa_usec_t retryInterval = 1'000'000;

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

PulseOutput::PulseOutput(double bufferSeconds) : m_bufferSeconds(bufferSeconds) {}

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
    m_mainloop = pa_threaded_mainloop_new();
    if (!m_mainloop || pa_threaded_mainloop_start(m_mainloop) < 0) {
        if (errorMessage)
            *errorMessage = QString::fromUtf8(pa_strerror(PA_ERR_INTERNAL));
        stop();
        return false;
    }

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
    pa_buffer_attr attributes;
    attributes.maxlength = uint32_t(-1);
    attributes.tlength = uint32_t(pa_usec_to_bytes(pa_usec_t(m_bufferSeconds * 1e6), &spec));
    attributes.prebuf = uint32_t(-1);
    attributes.minreq = uint32_t(pa_usec_to_bytes(10'000, &spec));
    attributes.fragsize = uint32_t(-1);
    const auto flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_AUTO_TIMING_UPDATE |
                                         PA_STREAM_INTERPOLATE_TIMING);
    m_corked = false;
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
    }
    pa_threaded_mainloop_unlock(m_mainloop);
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
    auto* output = static_cast<PulseOutput*>(self);
    if (!output->m_corked)
        ++output->m_underruns;
}

} // namespace calmcove
