#include "pulseoutput.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <pulse/pulseaudio.h>
#include <QCoreApplication>
#include <unistd.h>

namespace calmcove {

namespace {
constexpr pa_usec_t connectTimeout = 5'000'000;
constexpr pa_usec_t retryInterval = 1'000'000;
// How long start() waits at most for the server to tell where the stream is.
constexpr pa_usec_t timingTimeout = 1'000'000;
// Enough for the buffer we ask for, and what a refill may write beyond it.
constexpr double historySeconds = 1.25;
// How often the stream's fill is checked besides the server's requests.
constexpr pa_usec_t topUpInterval = 100'000;
// Silence between a cut's fade and the sound that follows it, and how much of that sound
// is rendered with the cut.
constexpr double cutSilenceSeconds = 0.02;
constexpr double cutRenderSeconds = 0.25;

// A deadline for a wait on the main loop: passed() once it is over, and the waiting thread
// is woken then. Made and destroyed with the loop locked.
class LoopDeadline
{
public:
    LoopDeadline(pa_threaded_mainloop* mainloop, pa_usec_t after)
        : m_mainloop(mainloop), m_api(pa_threaded_mainloop_get_api(mainloop))
    {
        timeval when;
        pa_timeval_add(pa_gettimeofday(&when), after);
        m_event = m_api->time_new(
            m_api, &when,
            [](pa_mainloop_api*, pa_time_event*, const timeval*, void* self) {
                auto* deadline = static_cast<LoopDeadline*>(self);
                deadline->m_passed = true;
                pa_threaded_mainloop_signal(deadline->m_mainloop, 0);
            },
            this);
    }
    ~LoopDeadline() { m_api->time_free(m_event); }
    LoopDeadline(const LoopDeadline&) = delete;
    LoopDeadline& operator=(const LoopDeadline&) = delete;

