#include "ffmpegprobe.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryFile>

namespace calmcove::test {

namespace {

std::optional<Ebur128> parseSummary(const QString& output)
{
    // The summary comes last; its "I:" and "Peak:" lines are the whole-file values.
    const qsizetype summary = output.lastIndexOf(QStringLiteral("Summary:"));
    if (summary < 0)
        return std::nullopt;
    const QString tail = output.mid(summary);
    const QRegularExpression integrated(QStringLiteral("I:\\s+(-?[0-9.]+|-inf) LUFS"));
    const QRegularExpression peak(QStringLiteral("Peak:\\s+(-?[0-9.]+|-inf) dBFS"));
    const QRegularExpressionMatch i = integrated.match(tail);
    const QRegularExpressionMatch p = peak.match(tail);
    if (!i.hasMatch() || !p.hasMatch())
        return std::nullopt;
    return Ebur128{i.captured(1).toDouble(), p.captured(1).toDouble()};
}

std::optional<Ebur128> run(const QStringList& input)
{
    QProcess ffmpeg;
    ffmpeg.setProcessChannelMode(QProcess::MergedChannels);
    QStringList arguments = {QStringLiteral("-hide_banner"), QStringLiteral("-nostats")};
    arguments += input;
    arguments += {QStringLiteral("-af"), QStringLiteral("ebur128=peak=true"), QStringLiteral("-f"),
                  QStringLiteral("null"), QStringLiteral("-")};
    ffmpeg.start(QStringLiteral("ffmpeg"), arguments);
    if (!ffmpeg.waitForStarted(10000))
        return std::nullopt;
    if (!ffmpeg.waitForFinished(120000) || ffmpeg.exitCode() != 0)
        return std::nullopt;
    return parseSummary(QString::fromUtf8(ffmpeg.readAll()));
}

} // namespace

std::optional<Ebur128> measureFile(const QString& path)
{
    return run({QStringLiteral("-i"), path});
}

std::optional<Ebur128> measureSamples(const std::vector<float>& samples)
{
    QTemporaryFile raw;
    if (!raw.open())
        return std::nullopt;
    const auto bytes = static_cast<qint64>(samples.size() * sizeof(float));
    if (raw.write(reinterpret_cast<const char*>(samples.data()), bytes) != bytes || !raw.flush())
        return std::nullopt;
    return run({QStringLiteral("-f"), QStringLiteral("f32le"), QStringLiteral("-ar"),
                QStringLiteral("44100"), QStringLiteral("-ac"), QStringLiteral("2"),
                QStringLiteral("-i"), raw.fileName()});
}

double decodedDuration(const QString& path)
{
    QProcess ffprobe;
    ffprobe.start(QStringLiteral("ffprobe"),
                  {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
                   QStringLiteral("format=duration"), QStringLiteral("-of"),
                   QStringLiteral("default=nw=1:nk=1"), path});
    if (!ffprobe.waitForFinished(30000) || ffprobe.exitCode() != 0)
        return -1;
    return ffprobe.readAllStandardOutput().trimmed().toDouble();
}

} // namespace calmcove::test
