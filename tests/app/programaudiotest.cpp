// The calmcove program end to end through a real sound server: `calmcove --headless` runs
// against a private PulseAudio server with a null sink, and what it plays on launch is
// recorded from the sink's monitor. Also what it does when there is no server at all.

#include "albums/albumindex.h"
#include "audio/audiotestsupport.h"
#include "audio/pulsetestsupport.h"
#include "model/tracklibrary.h"
#include "support/qtprinters.h"
#include "support/tempxdg.h"

#include <cmath>
#include <complex>
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <numbers>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QUuid>

namespace calmcove {
namespace {

using namespace calmcove::test;

constexpr int rate = MonitorRecorder::sampleRate;

// Folders of its own for one run of the program, inside the test's temporary root.
class ProgramHome
{
public:
    ProgramHome() : m_root(temporaryXdgRoot() + QStringLiteral("/program-XXXXXX"))
    {
        for (const char* folder : {"data", "config", "cache", "runtime"})
            QDir().mkpath(m_root.filePath(QLatin1String(folder)));
        QFile::setPermissions(runtimeDirectory(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    // $XDG_DATA_HOME/Calmcove of the run.
    QString dataDirectory() const { return m_root.filePath(QStringLiteral("data/Calmcove")); }
    // An empty runtime directory: no sound server socket in it.
    QString runtimeDirectory() const { return m_root.filePath(QStringLiteral("runtime")); }

    // The program's environment with the XDG folders of this home and no sound server.
    QProcessEnvironment environment() const
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_DATA_HOME"),
                           m_root.filePath(QStringLiteral("data")));
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"),
                           m_root.filePath(QStringLiteral("config")));
        environment.insert(QStringLiteral("XDG_CACHE_HOME"),
                           m_root.filePath(QStringLiteral("cache")));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDirectory());
        environment.remove(QStringLiteral("PULSE_SERVER"));
        // libpulse would also look for a server named on the X display.
        environment.remove(QStringLiteral("DISPLAY"));
        environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
        return environment;
    }
    // The same, pointed at the server.
    QProcessEnvironment environment(const PrivatePulseServer& server) const
    {
        QProcessEnvironment pointed = environment();
        pointed.insert(QStringLiteral("XDG_RUNTIME_DIR"), server.runtimeDirectory());
        pointed.insert(QStringLiteral("PULSE_SERVER"), server.serverAddress());
        return pointed;
    }

    // A value of the program's settings file as it is on disk now, read as text so that
    // every poll sees the file's current content.
    QString storedSetting(const QString& key) const
    {
        QFile file(m_root.filePath(QStringLiteral("config/Calmcove/Calmcove.conf")));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        const QRegularExpression line(QStringLiteral("^%1=(.*)$").arg(key),
                                      QRegularExpression::MultilineOption);
        return line.match(QString::fromUtf8(file.readAll())).captured(1).trimmed();
    }

private:
    QTemporaryDir m_root;
};

// One run of `calmcove --headless`; killed if the test leaves it running.
class Program
{
public:
    Program(const QProcessEnvironment& environment, const QStringList& arguments = {})
    {
        m_process.setProcessEnvironment(environment);
        m_process.start(QCoreApplication::applicationDirPath() + QStringLiteral("/calmcove"),
                        QStringList{QStringLiteral("--headless")} + arguments);
        m_process.waitForStarted();
    }
    ~Program()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }

    bool isRunning() const { return m_process.state() == QProcess::Running; }
    QString standardOutput()
    {
        m_output += QString::fromLocal8Bit(m_process.readAllStandardOutput());
        return m_output;
    }
    QString standardError()
    {
        m_errors += QString::fromLocal8Bit(m_process.readAllStandardError());
        return m_errors;
    }
    // Sends SIGTERM; true when the program then ends by itself with status 0 within 10 s.
    bool terminate()
    {
        if (!isRunning())
            return false;
        ::kill(static_cast<pid_t>(m_process.processId()), SIGTERM);
        return m_process.waitForFinished(10000) && m_process.exitStatus() == QProcess::NormalExit &&
               m_process.exitCode() == 0;
    }

private:
    QProcess m_process;
    QString m_output, m_errors;
};

