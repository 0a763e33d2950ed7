#include "audiopackstatus.h"

#include <QLocale>

namespace calmcove {

AudioPackStatus AudioPackStatus::downloading(const QString& currentTrack, qint64 completedBytes,
                                             qint64 totalBytes)
{
    return {Kind::downloading, currentTrack, completedBytes, totalBytes};
}

AudioPackStatus AudioPackStatus::verifying(const QString& currentTrack)
{
    return {Kind::verifying, currentTrack, 0, 0};
}

AudioPackStatus AudioPackStatus::waitingForNetwork(const QString& message)
{
    return {Kind::waitingForNetwork, message, 0, 0};
}

AudioPackStatus AudioPackStatus::ready(const QString& version)
{
    return {Kind::ready, version, 0, 0};
}

AudioPackStatus AudioPackStatus::failed(const QString& message)
{
    return {Kind::failed, message, 0, 0};
}

bool AudioPackStatus::isBusy() const
{
    return kind == Kind::downloading || kind == Kind::verifying || kind == Kind::checking ||
           kind == Kind::installing;
}

AudioPackUpdateState AudioPackUpdateState::available(const QString& version, qint64 trackCount)
{
    return {Kind::available, version, trackCount};
}

AudioPackUpdateState AudioPackUpdateState::failed(const QString& message)
{
    return {Kind::failed, message, 0};
}

namespace {

bool updateFailureShows(const AudioPackStatus& status, const AudioPackUpdateState& update)
{
    return update.kind == AudioPackUpdateState::Kind::failed &&
           status.kind == AudioPackStatus::Kind::ready;
}

QString byteCount(qint64 bytes)
{
    return QLocale().formattedDataSize(bytes, 1, QLocale::DataSizeSIFormat);
}

} // namespace

QString audioPackStatusTitle(const AudioPackStatus& status, const AudioPackUpdateState& update,
                             bool full)
{
    if (updateFailureShows(status, update))
        return update.text;
    using Kind = AudioPackStatus::Kind;
    switch (status.kind) {
    case Kind::downloading:
        return full ? QStringLiteral("Downloading new tracks")
                    : QStringLiteral("Downloading full library");
    case Kind::verifying:
        return full ? QStringLiteral("Verifying new tracks") : QStringLiteral("Verifying track");
    case Kind::waitingForNetwork:
        return full ? QStringLiteral("Track update paused") : QStringLiteral("Waiting for network");
    case Kind::ready:
        return QStringLiteral("Full library ready");
    case Kind::failed:
        return full ? QStringLiteral("Track update failed")
                    : QStringLiteral("Library setup failed");
    case Kind::notInstalled:
        return QStringLiteral("Starter tracks ready");
    case Kind::checking:
        return full ? QStringLiteral("Checking tracks") : QStringLiteral("Preparing full library");
    case Kind::installing:
        return full ? QStringLiteral("Installing new tracks") : QStringLiteral("Saving tracks");
    }
    return {};
}

QString audioPackStatusDetail(const AudioPackStatus& status, const AudioPackUpdateState& update,
                              bool full, std::optional<qint64> installedTrackCount)
{
    if (updateFailureShows(status, update))
        return update.text;
    const QString scope = full ? QStringLiteral("Track update") : QStringLiteral("Full library");
    using Kind = AudioPackStatus::Kind;
    switch (status.kind) {
    case Kind::downloading:
        return scope + QStringLiteral(": ") + status.text + QStringLiteral("  |  ") +
               byteCount(status.completedBytes) + QStringLiteral(" of ") +
               byteCount(status.totalBytes);
    case Kind::verifying:
        return scope + QStringLiteral(": ") + status.text;
    case Kind::waitingForNetwork:
    case Kind::failed:
        return status.text;
    case Kind::ready:
        return installedTrackCount
                   ? QString::number(*installedTrackCount) + QStringLiteral(" tracks installed.")
                   : QStringLiteral("Installed.");
    case Kind::notInstalled:
        return QStringLiteral("Calmcove will download the full library while starter tracks play.");
    case Kind::checking:
        return full ? QStringLiteral("Looking for new tracks.")
                    : QStringLiteral("Looking for the audio pack.");
    case Kind::installing:
        return full ? QStringLiteral("Saving new tracks locally.")
                    : QStringLiteral("Saving verified tracks locally.");
    }
    return {};
}

} // namespace calmcove
