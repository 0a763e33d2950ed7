#pragma once

// A private PulseAudio server for tests that play through a real sound server, and a
// recorder of its null sink's monitor. Shared by the engine's and the program's tests.

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <vector>

namespace calmcove::test {

// A pulseaudio daemon of our own with one null sink, "test", in a private runtime
// directory, with the real-time priority a desktop's server has where the system grants it
// (so that what goes wrong under load is the player's); killed at the end. Points this process's
// XDG_RUNTIME_DIR at that directory (and clears PULSE_SERVER), so that libpulse here and in child
// processes finds it.
class PrivatePulseServer
{
public:
    PrivatePulseServer();
    ~PrivatePulseServer();
    PrivatePulseServer(const PrivatePulseServer&) = delete;
    PrivatePulseServer& operator=(const PrivatePulseServer&) = delete;

    // True when the pulseaudio program is installed; tests skip without it.
    static bool isAvailable();

    // Starts the daemon and waits (at most 5 s) until its socket exists.
    bool start();
    // Stops the daemon; waits (at most 3 s) until it has gone. Harmless when not running.
    void kill();

    QString runtimeDirectory() const { return m_runtime.path(); }
    // "unix:<runtime>/pulse/native", for PULSE_SERVER.
    QString serverAddress() const;
    // The daemon's process id (from its pid file), or 0 when it is not running.
    qint64 pid() const;

private:
    QTemporaryDir m_runtime;
};

// Records the "test" sink's monitor as raw stereo float at 44.1 kHz from the moment the
// constructor returns (it waits until audio flows, at most 5 s).
class MonitorRecorder
{
public:
    static constexpr int sampleRate = 44100;

    struct Recording
    {
        std::vector<float> left, right;
    };

    MonitorRecorder();
    ~MonitorRecorder();
    MonitorRecorder(const MonitorRecorder&) = delete;
    MonitorRecorder& operator=(const MonitorRecorder&) = delete;

    // Frames recorded so far (collects what the recorder has delivered).
    qint64 frames();
    // The first frame whose magnitude in either channel exceeds `threshold`, or -1 so far.
    qint64 firstFrameAbove(float threshold);
    // Stops recording and returns everything recorded.
    Recording finish();

private:
    void collect();

    QProcess m_process;
    QByteArray m_recorded;
    // firstFrameAbove() resumes where it stopped while asked with the same threshold.
    float m_scanThreshold = -1;
    qint64 m_scannedSamples = 0;
};

} // namespace calmcove::test