// Reads raw interleaved stereo float into one vector per channel.
MonitorRecorder::Recording readRawStereo(const QString& path)
{
    QFile file(path);
    MonitorRecorder::Recording channels;
    if (!file.open(QIODevice::ReadOnly))
        return channels;
    const QByteArray bytes = file.readAll();
    const std::size_t frames = std::size_t(bytes.size()) / (2 * sizeof(float));
    channels.left.resize(frames);
    channels.right.resize(frames);
    for (std::size_t i = 0; i < frames; ++i) {
        std::memcpy(&channels.left[i], bytes.constData() + 8 * i, sizeof(float));
        std::memcpy(&channels.right[i], bytes.constData() + 8 * i + 4, sizeof(float));
    }
    return channels;
}

void fourierTransform(std::vector<std::complex<double>>& values)
{
    const std::size_t count = values.size(); // a power of two
    for (std::size_t i = 1, j = 0; i < count; ++i) {
        std::size_t bit = count >> 1;
        for (; j & bit; bit >>= 1)
            j ^= bit;
        j ^= bit;
        if (i < j)
            std::swap(values[i], values[j]);
    }
    for (std::size_t length = 2; length <= count; length <<= 1) {
        const std::complex<double> step = std::polar(1.0, -2 * std::numbers::pi / double(length));
        for (std::size_t start = 0; start < count; start += length) {
            std::complex<double> twiddle = 1;
            for (std::size_t k = 0; k < length / 2; ++k, twiddle *= step) {
                const std::complex<double> even = values[start + k];
                const std::complex<double> odd = values[start + k + length / 2] * twiddle;
                values[start + k] = even + odd;
                values[start + k + length / 2] = even - odd;
            }
        }
    }
}

// Each octave band's share (centres 63 Hz … 16 kHz) of the power of samples
// [from, from + count), from Hann windows of 4096 samples overlapping by half.
std::vector<double> octaveBandShares(const std::vector<float>& samples, std::size_t from,
                                     std::size_t count)
{
    constexpr std::size_t size = 4096;
    const std::vector<double> centres = {63, 125, 250, 500, 1000, 2000, 4000, 8000, 16000};
    std::vector<double> power(centres.size(), 0.0);
    std::vector<std::complex<double>> window(size);
    for (std::size_t start = from; start + size <= std::min(samples.size(), from + count);
         start += size / 2) {
        for (std::size_t i = 0; i < size; ++i) {
            const double hann = 0.5 - 0.5 * std::cos(2 * std::numbers::pi * double(i) / size);
            window[i] = hann * samples[start + i];
        }
        fourierTransform(window);
        for (std::size_t bin = 1; bin < size / 2; ++bin) {
            const double frequency = double(bin) * rate / size;
            for (std::size_t band = 0; band < centres.size(); ++band) {
                if (frequency >= centres[band] / std::numbers::sqrt2 &&
                    frequency < centres[band] * std::numbers::sqrt2)
                    power[band] += std::norm(window[bin]);
            }
        }
    }
    double total = 0;
    for (double value : power)
        total += value;
    for (double& value : power)
        value = total > 0 ? value / total : 0;
    return power;
}

// A stretch of the recording where one of the test tones sounds, in seconds.
struct ToneRun
{
    double frequency;
    double start, length;
};