    bool passed() const { return m_passed; }

private:
    pa_threaded_mainloop* m_mainloop;
    pa_mainloop_api* m_api;
    pa_time_event* m_event = nullptr;
    bool m_passed = false;
};

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
    m_rewrite.assign(m_history.size(), 0.0f);
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
    bool ok = false;
    bool timedOut = false;
    {
        // Wait for the connection and the stream, each ending in ready or failed; a server
        // that accepts the socket but never answers counts as failed after connectTimeout.
        const LoopDeadline deadline(m_mainloop, connectTimeout);
        ok = beginConnect(errorMessage);
        while (ok && !deadline.passed()) {
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
        if (ok && !deadline.passed())
            ok = openStream(errorMessage);
        while (ok && !deadline.passed()) {
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
        timedOut = deadline.passed();
    }
    // The first cut needs to know where the server is.
    if (ok && !timedOut)
        waitForTiming();
    if (ok && timedOut) {
        ok = false;
        if (errorMessage)
            *errorMessage = QString::fromUtf8(pa_strerror(PA_ERR_TIMEOUT));
    }
    m_running = ok;
    if (ok)
        armTopUp();
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
    // A new stream's write index starts at 0.
    m_historyEnd = m_renderEnd = m_historyFrames = 0;
    m_streamOffset = 0;
    m_offsetKnown = true;
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
    if (m_topUp) {
        pa_threaded_mainloop_get_api(m_mainloop)->time_free(m_topUp);
        m_topUp = nullptr;
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
        // The flush moved the stream's write index to where the server read: cuts wait
        // until a timing update tells where that was.
        m_historyFrames = 0;
        m_historyEnd = m_renderEnd;
        m_offsetKnown = false;
        armTopUp();
    }
    pa_threaded_mainloop_unlock(m_mainloop);
}

int PulseOutput::cutBuffered()
{
    qint64 playedFrame = 0;
    const qint64 from = earliestReplaceable(&playedFrame);
    const int channels = m_format.channels;
    const double rate = m_format.sampleRate;
    const std::size_t frameBytes = sizeof(float) * std::size_t(channels);
    const qint64 fadeFrames = std::lround(cutFadeSeconds * rate);
    const qint64 capacity = qint64(m_history.size()) / channels;
    if (from < 0 || from + fadeFrames > m_historyEnd)
        return -1;

    // The fade, then silence over everything written after it: the server would play what
    // it holds there when it got there. The renderer's sound follows the fade shortly and
    // overwrites that silence as it comes.
    const qint64 resumeAt = from + fadeFrames + std::lround(cutSilenceSeconds * rate);
    const qint64 tailFrames = std::min(std::max(m_historyEnd, resumeAt) - from, capacity);
    std::fill_n(m_rewrite.begin(), tailFrames * channels, 0.0f);
    for (qint64 i = 0; i < fadeFrames; ++i) {
        const float gain = float(fadeFrames - 1 - i) / float(fadeFrames);
        const float* source = &m_history[std::size_t(((from + i) % capacity) * channels)];
        for (int channel = 0; channel < channels; ++channel)
            m_rewrite[std::size_t(i * channels + channel)] = source[channel] * gain;
    }
    if (pa_stream_write(m_stream, m_rewrite.data(), std::size_t(tailFrames) * frameBytes, nullptr,
                        (from + m_streamOffset) * qint64(frameBytes), PA_SEEK_ABSOLUTE) < 0)
        return -1;
    remember(m_rewrite.data(), int(tailFrames), from);
    m_renderEnd = resumeAt;
    return int(std::ceil(1000.0 * double(from + fadeFrames - playedFrame) / rate));
}

int PulseOutput::cutShort(const std::function<void()>& beforeRendering)
{
    if (!m_mainloop)
        return -1;
    pa_threaded_mainloop_lock(m_mainloop);
    const int heardInMs = cutBuffered();
    if (heardInMs >= 0) {
        if (beforeRendering)
            beforeRendering();
        // A little of what follows at once; the rest as the decoder gets ahead (topUp()).
        renderAndWrite(std::size_t(std::lround(cutRenderSeconds * m_format.sampleRate)) *
                       sizeof(float) * std::size_t(m_format.channels));
    }
    pa_threaded_mainloop_unlock(m_mainloop);
    return heardInMs;
}

void PulseOutput::learnStreamOffset()
{
    if (m_offsetKnown || !m_stream)
        return;
    const pa_timing_info* timing = pa_stream_get_timing_info(m_stream);
    if (!timing || timing->write_index_corrupt)
        return;
    const qint64 frameBytes = qint64(sizeof(float)) * m_format.channels;
    // Until the offset is known every write is the renderer's, at the stream's end.
    m_streamOffset = timing->write_index / frameBytes - m_renderEnd;
    m_offsetKnown = true;
}

void PulseOutput::waitForTiming()
{
    const LoopDeadline deadline(m_mainloop, timingTimeout);
    pa_operation* update = pa_stream_update_timing_info(
        m_stream,
        [](pa_stream*, int, void* mainloop) {
            pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(mainloop), 0);
        },
        m_mainloop);
    if (!update)
        return;
    while (pa_operation_get_state(update) == PA_OPERATION_RUNNING && !deadline.passed())
        pa_threaded_mainloop_wait(m_mainloop);
    if (pa_operation_get_state(update) == PA_OPERATION_RUNNING)
        pa_operation_cancel(update);
    pa_operation_unref(update);
}

std::optional<qint64> PulseOutput::playingFrame()
{
    learnStreamOffset();
    pa_usec_t played = 0;
    if (!m_stream || !m_ready || m_corked || !m_offsetKnown ||
        pa_stream_get_time(m_stream, &played) < 0)
        return std::nullopt;
    const double rate = m_format.sampleRate;
    qint64 frame = qint64(double(played) * rate / 1e6);
    // libpulse's interpolated time also runs while an uncorked stream waits for enough data
    // to start (after opening, or after a flush), and then stands still until the sound
    // catches up, seconds ahead under load. What is heard is never past what the server
    // has read, less what its sink holds.
    const pa_timing_info* timing = pa_stream_get_timing_info(m_stream);
    if (timing && !timing->read_index_corrupt) {
        pa_usec_t sinceUpdate = 0;
        if (timing->playing) {
            timeval now;
            sinceUpdate = pa_timeval_diff(pa_gettimeofday(&now), &timing->timestamp);
        }
        const qint64 frameBytes = qint64(sizeof(float)) * m_format.channels;
        const double heardPastRead = double(sinceUpdate) - double(timing->sink_usec);
        frame =
            std::min(frame, timing->read_index / frameBytes + qint64(heardPastRead * rate / 1e6));
    }
    return frame - m_streamOffset;
}

qint64 PulseOutput::earliestReplaceable(qint64* playedFrame)
{
    const std::optional<qint64> playing = playingFrame();
    const pa_timing_info* timing = m_stream ? pa_stream_get_timing_info(m_stream) : nullptr;
    if (!playing || !timing || timing->read_index_corrupt)
        return -1;
    const double rate = m_format.sampleRate;
    const qint64 frameBytes = qint64(sizeof(float)) * m_format.channels;
    // What the server has taken from the stream may already sit in its own buffer, which
    // nothing can take back: replacing starts after it.
    *playedFrame = *playing;
    const double serverSeconds =
        double(std::max(timing->configured_sink_usec, timing->sink_usec)) / 1e6;
    const qint64 from =
        std::max(*playedFrame + qint64(std::ceil((serverSeconds + cutMarginSeconds) * rate)),
                 qint64(timing->read_index / frameBytes) - m_streamOffset);
    return from >= m_historyEnd - m_historyFrames ? from : -1;
}

int PulseOutput::renderAgain()
{
    if (!m_mainloop)
        return -1;
    pa_threaded_mainloop_lock(m_mainloop);
    const qint64 renderEndBefore = m_renderEnd;
    const auto replace = [this]() -> int {
        qint64 playedFrame = 0;
        const qint64 from = earliestReplaceable(&playedFrame);
        const int channels = m_format.channels;
        const double rate = m_format.sampleRate;
        const qint64 fadeFrames = std::lround(cutFadeSeconds * rate);
        // Only the renderer's own sound is rendered again, not a cut's fade and silence.
        if (from < 0 || from + fadeFrames > m_renderEnd)
            return -1;
        const auto again = m_renderer->renderAgain(m_renderEnd - from, m_rewrite.data(),
                                                   int(m_rewrite.size()) / channels);
        if (again.framesBack < 0)
            return -1;
        const qint64 start = m_renderEnd - again.framesBack;
        // From what was buffered into the new sound.
        const qint64 capacity = qint64(m_history.size()) / channels;
        const qint64 overlap = std::min({fadeFrames, qint64(again.frames), m_historyEnd - start});
        for (qint64 i = 0; i < overlap; ++i) {
            const float share = float(i + 1) / float(overlap + 1);
            const float* before = &m_history[std::size_t(((start + i) % capacity) * channels)];
            for (int channel = 0; channel < channels; ++channel) {
                float& sample = m_rewrite[std::size_t(i * channels + channel)];
                sample = before[channel] * (1 - share) + sample * share;
            }
        }
        const std::size_t frameBytes = sizeof(float) * std::size_t(channels);
        m_renderEnd = start + again.frames;
        if (pa_stream_write(m_stream, m_rewrite.data(), std::size_t(again.frames) * frameBytes,
                            nullptr, (start + m_streamOffset) * qint64(frameBytes),
                            PA_SEEK_ABSOLUTE) < 0)
            return -1;
        remember(m_rewrite.data(), again.frames, start);
        return int(std::ceil(1000.0 * double(start + fadeFrames - playedFrame) / rate));
    };
    const int heardInMs = replace();
    // The old sound after what was rendered again is replaced as well, by what follows.
    if (heardInMs >= 0 && renderEndBefore > m_renderEnd)
        renderAndWrite(std::size_t(renderEndBefore - m_renderEnd) * sizeof(float) *
                       std::size_t(m_format.channels));
    pa_threaded_mainloop_unlock(m_mainloop);
    return heardInMs;
}

double PulseOutput::aheadSeconds()
{
    if (!m_mainloop)
        return 0;
    pa_threaded_mainloop_lock(m_mainloop);
    const std::optional<qint64> playing = playingFrame();
    const double ahead = playing ? double(std::max<qint64>(m_renderEnd - *playing, 0)) : 0.0;
    pa_threaded_mainloop_unlock(m_mainloop);
    return ahead / m_format.sampleRate;
}

void PulseOutput::remember(const float* frames, int count, qint64 position)
{
    const int channels = m_format.channels;
    const qint64 capacity = qint64(m_history.size()) / channels;
    const qint64 oldest = m_historyEnd - m_historyFrames;
    for (int i = int(std::max<qint64>(0, count - capacity)); i < count; ++i) {
        float* target = &m_history[std::size_t(((position + i) % capacity) * channels)];
        std::copy_n(frames + std::size_t(i) * std::size_t(channels), channels, target);
    }
    // What lies after a write that went back stays in the stream, and is kept here too.
    const qint64 end = std::max(m_historyEnd, position + count);
    const qint64 first = position >= oldest ? oldest : position;
    m_historyEnd = end;
    m_historyFrames = std::min(capacity, end - first);
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
        output->armTopUp();
    } else if (!PA_STREAM_IS_GOOD(state)) {
        output->m_ready = false;
        output->scheduleReconnect();
    }
    pa_threaded_mainloop_signal(output->m_mainloop, 0);
}

void PulseOutput::onWrite(pa_stream*, std::size_t bytes, void* self)
{
    auto* output = static_cast<PulseOutput*>(self);
    if (output->m_renderer && !output->m_corked)
        output->renderAndWrite(bytes);
}

void PulseOutput::armTopUp()
{
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(m_mainloop);
    timeval when;
    pa_timeval_add(pa_gettimeofday(&when), topUpInterval);
    if (m_topUp) {
        api->time_restart(m_topUp, &when);
        return;
    }
    m_topUp = api->time_new(
        api, &when,
        [](pa_mainloop_api*, pa_time_event*, const timeval*, void* self) {
            auto* output = static_cast<PulseOutput*>(self);
            output->topUp();
            // Resting, the stream needs nothing until wake().
            if (!output->m_corked)
                output->armTopUp();
        },
        this);
}

void PulseOutput::topUp()
{
    // libpulse counts a write that goes back (a cut, a render again) as new data and then
    // leaves that much of the server's next requests unanswered: the fill is kept up here
    // too, from where the stream really is.
    const std::optional<qint64> playing = playingFrame();
    const pa_buffer_attr* attributes = m_stream ? pa_stream_get_buffer_attr(m_stream) : nullptr;
    if (!m_renderer || !playing || !attributes)
        return;
    const qint64 frameBytes = qint64(sizeof(float)) * m_format.channels;
    const qint64 missing = attributes->tlength / frameBytes - (m_renderEnd - *playing);
    if (missing >= qint64(attributes->minreq) / frameBytes)
        renderAndWrite(std::size_t(missing * frameBytes));
}

void PulseOutput::renderAndWrite(std::size_t bytes)
{
    const std::size_t frameBytes = sizeof(float) * std::size_t(m_format.channels);
    RenderTiming timing;
    if (const pa_buffer_attr* attributes = pa_stream_get_buffer_attr(m_stream))
        timing.latencyFrames = double(attributes->tlength / frameBytes);
    // A stream not yet playing (opened, or flushed) waits for a buffer's worth anyway.
    if (m_starting)
        timing.aheadFrames = timing.latencyFrames;
    else if (const std::optional<qint64> playing = playingFrame())
        timing.aheadFrames = double(std::max<qint64>(m_renderEnd - *playing, 0));
    while (bytes >= frameBytes) {
        void* data = nullptr;
        std::size_t size = bytes;
        if (pa_stream_begin_write(m_stream, &data, &size) < 0 || !data)
            return;
        const int frames = int(std::min(size, bytes) / frameBytes);
        if (frames == 0) {
            pa_stream_cancel_write(m_stream);
            return;
        }
        const bool active = m_renderer->render(static_cast<float*>(data), frames, timing);
        const qint64 position = m_renderEnd;
        remember(static_cast<const float*>(data), frames, position);
        m_renderEnd += frames;
        // Where the stream's own index is unknown (after a flush) it is at our end.
        pa_stream_write(m_stream, data, std::size_t(frames) * frameBytes, nullptr,
                        m_offsetKnown ? (position + m_streamOffset) * qint64(frameBytes) : 0,
                        m_offsetKnown ? PA_SEEK_ABSOLUTE : PA_SEEK_RELATIVE);
        learnStreamOffset();
        bytes -= std::size_t(frames) * frameBytes;
        if (!active) {
            release(pa_stream_cork(m_stream, 1, nullptr, nullptr));
            m_corked = true;
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
