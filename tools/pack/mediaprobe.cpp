#include "mediaprobe.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <QFile>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
}

namespace calmcove {

namespace {

QString ffmpegMessage(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return QString::fromUtf8(text);
}

struct FormatContextCloser
{
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};

// The end of the last packet of `stream`, in seconds; for containers that state no length.
double durationFromPackets(AVFormatContext* context, const AVStream* stream)
{
    AVPacket* packet = av_packet_alloc();
    if (!packet)
        return 0;
    int64_t end = 0;
    while (av_read_frame(context, packet) >= 0) {
        if (packet->stream_index == stream->index && packet->pts != AV_NOPTS_VALUE)
            end = std::max(end, packet->pts + std::max<int64_t>(packet->duration, 0));
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    const int64_t start = stream->start_time == AV_NOPTS_VALUE ? 0 : stream->start_time;
    return static_cast<double>(end - start) * av_q2d(stream->time_base);
}

} // namespace

PackResult<double> audioDuration(const QString& path)
{
    const QByteArray encodedPath = QFile::encodeName(path);
    AVFormatContext* opened = nullptr;
    if (const int code = avformat_open_input(&opened, encodedPath.constData(), nullptr, nullptr);
        code < 0)
        return packFailure(
            QStringLiteral("%1 cannot be read as audio: %2.").arg(path, ffmpegMessage(code)));
    const std::unique_ptr<AVFormatContext, FormatContextCloser> context(opened);
    if (const int code = avformat_find_stream_info(context.get(), nullptr); code < 0)
        return packFailure(
            QStringLiteral("%1 cannot be read as audio: %2.").arg(path, ffmpegMessage(code)));
    const int streamIndex =
        av_find_best_stream(context.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (streamIndex < 0)
        return packFailure(QStringLiteral("%1 holds no audio stream.").arg(path));
    const AVStream* stream = context->streams[streamIndex];

    double seconds = 0;
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
        seconds = static_cast<double>(stream->duration) * av_q2d(stream->time_base);
    else if (context->duration != AV_NOPTS_VALUE && context->duration > 0)
        seconds = static_cast<double>(context->duration) / AV_TIME_BASE;
    else
        seconds = durationFromPackets(context.get(), stream);

    seconds = std::round(seconds * 1000) / 1000;
    if (!(seconds > 0))
        return packFailure(QStringLiteral("%1 has no playing time.").arg(path));
    return seconds;
}

void silenceMediaLog()
{
    av_log_set_level(AV_LOG_QUIET);
}

} // namespace calmcove