// Splits the recording into 10 ms blocks; a block is heard when its RMS exceeds 0.05 and
// then named after the stronger of the two tones in the 2048 samples around it. Runs of
// the same tone are joined over gaps below 0.1 s (a dropped buffer), and runs shorter than
// 0.1 s (a block misnamed where one tone turns into the other) are left out.
std::vector<ToneRun> toneRuns(const std::vector<float>& samples, double lowTone, double highTone)
{
    constexpr std::size_t block = rate / 100, window = 2048;
    std::vector<ToneRun> runs;
    if (samples.size() < window)
        return runs;
    for (std::size_t start = 0; start + block <= samples.size(); start += block) {
        double frequency = 0;
        if (rms(samples, start, block) > 0.05) {
            const std::size_t from = std::clamp<std::size_t>(start + block / 2, window / 2,
                                                             samples.size() - window / 2) -
                                     window / 2;
            frequency = toneAmplitude(samples, from, window, lowTone, rate) >
                                toneAmplitude(samples, from, window, highTone, rate)
                            ? lowTone
                            : highTone;
        }
        const double time = double(start) / rate, step = double(block) / rate;
        if (frequency == 0)
            continue;
        if (!runs.empty() && runs.back().frequency == frequency &&
            time - (runs.back().start + runs.back().length) < 0.1)
            runs.back().length = time + step - runs.back().start;
        else
            runs.push_back({frequency, time, step});
    }
    std::erase_if(runs, [](const ToneRun& run) { return run.length < 0.1; });
    // Joins what a dropped misnamed block split.
    for (std::size_t i = 1; i < runs.size();) {
        if (runs[i].frequency == runs[i - 1].frequency &&
            runs[i].start - (runs[i - 1].start + runs[i - 1].length) < 0.1) {
            runs[i - 1].length = runs[i].start + runs[i].length - runs[i - 1].start;
            runs.erase(runs.begin() + std::ptrdiff_t(i));
        } else {
            ++i;
        }
    }
    return runs;
}

std::string describe(const std::vector<ToneRun>& runs)
{
    std::string text;
    for (const ToneRun& run : runs)
        text += QStringLiteral("[%1 Hz at %2 s for %3 s] ")
                    .arg(run.frequency)
                    .arg(run.start, 0, 'f', 2)
                    .arg(run.length, 0, 'f', 3)
                    .toStdString();
    return text;
}

bool sox(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral("sox"), arguments);
    return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

QString upperCaseUuid()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

// One private server for the suite: starting one takes about a second.
class ProgramAudioTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        if (!PrivatePulseServer::isAvailable())
            return;
        s_server = std::make_unique<PrivatePulseServer>();
        s_serverStarted = s_server->start();
    }
    static void TearDownTestSuite() { s_server.reset(); }

    void SetUp() override
    {
        if (!s_server)
            GTEST_SKIP() << "pulseaudio is not installed";
        ASSERT_TRUE(s_serverStarted) << "the private PulseAudio server did not start";
    }

    // Starts the recorder about a second before the program, as a listener would hear it.
    static std::unique_ptr<MonitorRecorder> startRecording()
    {
        auto recorder = std::make_unique<MonitorRecorder>();
        waitUntil([] { return false; }, 800);
        return recorder;
    }

    static inline std::unique_ptr<PrivatePulseServer> s_server;
    static inline bool s_serverStarted = false;
};

