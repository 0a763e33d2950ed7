#include "audioduration.h"

#include "ffmpegformat.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
}

#include <algorithm>
#include <cmath>

namespace calmcove {

namespace {

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

Expected<double, AudioDurationError> statedAudioDuration(const QString& path)
{
    using Kind = AudioDurationError::Kind;
    OpenFailure failure = OpenFailure::unreadable;
    QString message;
    auto [context, streamIndex] = openAudioStream(path, &failure, &message);
    if (!context) {
        if (failure == OpenFailure::noAudioStream)
            return AudioDurationError{Kind::noAudioStream, {}};
        return AudioDurationError{Kind::unreadable, message};
    }
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
        return AudioDurationError{Kind::noPlayingTime, {}};
    return seconds;
}

} // namespace calmcove
