#include "audiotestsupport.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

namespace calmcove::test {

bool ffmpeg(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral("ffmpeg"),
                  QStringList{"-nostdin", "-v", "error", "-y"} + arguments);
    return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

QString writeSignal(const QTemporaryDir& folder, const QString& fileName, const QString& expression,
                    qint64 frames, int sampleRate, const QStringList& outputOptions)
{
    const QString path = folder.filePath(fileName);
    // Commas would end the filter's option inside a filter graph.
    QString escaped = expression;
    escaped.replace(QLatin1Char(','), QLatin1String("\\,"));
    const QString source = QStringLiteral("aevalsrc=%1|%1:s=%2:d=%3")
                               .arg(escaped)
                               .arg(sampleRate)
                               .arg(double(frames) / sampleRate + 0.1, 0, 'f', 6);
    const QStringList arguments =
        QStringList{"-f",   "lavfi", "-i",
                    source, "-af",   QStringLiteral("atrim=end_sample=%1").arg(frames)} +
        outputOptions + QStringList{path};
    return ffmpeg(arguments) ? path : QString();
}

QString writeTone(const QTemporaryDir& folder, const QString& fileName, double frequency,
                  double seconds, int sampleRate)
{
    return writeSignal(folder, fileName, QStringLiteral("0.5*sin(2*PI*%1*t)").arg(frequency),
                       qint64(std::llround(seconds * sampleRate)), sampleRate);
}

OfflineEngine::OfflineEngine(int sampleRate)
{
    auto capture = std::make_unique<CaptureOutput>();
    m_capture = capture.get();
    m_engine = std::make_unique<AudioEngine>(std::move(capture), sampleRate);
    QString error;
    m_engine->start(&error);
}

void OfflineEngine::neutral()
{
    m_engine->setEqualiserGains(0, 0, 0);
    m_engine->setRate(1.0);
    m_engine->setReverbMix(0);
    m_engine->setVolume(1.0);
}

quint64 OfflineEngine::scheduleFile(const QString& path, int* completions,
                                    PlayerNode::SegmentEnd* lastEnd, qint64 startFrame)
{
    QString error;
    auto file = AudioFile::open(path, &error);
    if (!file)
        return 0;
    return player().scheduleSegment(file, startFrame, file->length() - startFrame,
                                    [completions, lastEnd](PlayerNode::SegmentEnd end) {
                                        if (completions)
                                            ++*completions;
                                        if (lastEnd)
                                            *lastEnd = end;
                                    });
}

void OfflineEngine::render(qint64 frames)
{
    m_capture->render(int(frames));
}

bool OfflineEngine::renderUntil(const std::function<bool()>& done, qint64 maxFrames)
{
    for (qint64 rendered = 0; rendered < maxFrames; rendered += 512) {
        QCoreApplication::processEvents();
        if (done())
            return true;
        m_capture->render(512);
    }
    // The decoder thread relays events a moment after the render that caused them.
    return waitUntil(done, 500);
}

std::vector<float> OfflineEngine::channel(int index) const
{
    const std::vector<float>& audio = m_capture->audio();
    std::vector<float> samples(audio.size() / 2);
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = audio[2 * i + std::size_t(index)];
    return samples;
}

bool waitUntil(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

double toneAmplitude(const std::vector<float>& samples, std::size_t from, std::size_t count,
                     double frequency, int sampleRate)
{
    double real = 0, imaginary = 0, windowSum = 0;
    for (std::size_t i = 0; i < count && from + i < samples.size(); ++i) {
        const double window =
            0.5 - 0.5 * std::cos(2 * std::numbers::pi * double(i) / double(count));
        const double phase = 2 * std::numbers::pi * frequency * double(from + i) / sampleRate;
        real += samples[from + i] * window * std::cos(phase);
        imaginary += samples[from + i] * window * std::sin(phase);
        windowSum += window;
    }
    return 2 * std::hypot(real, imaginary) / windowSum;
}

double dominantFrequency(const std::vector<float>& samples, std::size_t from, std::size_t count,
                         double low, double high, int sampleRate)
{
    double best = low, bestAmplitude = -1;
    for (double frequency = low; frequency <= high; frequency += 0.1) {
        const double amplitude = toneAmplitude(samples, from, count, frequency, sampleRate);
        if (amplitude > bestAmplitude) {
            bestAmplitude = amplitude;
            best = frequency;
        }
    }
    return best;
}

double rms(const std::vector<float>& samples, std::size_t from, std::size_t count)
{
    double sum = 0;
    std::size_t n = 0;
    for (std::size_t i = from; i < from + count && i < samples.size(); ++i, ++n)
        sum += double(samples[i]) * samples[i];
    return n ? std::sqrt(sum / double(n)) : 0.0;
}

qint64 firstAbove(const std::vector<float>& samples, float threshold, std::size_t from)
{
    for (std::size_t i = from; i < samples.size(); ++i)
        if (std::fabs(samples[i]) > threshold)
            return qint64(i);
    return -1;
}

qint64 lastAbove(const std::vector<float>& samples, float threshold)
{
    for (std::size_t i = samples.size(); i-- > 0;)
        if (std::fabs(samples[i]) > threshold)
            return qint64(i);
    return -1;
}

double largestStep(const std::vector<float>& samples, std::size_t from, std::size_t to)
{
    double largest = 0;
    for (std::size_t i = std::max<std::size_t>(from, 1); i < std::min(to, samples.size()); ++i)
        largest = std::max(largest, double(std::fabs(samples[i] - samples[i - 1])));
    return largest;
}

float peakIn(const std::vector<float>& samples, std::size_t from, std::size_t count)
{
    float peak = 0;
    for (std::size_t i = from; i < std::min(from + count, samples.size()); ++i)
        peak = std::max(peak, std::fabs(samples[i]));
    return peak;
}

double decibels(double ratio)
{
    return 20.0 * std::log10(ratio);
}

} // namespace calmcove::test
