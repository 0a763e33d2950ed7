#include "mprisstate.h"

#include "platform/apppaths.h"

#include <cmath>
#include <QDBusObjectPath>
#include <QFile>
#include <QUrl>
#include <tuple>

namespace calmcove {

namespace {

std::optional<QString> readableFileUrl(const QString& path)
{
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded);
}

} // namespace

QString mprisTrackPath(const QString& trackID)
{
    QString path = QStringLiteral("/org/calmcove/Track/t");
    static const char hex[] = "0123456789abcdef";
    for (const char byte : trackID.toUtf8()) {
        const auto c = static_cast<unsigned char>(byte);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
            path += QLatin1Char(char(c));
        } else {
            path += QLatin1Char('_');
            path += QLatin1Char(hex[c >> 4]);
            path += QLatin1Char(hex[c & 0xf]);
        }
    }
    return path;
}

std::optional<QString> mprisArtUrl(const AlbumArtwork& artwork)
{
    if (const auto* asset = std::get_if<AssetArtwork>(&artwork))
        return readableFileUrl(AppPaths::resourcePath(asset->name + QStringLiteral(".png")));
    if (const auto* file = std::get_if<FileArtwork>(&artwork))
        return readableFileUrl(file->path);
    return readableFileUrl(AppPaths::resourcePath(QStringLiteral("icons/calmcove.png")));
}

QVariantMap MprisPlayerState::metadata() const
{
    QVariantMap map{
        {QStringLiteral("mpris:trackid"), QVariant::fromValue(QDBusObjectPath(trackPath))},
        {QStringLiteral("mpris:length"), QVariant::fromValue(qlonglong(lengthMicroseconds))},
        {QStringLiteral("xesam:title"), title},
        {QStringLiteral("xesam:artist"), QStringList{artist}},
        {QStringLiteral("xesam:album"), album},
    };
    if (artUrl)
        map.insert(QStringLiteral("mpris:artUrl"), *artUrl);
    return map;
}

MprisPlayerState mprisPlayerState(const NowPlayingInfo& info, double volume)
{
    MprisPlayerState state;
    switch (info.state) {
    case NowPlayingInfo::State::playing:
        state.playbackStatus = QStringLiteral("Playing");
        break;
    case NowPlayingInfo::State::paused:
        state.playbackStatus = QStringLiteral("Paused");
        break;
    case NowPlayingInfo::State::stopped:
        state.playbackStatus = QStringLiteral("Stopped");
        break;
    }
    state.rate = info.defaultRate > 0 ? info.defaultRate : 1.0;
    state.volume = volume;
    state.trackPath = mprisTrackPath(info.trackID);
    state.title = info.title;
    state.artist = info.artist;
    state.album = info.albumTitle;
    state.lengthMicroseconds =
        std::isfinite(info.duration) && info.duration > 0 ? qint64(info.duration * 1e6) : 0;
    state.artUrl = mprisArtUrl(info.artwork);
    return state;
}

QVariantMap changedPlayerProperties(const MprisPlayerState& before, const MprisPlayerState& after)
{
    QVariantMap changed;
    if (before.playbackStatus != after.playbackStatus)
        changed.insert(QStringLiteral("PlaybackStatus"), after.playbackStatus);
    if (before.rate != after.rate) {
        changed.insert(QStringLiteral("Rate"), after.rate);
        changed.insert(QStringLiteral("MinimumRate"), after.rate);
        changed.insert(QStringLiteral("MaximumRate"), after.rate);
    }
    if (before.volume != after.volume)
        changed.insert(QStringLiteral("Volume"), after.volume);
    const auto metadataFields = [](const MprisPlayerState& state) {
        return std::tie(state.trackPath, state.title, state.artist, state.album,
                        state.lengthMicroseconds, state.artUrl);
    };
    if (metadataFields(before) != metadataFields(after))
        changed.insert(QStringLiteral("Metadata"), after.metadata());
    return changed;
}

} // namespace calmcove
