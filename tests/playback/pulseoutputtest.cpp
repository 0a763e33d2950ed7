// End to end through a real PulseAudio server: a private server with a null sink is
// started for the test, and what the engine plays is recorded from the sink's monitor.

#include "playback/pulseoutput.h"

#include "audiotestsupport.h"

#include <cstring>
#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>

namespace calmcove {
namespace {

using namespace calmcove::test;

constexpr int rate = 44100;

// A pulseaudio daemon of our own in a private runtime directory, killed at the end.
class PrivatePulseServer
{
public:
    PrivatePulseServer()
    {
        QFile::setPermissions(m_runtime.path(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
        qunsetenv("PULSE_SERVER");
    }
    ~PrivatePulseServer() { kill(); }

    bool start()
    {
        const int result = QProcess::execute(
            "pulseaudio", {"-D", "--exit-idle-time=-1", "--system=false", "-n",
                           "--load=module-null-sink sink_name=test",
                           "--load=module-native-protocol-unix auth-anonymous=1"});
        return result == 0 &&
               waitUntil([this] { return QFile::exists(m_runtime.filePath("pulse/native")); },
                         5000);
    }
    void kill()
    {
        QProcess::execute("pulseaudio", {"--kill"});
        waitUntil([this] { return !QFile::exists(m_runtime.filePath("pulse/pid")); }, 3000);
    }

private:
    QTemporaryDir m_runtime;
};

// Records the null sink's monitor as raw stereo float at 44.1 kHz.
class Recorder
{
public:
    Recorder()
    {
        m_process.start("parecord", {"--device=test.monitor", "--raw", "--format=float32le",
                                     "--rate=44100", "--channels=2", "--latency-msec=20"});
        m_process.waitForStarted();
        // The monitor streams silence while nothing plays: once some has arrived, the
        // recording is surely running.
        waitUntil(
            [this] {
                m_recorded += m_process.readAllStandardOutput();
                return m_recorded.size() > qsizetype(rate / 5 * 2 * sizeof(float));
            },
            5000);
    }
    // One channel of everything recorded.
    std::vector<float> finish()
    {
        m_process.terminate();
        m_process.waitForFinished(3000);
        const QByteArray bytes = m_recorded + m_process.readAllStandardOutput();
        std::vector<float> interleaved(std::size_t(bytes.size()) / sizeof(float));
        std::memcpy(interleaved.data(), bytes.constData(), interleaved.size() * sizeof(float));
        std::vector<float> left(interleaved.size() / 2);
        for (std::size_t i = 0; i < left.size(); ++i)
            left[i] = interleaved[2 * i];
        return left;
    }

private:
    QProcess m_process;
    QByteArray m_recorded;
};

// Plays the tone file once and returns what the sink's monitor heard.
std::vector<float> playAndRecord(AudioEngine& engine, const QString& tone)
{
    Recorder recorder;
    int completions = 0;
    engine.player().stop();
    engine.player().scheduleSegment(AudioFile::open(tone, nullptr), 0, rate,
                                    [&completions](PlayerNode::SegmentEnd) { ++completions; });
    engine.player().play();
    EXPECT_TRUE(waitUntil([&] { return completions == 1; }, 5000));
    waitUntil([] { return false; }, 300);
    return recorder.finish();
}

TEST(PulseOutputTest, AudioArrivesAtTheSinkAndSurvivesAServerRestart)
{
    if (QStandardPaths::findExecutable("pulseaudio").isEmpty())
        GTEST_SKIP() << "pulseaudio is not installed";
    QTemporaryDir folder;
    const QString tone = writeTone(folder, "tone.wav", 440, 1.0);
    PrivatePulseServer server;
    ASSERT_TRUE(server.start());

    auto output = std::make_unique<PulseOutput>();
    PulseOutput* pulse = output.get();
    AudioEngine engine(std::move(output));
    QString error;
    ASSERT_TRUE(engine.start(&error)) << error.toStdString();

    const auto checkHeard = [](const std::vector<float>& heard) {
        const qint64 first = firstAbove(heard, 0.1f), last = lastAbove(heard, 0.1f);
        ASSERT_GE(first, 0) << "nothing arrived";
        EXPECT_NEAR(double(last - first), double(rate), 0.05 * rate);
        // Loose on level: a loaded machine may drop a buffer or two here, which is the
        // sound server's business; the engine's own continuity is tested on the null output.
        EXPECT_NEAR(toneAmplitude(heard, std::size_t(first) + rate / 4, rate / 2, 440, rate), 0.5,
                    0.1);
        EXPECT_NEAR(
            dominantFrequency(heard, std::size_t(first) + rate / 4, rate / 4, 430, 450, rate),
            440.0, 1.0);
    };
    checkHeard(playAndRecord(engine, tone));

    server.kill();
    waitUntil([] { return false; }, 500);
    ASSERT_TRUE(server.start());
    EXPECT_TRUE(waitUntil([&] { return pulse->reconnections() >= 1; }, 5000));
    EXPECT_TRUE(engine.isRunning());
    checkHeard(playAndRecord(engine, tone));
}

} // namespace
} // namespace calmcove
