#pragma once

// What every FFmpeg reader of this library shares: readable error texts, an owning
// pointer for an opened container and the opening of a file's best audio stream. Internal
// to calmcove_media. Any thread.

#include <memory>
#include <QString>

struct AVFormatContext;

namespace calmcove {

struct FormatCloser
{
    void operator()(AVFormatContext* context) const;
};
using FormatPointer = std::unique_ptr<AVFormatContext, FormatCloser>;

// FFmpeg's text for an error code, e.g. "No such file or directory".
QString ffmpegErrorText(int code);

// Why opening an audio stream failed.
enum class OpenFailure
{
    unreadable,   // the container cannot be opened or read; the text is FFmpeg's
    noAudioStream // the file holds no audio stream
};

struct OpenedAudio
{
    FormatPointer format;
    int streamIndex = -1;
};

// Opens `path` and finds its best audio stream; the other streams are discarded. On
// failure returns a null format and fills `failure` and `errorMessage` when given.
OpenedAudio openAudioStream(const QString& path, OpenFailure* failure, QString* errorMessage);

} // namespace calmcove
