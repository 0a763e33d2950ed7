#include "audioengine.h"

#include "decoderthread.h"
#include "renderchain.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>
#include <thread>

namespace calmcove {

namespace {
constexpr std::uint64_t frameMask = (std::uint64_t(1) << 48) - 1;

double finiteOr(double value, double fallback)
{
    return std::isfinite(value) ? value : fallback;
}
} // namespace

quint64 PlayerNode::scheduleSegment(std::shared_ptr<const AudioFile> file, qint64 startFrame,
                                    qint64 frameCount, Completion completion, double gainDb)
{
    AudioEngine& engine = m_engine;
    const quint64 id = engine.m_nextSegmentID++;
    const qint64 start = std::clamp<qint64>(startFrame, 0, file->length());
    const qint64 count = std::clamp<qint64>(frameCount, 0, file->length() - start);
    auto segment = std::make_shared<PlayerSegment>(
        id, std::move(file), start, count, engine.m_sampleRate,
        std::bit_ceil(std::size_t(DecoderThread::bufferSeconds * engine.m_sampleRate)));
    segment->gain.store(linearGain(gainDb), std::memory_order_relaxed);
    engine.m_segments.emplace(id, AudioEngine::SegmentEntry{segment, std::move(completion)});
    engine.m_decoder->add(segment);
    engine.submit(PlayerCommand{PlayerCommand::Type::schedule, segment.get()});
    return id;
}

void PlayerNode::setFileGain(const QString& path, double gainDb)
{
    const float gain = linearGain(gainDb);
    for (auto& [id, entry] : m_engine.m_segments) {
        if (entry.segment->file->path() == path)
            entry.segment->gain.store(gain, std::memory_order_relaxed);
    }
}

void PlayerNode::play()
{
    if (m_playing) {
        m_engine.submit(PlayerCommand{PlayerCommand::Type::play});
        return;
    }
    m_playing = true;
    // What the output has buffered is silence: the sound starts after a cut of it, not
    // after the whole buffer.
    m_engine.interrupt({PlayerCommand{PlayerCommand::Type::play}});
}

void PlayerNode::pause()
{
    m_playing = false;
    m_engine.interrupt({PlayerCommand{PlayerCommand::Type::pause}});
}

void PlayerNode::stop()
{
    m_playing = false;
    ++m_generation;
    AudioEngine& engine = m_engine;
    // Completions of discarded segments are due now, not when the render thread gets to
    // the stop (which may be never, with no sound server).
    for (auto& [id, entry] : engine.m_segments) {
        entry.segment->discarded.store(true, std::memory_order_relaxed);
        if (entry.completed)
            continue;
        entry.completed = true;
        QMetaObject::invokeMethod(
            &engine, [completion = entry.completion] { completion(SegmentEnd::discarded); },
            Qt::QueuedConnection);
    }
    engine.interrupt({PlayerCommand{PlayerCommand::Type::pause},
                      PlayerCommand{PlayerCommand::Type::stop, nullptr, m_generation}});
}

std::optional<qint64> PlayerNode::sampleTime() const
{
    if (!m_playing || !m_engine.m_running)
        return std::nullopt;
    const std::uint64_t packed = m_engine.m_chain->player().packedSampleTime();
    if ((packed >> 48) != m_generation)
        return 0; // the render thread has not reached the last stop yet
    // Counted as frames enter the chain: what the output holds has not been heard yet.
    const double rate = m_engine.m_chain->parameters().rate.load(std::memory_order_relaxed);
    const auto unheard =
        qint64(std::lround(m_engine.m_output->aheadSeconds() * m_engine.m_sampleRate * rate));
    return std::max<qint64>(0, qint64(packed & frameMask) - unheard);
}

AudioEngine::AudioEngine(std::unique_ptr<AudioOutput> output, int sampleRate, QObject* parent)
    : QObject(parent), m_sampleRate(sampleRate), m_output(std::move(output)),
      m_decoderWakeup(std::make_unique<Wakeup>()),
      m_chain(std::make_unique<RenderChain>(sampleRate, *m_decoderWakeup,
                                            m_output && m_output->rendersAgain())),
      m_player(*this)
{
    // What the output has buffered was rendered with the old settings: rendered again, the
    // new ones are heard at once instead of after the buffer.
    m_renderAgainTimer.setSingleShot(true);
    connect(&m_renderAgainTimer, &QTimer::timeout, this, [this] {
        if (m_running)
            m_output->renderAgain();
        m_lastRenderAgain.start();
    });
    m_decoder = std::make_unique<DecoderThread>(
        sampleRate, m_chain->player().events(), *m_decoderWakeup, [this](const PlayerEvent& event) {
            QMetaObject::invokeMethod(
                this, [this, event] { handleEvent(event); }, Qt::QueuedConnection);
        });
}

AudioEngine::~AudioEngine()
{
    stop();
    m_decoder.reset();
}

bool AudioEngine::start(QString* errorMessage)
{
    if (m_running)
        return true;
    if (!m_output) {
        if (errorMessage)
            *errorMessage = QStringLiteral("No audio output");
        return false;
    }
    QString reason;
    if (!m_output->start(AudioFormat{m_sampleRate, 2}, m_chain.get(), &reason)) {
        if (errorMessage)
            *errorMessage =
                reason.isEmpty() ? QStringLiteral("The audio output did not start") : reason;
        return false;
    }
    m_running = true;
    return true;
}

void AudioEngine::stop()
{
    if (!m_running)
        return;
    ChainParameters& parameters = m_chain->parameters();
    const int cutHeardInMs = m_chain->isResting() ? -1 : m_output->cutShort([&parameters] {
        parameters.silenced.store(true, std::memory_order_release);
    });
    if (cutHeardInMs >= 0) {
        // Closing the stream drops what the server has not played yet: the cut's fade has to
        // be heard first.
        std::this_thread::sleep_for(
            std::chrono::milliseconds(std::min(cutHeardInMs + 5, stopFadeLimitMs)));
    } else if (m_output->rendersByItself() && !m_chain->isResting()) {
        // Closing the stream mid-waveform would click: the render thread fades out first.
        m_chain->parameters().muted.store(true, std::memory_order_release);
        m_output->wake();
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(stopFadeLimitMs);
        while (!m_chain->isFadedOut() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    m_output->stop();
    parameters.muted.store(false, std::memory_order_release);
    parameters.silenced.store(false, std::memory_order_release);
    m_running = false;
    // With no render thread left, the main thread plays its part for queued commands.
    m_chain->player().processCommands();
    m_decoderWakeup->notify();
}

void AudioEngine::submit(const PlayerCommand& command)
{
    PlayerStage& player = m_chain->player();
    if (!m_running) {
        player.apply(command);
        m_decoderWakeup->notify();
        return;
    }
    // The render thread empties the queue every few milliseconds; a full queue means the
    // output is stalled (a sound server being restarted), so wait only briefly.
    for (int attempt = 0; !player.commands().push(command); ++attempt) {
        m_output->wake();
        if (attempt == 200) {
            if (command.type == PlayerCommand::Type::schedule)
                QMetaObject::invokeMethod(
                    this,
                    [this, id = command.segment->id] {
                        handleEvent(PlayerEvent{PlayerEvent::Type::released, id});
                    },
                    Qt::QueuedConnection);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    m_output->wake();
}

void AudioEngine::interrupt(std::initializer_list<PlayerCommand> commands)
{
    std::size_t queued = 0;
    if (m_running) {
        PlayerStage& player = m_chain->player();
        const int heardInMs = m_output->cutShort([&] {
            for (PlayerCommand command : commands) {
                command.cut = true;
                if (!player.commands().push(command))
                    break;
                ++queued;
            }
        });
        if (heardInMs < 0)
            queued = 0;
    }
    // Without a cut (or, never in practice, with the command queue full) the player fades.
    for (auto command = commands.begin() + queued; command != commands.end(); ++command)
        submit(*command);
}

void AudioEngine::handleEvent(const PlayerEvent& event)
{
    const auto found = m_segments.find(event.segmentID);
    if (found == m_segments.end())
        return;
    SegmentEntry entry = std::move(found->second);
    m_segments.erase(found);
    entry.segment->discarded.store(true, std::memory_order_relaxed);
    if (!entry.completed && entry.completion)
        entry.completion(event.type == PlayerEvent::Type::finished
                             ? PlayerNode::SegmentEnd::played
                             : PlayerNode::SegmentEnd::discarded);
}

void AudioEngine::setEqualiserGains(double lowDb, double midDb, double highDb)
{
    ChainParameters& parameters = m_chain->parameters();
    const bool low = store(parameters.lowGain, std::clamp(finiteOr(lowDb, 0), -24.0, 24.0));
    const bool mid = store(parameters.midGain, std::clamp(finiteOr(midDb, 0), -24.0, 24.0));
    const bool high = store(parameters.highGain, std::clamp(finiteOr(highDb, 0), -24.0, 24.0));
    if (low || mid || high)
        settingChanged();
}

void AudioEngine::setRate(double rate)
{
    if (store(m_chain->parameters().rate, std::clamp(finiteOr(rate, 1), 0.5, 2.0)))
        settingChanged();
}

void AudioEngine::setReverbMix(double percent)
{
    if (store(m_chain->parameters().reverbMix, std::clamp(finiteOr(percent, 0), 0.0, 100.0)))
        settingChanged();
}

void AudioEngine::setVolume(double volume)
{
    if (store(m_chain->parameters().volume, std::clamp(finiteOr(volume, 0), 0.0, 1.0)))
        settingChanged();
}

bool AudioEngine::store(std::atomic<double>& setting, double value)
{
    return setting.exchange(value) != value;
}

void AudioEngine::settingChanged()
{
    // The settings of one change (a mood sets several) go together, and a setting that keeps
    // moving (a volume slider) renders again at most every renderAgainIntervalMs.
    if (!m_running || m_renderAgainTimer.isActive())
        return;
    const qint64 since =
        m_lastRenderAgain.isValid() ? m_lastRenderAgain.elapsed() : renderAgainIntervalMs;
    m_renderAgainTimer.start(
        int(std::clamp<qint64>(renderAgainIntervalMs - since, 0, renderAgainIntervalMs)));
}

std::uint64_t AudioEngine::underruns() const
{
    return m_chain->player().underruns() + m_output->underruns();
}

} // namespace calmcove
