#include "audiofile.h"

#include "ffmpegformat.h"

#include <QFile>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/intreadwrite.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <algorithm>

namespace calmcove {

namespace {

bool containerLengthIsExact(const AVFormatContext* format, const AVStream* stream)
{
    const AVCodecID codec = stream->codecpar->codec_id;
    const bool pcm = codec >= AV_CODEC_ID_FIRST_AUDIO && codec < AV_CODEC_ID_ADPCM_IMA_QT;
    return (pcm || codec == AV_CODEC_ID_FLAC) && stream->duration != AV_NOPTS_VALUE &&
           stream->duration > 0 &&
           format->duration_estimation_method != AVFMT_DURATION_FROM_BITRATE;
}

// Sums the packets' durations less the samples the decoder is told to drop at either end,
// which is what decoding yields, without decoding.
qint64 countFrames(AVFormatContext* format, int streamIndex, int sampleRate)
{
    const AVRational timeBase = format->streams[streamIndex]->time_base;
    AVPacket* packet = av_packet_alloc();
    qint64 frames = 0;
    while (av_read_frame(format, packet) >= 0) {
        if (packet->stream_index == streamIndex) {
            qint64 length = av_rescale_q(packet->duration, timeBase, AVRational{1, sampleRate});
            size_t size = 0;
            if (const uint8_t* skip =
                    av_packet_get_side_data(packet, AV_PKT_DATA_SKIP_SAMPLES, &size);
                skip && size >= 8)
                length -= qint64(AV_RL32(skip)) + qint64(AV_RL32(skip + 4));
            frames += std::max<qint64>(0, length);
        }
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    return frames;
}

} // namespace

bool decodesAsAudio(const QString& path, double seconds)
{
    QString error;
    const auto file = AudioFile::open(path, &error);
    if (!file || file->length() <= 0)
        return false;
    const qint64 wanted = std::min<qint64>(file->length(), qint64(seconds * file->sampleRate()));
    AudioDecoder decoder(file, file->sampleRate());
    if (!decoder.open(0, std::max<qint64>(wanted, 1), &error))
        return false;
    constexpr int blockFrames = 4096;
    std::vector<float> block(std::size_t(blockFrames) * 2);
    qint64 decoded = 0;
    while (decoded < wanted) {
        const int count = decoder.read(block.data(), blockFrames);
        if (count <= 0)
            break;
        decoded += count;
    }
    // An unreadable spot ends decoding early: a file that stops short is no audio.
    return decoded >= std::max<qint64>(wanted, 1);
}

std::shared_ptr<const AudioFile> AudioFile::open(const QString& path, QString* errorMessage)
{
    auto [format, streamIndex] = openAudioStream(path, nullptr, errorMessage);
    if (!format)
        return nullptr;
    const AVStream* stream = format->streams[streamIndex];
    const int sampleRate = stream->codecpar->sample_rate;
    if (sampleRate <= 0 || stream->codecpar->ch_layout.nb_channels <= 0) {
        if (errorMessage)
            *errorMessage = QStringLiteral("The audio format is not supported");
        return nullptr;
    }

    auto file = std::make_shared<AudioFile>();
    file->m_path = path;
    file->m_sampleRate = sampleRate;
    file->m_channels = stream->codecpar->ch_layout.nb_channels;
    if (containerLengthIsExact(format.get(), stream))
        file->m_length =
            av_rescale_q(stream->duration, stream->time_base, AVRational{1, sampleRate});
    else
        file->m_length = countFrames(format.get(), streamIndex, sampleRate);
    return file;
}

AudioDecoder::AudioDecoder(std::shared_ptr<const AudioFile> file, int outputRate)
    : m_file(std::move(file)), m_outputRate(outputRate)
{}

AudioDecoder::~AudioDecoder()
{
    av_frame_free(&m_frame);
    av_packet_free(&m_packet);
    swr_free(&m_resampler);
    avcodec_free_context(&m_codec);
    avformat_close_input(&m_format);
}

bool AudioDecoder::open(qint64 startFrame, qint64 frameCount, QString* errorMessage)
{
    auto opened = openAudioStream(m_file->path(), nullptr, errorMessage);
    if (!opened.format)
        return false;
    FormatPointer format = std::move(opened.format);
    m_stream = opened.streamIndex;
    const AVStream* stream = format->streams[m_stream];
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    m_codec = avcodec_alloc_context3(codec);
    int result = codec ? avcodec_parameters_to_context(m_codec, stream->codecpar)
                       : AVERROR_DECODER_NOT_FOUND;
    if (result >= 0)
        result = avcodec_open2(m_codec, codec, nullptr);
    if (result < 0) {
        if (errorMessage)
            *errorMessage = ffmpegErrorText(result);
        return false;
    }

    const int inputRate = m_codec->sample_rate;
    AVChannelLayout inputLayout{};
    if (m_codec->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
        av_channel_layout_default(&inputLayout, m_codec->ch_layout.nb_channels);
    else
        av_channel_layout_copy(&inputLayout, &m_codec->ch_layout);
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    result = swr_alloc_set_opts2(&m_resampler, &stereo, AV_SAMPLE_FMT_FLT, m_outputRate,
                                 &inputLayout, m_codec->sample_fmt, inputRate, 0, nullptr);
    if (result >= 0 && inputLayout.nb_channels == 1) {
        // A mono track plays at full level on both sides, not 3 dB down as a centre channel.
        const double matrix[2] = {1.0, 1.0};
        result = swr_set_matrix(m_resampler, matrix, 1);
    }
    av_channel_layout_uninit(&inputLayout);
    if (result >= 0)
        result = swr_init(m_resampler);
    if (result < 0) {
        if (errorMessage)
            *errorMessage = ffmpegErrorText(result);
        return false;
    }

    m_startFrame = std::clamp<qint64>(startFrame, 0, m_file->length());
    m_frameCount = std::clamp<qint64>(frameCount, 0, m_file->length() - m_startFrame);
    m_outputLength = av_rescale_rnd(m_frameCount, m_outputRate, inputRate, AV_ROUND_NEAR_INF);
    m_startTimeFrames =
        stream->start_time == AV_NOPTS_VALUE
            ? 0
            : av_rescale_q(stream->start_time, stream->time_base, AVRational{1, inputRate});
    if (m_startFrame > 0) {
        // Land a little early: lossy decoders need a few frames before the target to settle.
        const qint64 preroll = inputRate / 10;
        const qint64 target = m_startTimeFrames + std::max<qint64>(0, m_startFrame - preroll);
        const int64_t timestamp = av_rescale_q(target, AVRational{1, inputRate}, stream->time_base);
        if (av_seek_frame(format.get(), m_stream, timestamp, AVSEEK_FLAG_BACKWARD) < 0)
            av_seek_frame(format.get(), m_stream, 0, AVSEEK_FLAG_BACKWARD);
        // Until a frame says where it is, assume the seek went to the very beginning.
        m_position = -1;
    }
    m_format = format.release();
    m_packet = av_packet_alloc();
    m_frame = av_frame_alloc();
    return true;
}

void AudioDecoder::convert(const AVFrame* frame, int skip, int count)
{
    // A null frame drains what the resampler still holds.
    const uint8_t* input[AV_NUM_DATA_POINTERS] = {};
    if (frame) {
        const int bytes = av_get_bytes_per_sample(AVSampleFormat(frame->format));
        const int channels = frame->ch_layout.nb_channels;
        if (av_sample_fmt_is_planar(AVSampleFormat(frame->format))) {
            for (int i = 0; i < channels && i < AV_NUM_DATA_POINTERS; ++i)
                input[i] = frame->extended_data[i] + std::size_t(skip) * bytes;
        } else {
            input[0] = frame->extended_data[0] + std::size_t(skip) * bytes * channels;
        }
    }
    const int capacity = swr_get_out_samples(m_resampler, frame ? count : 0);
    if (capacity <= 0)
        return;
    if (m_pendingOffset > 0 && m_pendingOffset >= m_pending.size() / 2) {
        m_pending.erase(m_pending.begin(), m_pending.begin() + std::ptrdiff_t(m_pendingOffset));
        m_pendingOffset = 0;
    }
    const std::size_t used = m_pending.size();
    m_pending.resize(used + 2 * std::size_t(capacity));
    uint8_t* output[1] = {reinterpret_cast<uint8_t*>(m_pending.data() + used)};
    const int produced =
        swr_convert(m_resampler, output, capacity, frame ? input : nullptr, frame ? count : 0);
    m_pending.resize(used + 2 * std::size_t(std::max(produced, 0)));
}

bool AudioDecoder::decodeMore()
{
    if (m_inputDone)
        return false;
    int result = avcodec_receive_frame(m_codec, m_frame);
    while (result == AVERROR(EAGAIN)) {
        result = av_read_frame(m_format, m_packet);
        if (result < 0) {
            avcodec_send_packet(m_codec, nullptr);
        } else {
            if (m_packet->stream_index == m_stream)
                avcodec_send_packet(m_codec, m_packet);
            av_packet_unref(m_packet);
        }
        result = avcodec_receive_frame(m_codec, m_frame);
    }
    if (result < 0) {
        // The end of the file, or a spot that cannot be decoded: drain the resampler.
        m_inputDone = true;
        convert(nullptr, 0, 0);
        return true;
    }

    if (m_frame->best_effort_timestamp != AV_NOPTS_VALUE && m_position < 0)
        m_position =
            av_rescale_q(m_frame->best_effort_timestamp, m_format->streams[m_stream]->time_base,
                         AVRational{1, m_codec->sample_rate}) -
            m_startTimeFrames;
    if (m_position < 0)
        m_position = 0;
    const qint64 frameStart = m_position;
    m_position += m_frame->nb_samples;
    const qint64 from = std::max(frameStart, m_startFrame + m_fed);
    const qint64 to = std::min<qint64>(m_position, m_startFrame + m_frameCount);
    if (to > from) {
        convert(m_frame, int(from - frameStart), int(to - from));
        m_fed += to - from;
    }
    av_frame_unref(m_frame);
    if (m_fed >= m_frameCount) {
        m_inputDone = true;
        convert(nullptr, 0, 0);
    }
    return true;
}

int AudioDecoder::read(float* out, int maxFrames)
{
    if (!m_format)
        return 0;
    const qint64 wanted = std::min<qint64>(maxFrames, m_outputLength - m_delivered);
    while (qint64(m_pending.size() - m_pendingOffset) / 2 < wanted && decodeMore()) {
    }
    int frames = int(std::min<qint64>(wanted, qint64(m_pending.size() - m_pendingOffset) / 2));
    std::copy_n(m_pending.data() + m_pendingOffset, 2 * frames, out);
    m_pendingOffset += 2 * std::size_t(frames);
    if (m_pendingOffset == m_pending.size()) {
        m_pending.clear();
        m_pendingOffset = 0;
    }
    // The resampler may come out a frame or two short of the rounded length: pad those.
    if (frames < wanted && m_inputDone && m_fed == m_frameCount &&
        m_outputLength - m_delivered - frames <= 64) {
        const int padding = int(wanted - frames);
        std::fill_n(out + 2 * frames, 2 * padding, 0.0f);
        frames += padding;
    }
    m_delivered += frames;
    return frames;
}

} // namespace calmcove
