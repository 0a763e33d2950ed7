#pragma once

// An output backend for tests and benchmarks: nothing runs by itself; render() pulls as
// many frames as asked, as fast as the engine and its decoder can deliver them, on the
// calling thread, and keeps what was rendered.

#include "audiooutput.h"

#include <vector>

namespace calmcove {

class CaptureOutput : public AudioOutput
{
public:
    explicit CaptureOutput(bool keepAudio = true) : m_keep(keepAudio) {}

    QString name() const override { return QStringLiteral("capture"); }
    bool start(const AudioFormat& format, Renderer* renderer, QString* errorMessage) override;
    void stop() override { m_renderer = nullptr; }
    void wake() override {}
    bool rendersByItself() const override { return false; }
    bool rendersAgain() const override { return true; }

    // Renders frames (in blocks of at most 512) without real-time pacing; the engine waits
    // for its decoder rather than playing a gap. Returns false when the engine reported
    // silence until the next wake(). Does nothing unless started.
    bool render(int frames);
    // Has the engine render again, with its settings as they are now, what it rendered in
    // the last framesBack frames at most (from the start of a block), in place of that in
    // audio(); the next render() goes on after it. Returns how many frames were replaced,
    // or -1 when the engine could not.
    qint64 renderTailAgain(qint64 framesBack);
    // Everything rendered so far (interleaved stereo), unless constructed not to keep it.
    const std::vector<float>& audio() const { return m_audio; }
    void clearAudio() { m_audio.clear(); }
    int sampleRate() const { return m_format.sampleRate; }

private:
    AudioFormat m_format;
    Renderer* m_renderer = nullptr;
    std::vector<float> m_block;
    std::vector<float> m_audio;
    bool m_keep;
};

} // namespace calmcove
