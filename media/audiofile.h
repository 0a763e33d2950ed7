#pragma once

// Audio files read with FFmpeg: AudioFile opens a file and tells its exact length and
// sample rate; AudioDecoder turns a frame range of it into stereo float at the output rate;
// decodesAsAudio() tells real audio from anything else before it is imported.

#include <memory>
#include <QString>
#include <vector>

struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct SwrContext;

namespace calmcove {

class AudioFile
{
public:
    // Any thread. Reads the header and finds the exact length: from the container for PCM
    // and FLAC, otherwise by reading every packet (no decoding, a few milliseconds for a
    // track). Returns null and a readable reason (FFmpeg's text, e.g. "No such file or
    // directory") when the file cannot be read as audio.
    static std::shared_ptr<const AudioFile> open(const QString& path, QString* errorMessage);

    const QString& path() const { return m_path; }
    // Frames at sampleRate(), exactly as many as decoding yields.
    qint64 length() const { return m_length; }
    int sampleRate() const { return m_sampleRate; }
    int channelCount() const { return m_channels; }
    double duration() const { return m_sampleRate > 0 ? double(m_length) / m_sampleRate : 0.0; }

private:
    QString m_path;
    qint64 m_length = 0;
    int m_sampleRate = 0;
    int m_channels = 0;
};

// Whether `path` is real audio: FFmpeg opens it, it holds at least one frame, and its
// first `seconds` (the whole file when shorter) decode in full. Any thread; reads the file.
bool decodesAsAudio(const QString& path, double seconds = 1.0);

// Decodes one frame range of a file. Used by one thread at a time (the decoder thread);
// may block on file I/O.
class AudioDecoder
{
public:
    AudioDecoder(std::shared_ptr<const AudioFile> file, int outputRate);
    ~AudioDecoder();
    AudioDecoder(const AudioDecoder&) = delete;
    AudioDecoder& operator=(const AudioDecoder&) = delete;

    // Positions at startFrame (file frames, sample exact) and limits decoding to frameCount
    // frames. False and a reason when the file cannot be opened any more.
    bool open(qint64 startFrame, qint64 frameCount, QString* errorMessage);
    // Fills up to maxFrames interleaved stereo frames at the output rate; 0 at the end of
    // the range (or at an unreadable spot, which ends the range early).
    int read(float* out, int maxFrames);
    // Frames the whole range yields at the output rate.
    qint64 outputLength() const { return m_outputLength; }

private:
    bool decodeMore();
    void convert(const AVFrame* frame, int skip, int count);

    std::shared_ptr<const AudioFile> m_file;
    int m_outputRate;
    AVFormatContext* m_format = nullptr;
    AVCodecContext* m_codec = nullptr;
    SwrContext* m_resampler = nullptr;
    AVPacket* m_packet = nullptr;
    AVFrame* m_frame = nullptr;
    int m_stream = -1;
    qint64 m_startFrame = 0, m_frameCount = 0;
    qint64 m_position = 0;     // file frame of the next decoded sample
    qint64 m_fed = 0;          // file frames handed to the resampler
    qint64 m_outputLength = 0; // output frames the range yields
    qint64 m_delivered = 0;    // output frames handed out by read()
    qint64 m_startTimeFrames = 0;
    bool m_inputDone = false;
    std::vector<float> m_pending; // converted frames not yet read
    std::size_t m_pendingOffset = 0;
};

} // namespace calmcove