TEST_F(ProgramAudioTest, PlaysTheStarterTrackOnLaunch)
{
    ProgramHome home;
    const auto recorder = startRecording();
    Program program(home.environment(*s_server));

    // Three seconds of sound after the first audible sample.
    qint64 onset = -1;
    const bool heard = waitUntil(
        [&] {
            onset = recorder->firstFrameAbove(1e-3f);
            return onset >= 0 && recorder->frames() > onset + 3 * rate;
        },
        15000);
    EXPECT_TRUE(program.isRunning());
    EXPECT_TRUE(program.terminate()) << program.standardError().toStdString();
    const MonitorRecorder::Recording recording = recorder->finish();
    ASSERT_TRUE(heard) << "no sound arrived; program said: "
                       << program.standardOutput().toStdString();
    EXPECT_FALSE(program.standardOutput().contains(QStringLiteral("failed")))
        << program.standardOutput().toStdString();

    // What it played is the starter copy of the track it stored as current.
    const QString trackID = home.storedSetting(QStringLiteral("currentTrackID"));
    ASSERT_TRUE(TrackLibrary::starterTrackIDs().contains(trackID)) << trackID.toStdString();
    QTemporaryDir folder;
    const QString decoded = folder.filePath(QStringLiteral("source.raw"));
    ASSERT_TRUE(ffmpeg({"-i",
                        QCoreApplication::applicationDirPath() +
                            QStringLiteral("/../share/calmcove/StarterAudio/%1.m4a").arg(trackID),
                        "-f", "f32le", "-ac", "2", "-ar", QString::number(rate), decoded}));
    const MonitorRecorder::Recording source = readRawStereo(decoded);
    const qint64 sourceOnset = firstAbove(source.left, 1e-3f / 0.72f);
    ASSERT_GE(sourceOnset, 0);

    // Two seconds from a quarter second in, compared with the same stretch of the file.
    const std::size_t length = 2 * rate;
    const std::size_t heardFrom = std::size_t(onset) + rate / 4;
    const std::size_t sourceFrom = std::size_t(sourceOnset) + rate / 4;
    ASSERT_LE(sourceFrom + length, source.left.size());
    for (const auto& [name, heardChannel, sourceChannel] :
         {std::tuple{"left", &recording.left, &source.left},
          std::tuple{"right", &recording.right, &source.right}}) {
        SCOPED_TRACE(name);
        // The focus preset's equaliser (+2.5 dB at 140 Hz at most) and reverb at the
        // default volume 0.72: the level follows the file's.
        const double level =
            rms(*heardChannel, heardFrom, length) / rms(*sourceChannel, sourceFrom, length);
        EXPECT_GT(level, 0.72 * 0.7);
        EXPECT_LT(level, 0.72 * 1.4);
        EXPECT_LT(lastAbove(*heardChannel, 0.999f), 0) << "clipped";
        // Its spectrum has the file's shape: every octave band that carries at least 2 %
        // of the file's power is within 4 dB of its share there.
        const std::vector<double> heardShares = octaveBandShares(*heardChannel, heardFrom, length);
        const std::vector<double> sourceShares =
            octaveBandShares(*sourceChannel, sourceFrom, length);
        for (std::size_t band = 0; band < sourceShares.size(); ++band) {
            if (sourceShares[band] < 0.02)
                continue;
            EXPECT_NEAR(decibels(heardShares[band] / sourceShares[band]), 0.0, 4.0)
                << "octave band " << band << ": heard " << heardShares[band] << ", file "
                << sourceShares[band];
        }
    }
}

