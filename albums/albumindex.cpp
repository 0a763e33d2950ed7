#include "albumindex.h"

#include <charconv>
#include <cmath>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

namespace calmcove {

namespace {

std::optional<QString> requiredString(const QJsonObject& object, QLatin1String key)
{
    const QJsonValue value = object.value(key);
    if (!value.isString())
        return std::nullopt;
    return value.toString();
}

std::optional<ImportedTrackRecord> decodeTrack(const QJsonValue& value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    const auto id = requiredString(object, QLatin1String("id"));
    const auto title = requiredString(object, QLatin1String("title"));
    const auto artist = requiredString(object, QLatin1String("artist"));
    const auto fileName = requiredString(object, QLatin1String("fileName"));
    const QJsonValue duration = object.value(QLatin1String("duration"));
    if (!id || !title || !artist || !fileName || !duration.isDouble())
        return std::nullopt;
    return ImportedTrackRecord{*id, *title, *artist, duration.toDouble(), *fileName};
}

std::optional<ImportedAlbumRecord> decodeAlbum(const QJsonValue& value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    const auto id = requiredString(object, QLatin1String("id"));
    const auto name = requiredString(object, QLatin1String("name"));
    const QJsonValue tracks = object.value(QLatin1String("tracks"));
    if (!id || !name || !tracks.isArray())
        return std::nullopt;

    ImportedAlbumRecord album{*id, *name, std::nullopt, {}};
    const QJsonValue artwork = object.value(QLatin1String("artworkFileName"));
    if (artwork.isString())
        album.artworkFileName = artwork.toString();
    else if (!artwork.isNull() && !artwork.isUndefined())
        return std::nullopt;

    for (const QJsonValue& trackValue : tracks.toArray()) {
        auto track = decodeTrack(trackValue);
        if (!track)
            return std::nullopt;
        album.tracks.append(std::move(*track));
    }
    return album;
}

// JSON string literal with the escapes JSON requires; everything else stays UTF-8.
void appendString(QByteArray& out, const QString& text)
{
    out += '"';
    for (const char ch : text.toUtf8()) {
        const auto byte = static_cast<unsigned char>(ch);
        switch (ch) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        default:
            if (byte < 0x20) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04x", byte);
                out += escape;
            } else {
                out += ch;
            }
        }
    }
    out += '"';
}

// The shortest text that reads back as the same double.
void appendNumber(QByteArray& out, double value)
{
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, result.ptr - buffer);
}

// `"key":` after a comma unless it is the object's first member.
void appendKey(QByteArray& out, const char* key, bool first = false)
{
    if (!first)
        out += ',';
    out += '"';
    out += key;
    out += "\":";
}

void appendStringMember(QByteArray& out, const char* key, const QString& value, bool first = false)
{
    appendKey(out, key, first);
    appendString(out, value);
}

} // namespace

std::optional<QList<ImportedAlbumRecord>> decodeAlbumIndex(const QByteArray& json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;

    QList<ImportedAlbumRecord> albums;
    for (const QJsonValue& value : document.array()) {
        auto album = decodeAlbum(value);
        if (!album)
            return std::nullopt;
        albums.append(std::move(*album));
    }
    return albums;
}

std::optional<QByteArray> encodeAlbumIndex(const QList<ImportedAlbumRecord>& albums)
{
    QByteArray out;
    out += '[';
    for (qsizetype a = 0; a < albums.size(); ++a) {
        const ImportedAlbumRecord& album = albums[a];
        if (a > 0)
            out += ',';
        out += '{';
        appendStringMember(out, "id", album.id, true);
        appendStringMember(out, "name", album.name);
        if (album.artworkFileName)
            appendStringMember(out, "artworkFileName", *album.artworkFileName);
        appendKey(out, "tracks");
        out += '[';
        for (qsizetype t = 0; t < album.tracks.size(); ++t) {
            const ImportedTrackRecord& track = album.tracks[t];
            if (!std::isfinite(track.duration))
                return std::nullopt;
            if (t > 0)
                out += ',';
            out += '{';
            appendStringMember(out, "id", track.id, true);
            appendStringMember(out, "title", track.title);
            appendStringMember(out, "artist", track.artist);
            appendKey(out, "duration");
            appendNumber(out, track.duration);
            appendStringMember(out, "fileName", track.fileName);
            out += '}';
        }
        out += "]}";
    }
    out += ']';
    return out;
}

} // namespace calmcove
