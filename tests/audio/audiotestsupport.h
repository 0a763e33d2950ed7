#pragma once

// Helpers for the engine's tests: test signals written to real files with ffmpeg, an
// engine rendering offline into a capture buffer, and the measurements the tests make.

#include "audio/audioengine.h"
#include "audio/captureoutput.h"

#include <functional>
#include <memory>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <vector>

namespace calmcove::test {

// Runs ffmpeg with these arguments (quietly, overwriting); true when it succeeded.
bool ffmpeg(const QStringList& arguments);
// Writes a file from an ffmpeg "aevalsrc" expression (stereo, both channels the same) of
// exactly `frames` frames; extra output options (codec, bit rate…) go before the file name.
QString writeSignal(const QTemporaryDir& folder, const QString& fileName, const QString& expression,
                    qint64 frames, int sampleRate = 44100, const QStringList& outputOptions = {});
// A sine of amplitude 0.5 lasting `seconds`.
QString writeTone(const QTemporaryDir& folder, const QString& fileName, double frequency,
                  double seconds, int sampleRate = 44100);

// An engine on a capture output, everything at 44.1 kHz unless said otherwise.
class OfflineEngine
{
public:
    explicit OfflineEngine(int sampleRate = 44100);

    AudioEngine& engine() { return *m_engine; }
    PlayerNode& player() { return m_engine->player(); }
    CaptureOutput& capture() { return *m_capture; }
    // Flat equaliser, rate 1, no reverb, full volume.
    void neutral();

    // Schedules the whole file and counts its completions into `completions` (if given).
    quint64 scheduleFile(const QString& path, int* completions = nullptr,
                         PlayerNode::SegmentEnd* lastEnd = nullptr, qint64 startFrame = 0);
    void render(qint64 frames);
    // Renders in blocks, delivering queued calls in between, until done() or the limit.
    bool renderUntil(const std::function<bool()>& done, qint64 maxFrames);
    // One channel of everything captured.
    std::vector<float> channel(int index = 0) const;

private:
    CaptureOutput* m_capture;
    std::unique_ptr<AudioEngine> m_engine;
};

// Delivers queued calls until done() or the timeout (milliseconds of wall time).
bool waitUntil(const std::function<bool()>& done, int timeoutMs);

// Amplitude of the component at `frequency` in samples [from, from + count), by correlation
// with a Hann window.
double toneAmplitude(const std::vector<float>& samples, std::size_t from, std::size_t count,
                     double frequency, int sampleRate);
// The frequency (searched between low and high in 0.1 Hz steps) with the strongest component.
double dominantFrequency(const std::vector<float>& samples, std::size_t from, std::size_t count,
                         double low, double high, int sampleRate);
double rms(const std::vector<float>& samples, std::size_t from, std::size_t count);
// First index at or after `from` whose magnitude exceeds the threshold, or -1.
qint64 firstAbove(const std::vector<float>& samples, float threshold, std::size_t from = 0);
qint64 lastAbove(const std::vector<float>& samples, float threshold);
// The largest difference between neighbouring samples in [from, to): a click shows there.
double largestStep(const std::vector<float>& samples, std::size_t from, std::size_t to);
// The largest magnitude in [from, from + count).
float peakIn(const std::vector<float>& samples, std::size_t from, std::size_t count);
double decibels(double ratio);

} // namespace calmcove::test