TEST_F(ProgramAudioTest, AnImportedAlbumAdvancesAtTheEndOfEachTrack)
{
    ProgramHome home;
    // Two tones of 2 s: a WAV at the output rate and a FLAC at 48 kHz (resampled).
    const QString albumID = upperCaseUuid();
    const QString folder = home.dataDirectory() + QStringLiteral("/Imported Albums/") + albumID;
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_TRUE(sox({"-n", "-r", "44100", "-c", "2", "-b", "16", folder + "/first.wav", "synth",
                     "2", "sine", "440", "vol", "0.5"}));
    ASSERT_TRUE(sox({"-n", "-r", "48000", "-c", "2", "-b", "16", folder + "/second.flac", "synth",
                     "2", "sine", "660", "vol", "0.5"}));
    const ImportedTrackRecord first{upperCaseUuid(), "First", "Test Tones", 2.0, "first.wav"};
    const ImportedTrackRecord second{upperCaseUuid(), "Second", "Test Tones", 2.0, "second.flac"};
    const auto index =
        encodeAlbumIndex({ImportedAlbumRecord{albumID, "Tones", std::nullopt, {first, second}}});
    ASSERT_TRUE(index);
    QFile indexFile(home.dataDirectory() + QStringLiteral("/Imported Albums/albums.json"));
    ASSERT_TRUE(indexFile.open(QIODevice::WriteOnly));
    indexFile.write(*index);
    indexFile.close();

    const auto recorder = startRecording();
    Program program(home.environment(*s_server),
                    {QStringLiteral("--setting"), QStringLiteral("selectedAlbumID=") + albumID});

    // The stored current track follows every change: first, second, then first again.
    QStringList seen;
    const bool wrapped = waitUntil(
        [&] {
            const QString current = home.storedSetting(QStringLiteral("currentTrackID"));
            if (!current.isEmpty() && (seen.isEmpty() || seen.last() != current))
                seen.append(current);
            return seen.size() >= 3;
        },
        20000);
    waitUntil([] { return false; }, 300);
    EXPECT_TRUE(program.terminate()) << program.standardError().toStdString();
    const MonitorRecorder::Recording recording = recorder->finish();
    ASSERT_TRUE(wrapped) << "stored tracks: " << seen.join(QLatin1Char(' ')).toStdString()
                         << "; program said: " << program.standardOutput().toStdString();
    EXPECT_EQ(seen.mid(0, 3), (QStringList{first.id, second.id, first.id}));

    // The recording heard both tracks in full, one after the other.
    const std::vector<ToneRun> runs = toneRuns(recording.left, 440, 660);
    ASSERT_GE(runs.size(), 3u) << describe(runs);
    EXPECT_EQ(runs[0].frequency, 440) << describe(runs);
    EXPECT_EQ(runs[1].frequency, 660) << describe(runs);
    EXPECT_EQ(runs[2].frequency, 440) << describe(runs);
    // A loaded machine may delay a buffer or two on the server's side.
    EXPECT_NEAR(runs[0].length, 2.0, 0.12) << describe(runs);
    EXPECT_NEAR(runs[1].length, 2.0, 0.12) << describe(runs);
    // The next track follows without a gap (measured in blocks of 10 ms).
    const double gap = runs[1].start - (runs[0].start + runs[0].length);
    EXPECT_LT(gap, 0.05) << describe(runs);
}

// No sound server: the message, and the program runs on until it is told to quit.
TEST(ProgramWithoutSoundServerTest, ReportsThePlaybackFailureAndKeepsRunning)
{
    ProgramHome home;
    struct Case
    {
        const char* name;
        QProcessEnvironment environment;
    };
    QProcessEnvironment bogusServer = home.environment();
    bogusServer.insert(QStringLiteral("PULSE_SERVER"), QStringLiteral("unix:") +
                                                           home.runtimeDirectory() +
                                                           QStringLiteral("/no-such-server"));
    const std::vector<Case> cases = {
        {"PULSE_SERVER names a socket nobody listens on", bogusServer},
        {"no server in the runtime directory", home.environment()},
    };
    const QString prefix = QStringLiteral("Calmcove playback failed: ");
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        Program program(test.environment);
        // libpulse gives up on a refused connection at once; the output waits 5 s at most.
        EXPECT_TRUE(waitUntil([&] { return program.standardOutput().contains(prefix); }, 10000))
            << program.standardOutput().toStdString() << program.standardError().toStdString();
        const QString line =
            program.standardOutput().section(prefix, 1).section(QLatin1Char('\n'), 0, 0);
        EXPECT_FALSE(line.trimmed().isEmpty()) << "no reason given";
        waitUntil([] { return false; }, 500);
        EXPECT_TRUE(program.isRunning()) << program.standardError().toStdString();
        EXPECT_TRUE(program.terminate()) << program.standardError().toStdString();
        EXPECT_EQ(program.standardOutput().count(prefix), 1)
            << program.standardOutput().toStdString();
    }
}

} // namespace
} // namespace calmcove
