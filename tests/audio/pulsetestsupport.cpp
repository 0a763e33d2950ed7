#include "pulsetestsupport.h"

#include "audiotestsupport.h"

#include <cmath>
#include <cstring>
#include <QFile>
#include <QStandardPaths>

namespace calmcove::test {

PrivatePulseServer::PrivatePulseServer()
{
    QFile::setPermissions(m_runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
    qunsetenv("PULSE_SERVER");
}

PrivatePulseServer::~PrivatePulseServer()
{
    kill();
}

bool PrivatePulseServer::isAvailable()
{
    return !QStandardPaths::findExecutable(QStringLiteral("pulseaudio")).isEmpty();
}

bool PrivatePulseServer::start()
{
    const int result = QProcess::execute(
        "pulseaudio", {"-D", "--exit-idle-time=-1", "--system=false", "-n", "--realtime=true",
                       "--high-priority=true", "--load=module-null-sink sink_name=test",
                       "--load=module-native-protocol-unix auth-anonymous=1"});
    return result == 0 &&
           waitUntil([this] { return QFile::exists(m_runtime.filePath("pulse/native")); }, 5000);
}

void PrivatePulseServer::kill()
{
    QProcess::execute("pulseaudio", {"--kill"});
    waitUntil([this] { return !QFile::exists(m_runtime.filePath("pulse/pid")); }, 3000);
}

QString PrivatePulseServer::serverAddress() const
{
    return QStringLiteral("unix:") + m_runtime.filePath(QStringLiteral("pulse/native"));
}

qint64 PrivatePulseServer::pid() const
{
    QFile file(m_runtime.filePath(QStringLiteral("pulse/pid")));
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toLongLong() : 0;
}

MonitorRecorder::MonitorRecorder()
{
    m_process.start("parecord", {"--device=test.monitor", "--raw", "--format=float32le",
                                 QStringLiteral("--rate=%1").arg(sampleRate), "--channels=2",
                                 "--latency-msec=20"});
    m_process.waitForStarted();
    // The monitor streams silence while nothing plays: once some has arrived, the
    // recording is surely running.
    waitUntil([this] { return frames() > sampleRate / 5; }, 5000);
}

MonitorRecorder::~MonitorRecorder()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
}

void MonitorRecorder::collect()
{
    // Whatever waits in the pipe too, so that frames() is as close to now as it can be.
    while (m_process.waitForReadyRead(0)) {
    }
    m_recorded += m_process.readAllStandardOutput();
}

qint64 MonitorRecorder::frames()
{
    collect();
    return m_recorded.size() / qsizetype(2 * sizeof(float));
}

qint64 MonitorRecorder::firstFrameAbove(float threshold)
{
    if (threshold != m_scanThreshold) {
        m_scanThreshold = threshold;
        m_scannedSamples = 0;
    }
    const qint64 samples = 2 * frames();
    for (; m_scannedSamples < samples; ++m_scannedSamples) {
        float sample;
        std::memcpy(&sample, m_recorded.constData() + m_scannedSamples * qsizetype(sizeof sample),
                    sizeof sample);
        if (std::abs(sample) > threshold)
            return m_scannedSamples / 2;
    }
    return -1;
}

MonitorRecorder::Recording MonitorRecorder::finish()
{
    m_process.terminate();
    m_process.waitForFinished(3000);
    const QByteArray bytes = m_recorded + m_process.readAllStandardOutput();
    m_recorded.clear();
    m_scannedSamples = 0;
    const std::size_t frames = std::size_t(bytes.size()) / (2 * sizeof(float));
    std::vector<float> interleaved(2 * frames);
    std::memcpy(interleaved.data(), bytes.constData(), interleaved.size() * sizeof(float));
    Recording recording;
    recording.left.resize(frames);
    recording.right.resize(frames);
    for (std::size_t i = 0; i < frames; ++i) {
        recording.left[i] = interleaved[2 * i];
        recording.right[i] = interleaved[2 * i + 1];
    }
    return recording;
}

} // namespace calmcove::test
