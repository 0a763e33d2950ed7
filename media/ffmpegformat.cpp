#include "ffmpegformat.h"

#include "medialog.h"

#include <QFile>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
}

#include <mutex>

namespace calmcove {

void silenceMediaLog()
{
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

void FormatCloser::operator()(AVFormatContext* context) const
{
    avformat_close_input(&context);
}

QString ffmpegErrorText(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return QString::fromUtf8(text);
}

OpenedAudio openAudioStream(const QString& path, OpenFailure* failure, QString* errorMessage)
{
    silenceMediaLog();
    const auto fail = [&](OpenFailure why, const QString& message) {
        if (failure)
            *failure = why;
        if (errorMessage)
            *errorMessage = message;
        return OpenedAudio{};
    };
    AVFormatContext* raw = nullptr;
    int result = avformat_open_input(&raw, QFile::encodeName(path).constData(), nullptr, nullptr);
    if (result < 0)
        return fail(OpenFailure::unreadable, ffmpegErrorText(result));
    FormatPointer format(raw);
    result = avformat_find_stream_info(format.get(), nullptr);
    if (result < 0)
        return fail(OpenFailure::unreadable, ffmpegErrorText(result));
    result = av_find_best_stream(format.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (result == AVERROR_STREAM_NOT_FOUND)
        return fail(OpenFailure::noAudioStream, QStringLiteral("The file contains no audio"));
    if (result < 0)
        return fail(OpenFailure::unreadable, ffmpegErrorText(result));
    for (unsigned i = 0; i < format->nb_streams; ++i)
        if (int(i) != result)
            format->streams[i]->discard = AVDISCARD_ALL;
    return OpenedAudio{std::move(format), result};
}

} // namespace calmcove
