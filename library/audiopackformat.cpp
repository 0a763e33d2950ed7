#include "audiopackformat.h"

#include "model/pathcomponent.h"
#include "model/tracklibrary.h"

#include <QCollator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QSet>

namespace calmcove {

namespace {

// Reads one JSON object with the rules of the documents: mandatory keys must be present
// and not null, optional keys may be either, types must match exactly. The first problem
// is kept with the path of the value, and later reads become no-ops.
class ObjectReader
{
public:
    ObjectReader(const QJsonObject& object, QString path, std::optional<QString>& error)
        : m_object(object), m_path(std::move(path)), m_error(error)
    {}

    QString string(const char* key) { return optionalString(key, true).value_or(QString()); }
    std::optional<QString> optionalString(const char* key, bool mandatory = false)
    {
        const QJsonValue value = get(key, mandatory);
        if (isMissing(value))
            return std::nullopt;
        if (!value.isString()) {
            fail(key, "is not a string");
            return std::nullopt;
        }
        return value.toString();
    }

    qint64 integer(const char* key)
    {
        const QJsonValue value = get(key, true);
        if (isMissing(value))
            return 0;
        if (!value.isDouble()) {
            fail(key, "is not a number");
            return 0;
        }
        const qint64 integer = value.toInteger(0);
        if (integer == 0 && value.toDouble() != 0) {
            fail(key, "is not a whole number within the signed 64-bit range");
            return 0;
        }
        return integer;
    }

    std::optional<double> optionalNumber(const char* key)
    {
        const QJsonValue value = get(key, false);
        if (isMissing(value))
            return std::nullopt;
        if (!value.isDouble()) {
            fail(key, "is not a number");
            return std::nullopt;
        }
        return value.toDouble();
    }

    QUrl url(const char* key)
    {
        const QString text = string(key);
        if (m_error)
            return {};
        QUrl url(text, QUrl::StrictMode);
        if (text.isEmpty() || !url.isValid()) {
            fail(key, "is not a valid URL");
            return {};
        }
        return url;
    }

    std::optional<QList<QString>> optionalStrings(const char* key)
    {
        const QJsonValue value = get(key, false);
        if (isMissing(value))
            return std::nullopt;
        if (!value.isArray()) {
            fail(key, "is not an array");
            return std::nullopt;
        }
        QList<QString> strings;
        const QJsonArray array = value.toArray();
        for (qsizetype i = 0; i < array.size(); ++i) {
            if (!array.at(i).isString()) {
                fail(key, "holds a value that is not a string");
                return std::nullopt;
            }
            strings.append(array.at(i).toString());
        }
        return strings;
    }

    QJsonArray array(const char* key)
    {
        const QJsonValue value = get(key, true);
        if (isMissing(value))
            return {};
        if (!value.isArray()) {
            fail(key, "is not an array");
            return {};
        }
        return value.toArray();
    }

    QString childPath(const char* key, qsizetype index) const
    {
        return m_path + QLatin1String(key) + QLatin1Char('[') + QString::number(index) +
               QStringLiteral("].");
    }

private:
    QJsonValue get(const char* key, bool mandatory)
    {
        if (m_error)
            return QJsonValue(QJsonValue::Undefined);
        const QJsonValue value = m_object.value(QLatin1String(key));
        if (mandatory && value.isUndefined())
            fail(key, "is missing");
        else if (mandatory && value.isNull())
            fail(key, "is null");
        return value;
    }

    bool isMissing(const QJsonValue& value) const
    {
        return m_error || value.isUndefined() || value.isNull();
    }

    void fail(const char* key, const char* problem)
    {
        if (!m_error)
            m_error = QStringLiteral("The track library document is not valid: %1%2 %3.")
                          .arg(m_path, QLatin1String(key), QLatin1String(problem));
    }

    QJsonObject m_object;
    QString m_path;
    std::optional<QString>& m_error;
};

Result<QJsonObject> parseObject(const QByteArray& json)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return LibraryError(DecodingError{
            QStringLiteral("The track library document is not valid JSON: %1 at offset %2.")
                .arg(parseError.errorString())
                .arg(parseError.offset)});
    if (!document.isObject())
        return LibraryError(DecodingError{
            QStringLiteral("The track library document is not valid: it is not a JSON object.")});
    return document.object();
}

QString notAnObject(const QString& path)
{
    return QStringLiteral("The track library document is not valid: %1 is not an object.")
        .arg(path.chopped(1));
}

AudioPackError invalid(const char* message)
{
    return AudioPackError::invalidManifest(QString::fromLatin1(message));
}

bool isHttps(const QUrl& url)
{
    return !url.scheme().isEmpty() && url.scheme().toLower() == QLatin1String("https");
}

bool isTrimmedEmpty(const QString& text)
{
    return text.trimmed().isEmpty();
}

bool isHexDigest(const QString& text)
{
    if (text.size() != 64)
        return false;
    for (QChar c : text) {
        const char16_t u = c.unicode();
        const bool hex = (u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F');
        if (!hex)
            return false;
    }
    return true;
}

} // namespace

Result<AudioPackIndex> decodeAudioPackIndex(const QByteArray& json)
{
    const Result<QJsonObject> root = parseObject(json);
    if (!root)
        return root.error();
    std::optional<QString> error;
    ObjectReader reader(*root, QString(), error);
    AudioPackIndex index;
    index.generatedAt = reader.optionalString("generatedAt");
    index.latest = reader.optionalString("latest");
    const QJsonArray packs = reader.array("packs");
    for (qsizetype i = 0; i < packs.size() && !error; ++i) {
        const QString path = reader.childPath("packs", i);
        if (!packs.at(i).isObject())
            return LibraryError(DecodingError{notAnObject(path)});
        ObjectReader entryReader(packs.at(i).toObject(), path, error);
        AudioPackIndexEntry entry;
        entry.version = entryReader.string("version");
        entry.minimumAppVersion = entryReader.string("minimumAppVersion");
        entry.manifestURL = entryReader.url("manifestURL");
        entry.trackCount = entryReader.integer("trackCount");
        entry.totalBytes = entryReader.integer("totalBytes");
        entry.publishedAt = entryReader.optionalString("publishedAt");
        entry.tag = entryReader.optionalString("tag");
        index.packs.append(std::move(entry));
    }
    if (error)
        return LibraryError(DecodingError{*error});
    return index;
}

Result<AudioPackManifest> decodeAudioPackManifest(const QByteArray& json)
{
    const Result<QJsonObject> root = parseObject(json);
    if (!root)
        return root.error();
    std::optional<QString> error;
    ObjectReader reader(*root, QString(), error);
    AudioPackManifest manifest;
    manifest.version = reader.string("version");
    manifest.minimumAppVersion = reader.string("minimumAppVersion");
    manifest.generatedAt = reader.string("generatedAt");
    manifest.trackCount = reader.integer("trackCount");
    manifest.totalBytes = reader.integer("totalBytes");
    const QJsonArray tracks = reader.array("tracks");
    for (qsizetype i = 0; i < tracks.size() && !error; ++i) {
        const QString path = reader.childPath("tracks", i);
        if (!tracks.at(i).isObject())
            return LibraryError(DecodingError{notAnObject(path)});
        ObjectReader trackReader(tracks.at(i).toObject(), path, error);
        AudioPackTrack track;
        track.id = trackReader.string("id");
        track.fileName = trackReader.string("fileName");
        track.title = trackReader.optionalString("title");
        track.artist = trackReader.optionalString("artist");
        track.duration = trackReader.optionalNumber("duration");
        track.moods = trackReader.optionalStrings("moods");
        track.kind = trackReader.optionalString("kind");
        track.byteCount = trackReader.integer("byteCount");
        track.sha256 = trackReader.string("sha256");
        track.downloadURL = trackReader.url("downloadURL");
        manifest.tracks.append(std::move(track));
    }
    if (error)
        return LibraryError(DecodingError{*error});
    return manifest;
}

QByteArray encodeAudioPackManifest(const AudioPackManifest& manifest)
{
    QJsonArray tracks;
    for (const AudioPackTrack& track : manifest.tracks) {
        QJsonObject object{
            {QStringLiteral("id"), track.id},
            {QStringLiteral("fileName"), track.fileName},
            {QStringLiteral("byteCount"), track.byteCount},
            {QStringLiteral("sha256"), track.sha256},
            {QStringLiteral("downloadURL"), track.downloadURL.toString(QUrl::FullyEncoded)},
        };
        if (track.title)
            object.insert(QStringLiteral("title"), *track.title);
        if (track.artist)
            object.insert(QStringLiteral("artist"), *track.artist);
        if (track.duration)
            object.insert(QStringLiteral("duration"), *track.duration);
        if (track.moods)
            object.insert(QStringLiteral("moods"), QJsonArray::fromStringList(*track.moods));
        if (track.kind)
            object.insert(QStringLiteral("kind"), *track.kind);
        tracks.append(object);
    }
    // QJsonObject keeps its keys sorted and Qt never escapes "/".
    const QJsonObject root{
        {QStringLiteral("version"), manifest.version},
        {QStringLiteral("minimumAppVersion"), manifest.minimumAppVersion},
        {QStringLiteral("generatedAt"), manifest.generatedAt},
        {QStringLiteral("trackCount"), manifest.trackCount},
        {QStringLiteral("totalBytes"), manifest.totalBytes},
        {QStringLiteral("tracks"), tracks},
    };
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

int standardCompare(const QString& a, const QString& b)
{
    thread_local const QCollator collator = [] {
        QCollator c;
        c.setCaseSensitivity(Qt::CaseInsensitive);
        return c;
    }();
    const auto isDigit = [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); };
    const auto nextRun = [&](const QString& s, qsizetype& at) {
        const qsizetype start = at;
        const bool digits = isDigit(s[at]);
        while (at < s.size() && isDigit(s[at]) == digits)
            ++at;
        return QStringView(s).mid(start, at - start);
    };
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        const QStringView left = nextRun(a, i);
        const QStringView right = nextRun(b, j);
        if (isDigit(left[0]) && isDigit(right[0])) {
            // Compare by value without parsing, so any length works: drop leading zeros,
            // then the longer run is the greater number.
            const auto significant = [](QStringView run) {
                qsizetype k = 0;
                while (k + 1 < run.size() && run[k] == QLatin1Char('0'))
                    ++k;
                return run.mid(k);
            };
            const QStringView l = significant(left);
            const QStringView r = significant(right);
            if (l.size() != r.size())
                return l.size() < r.size() ? -1 : 1;
            if (const int order = l.compare(r))
                return order < 0 ? -1 : 1;
        } else if (const int order = collator.compare(left, right)) {
            return order < 0 ? -1 : 1;
        }
    }
    if (i < a.size())
        return 1;
    if (j < b.size())
        return -1;
    return 0;
}

QList<qint64> versionParts(const QString& version)
{
    QList<qint64> parts;
    QList<char32_t> piece;
    const auto flush = [&] {
        if (piece.isEmpty())
            return;
        qint64 number = 0;
        for (char32_t c : piece) {
            const bool digit = c >= U'0' && c <= U'9';
            if (!digit || __builtin_mul_overflow(number, 10, &number) ||
                __builtin_add_overflow(number, qint64(c - U'0'), &number)) {
                number = 0;
                break;
            }
        }
        parts.append(number);
        piece.clear();
    };
    for (char32_t c : version.toUcs4()) {
        if (QChar::isNumber(c))
            piece.append(c);
        else
            flush();
    }
    flush();
    return parts;
}

bool versionIsGreater(const QString& a, const QString& b)
{
    const QList<qint64> left = versionParts(a);
    const QList<qint64> right = versionParts(b);
    const qsizetype count = std::max(left.size(), right.size());
    for (qsizetype i = 0; i < count; ++i) {
        const qint64 l = i < left.size() ? left[i] : 0;
        const qint64 r = i < right.size() ? right[i] : 0;
        if (l != r)
            return l > r;
    }
    return false;
}

std::optional<AudioPackError> validateIndex(const AudioPackIndex& index)
{
    if (index.packs.isEmpty())
        return invalid("The audio pack index does not include packs.");
    QSet<QString> versions;
    for (const AudioPackIndexEntry& entry : index.packs) {
        if (!isSafePathComponent(entry.version))
            return invalid("The audio pack index contains an invalid version.");
        if (versions.contains(entry.version))
            return invalid("The audio pack index contains duplicate versions.");
        versions.insert(entry.version);
        if (isTrimmedEmpty(entry.minimumAppVersion))
            return invalid("The audio pack index is missing a minimum app version.");
        if (entry.trackCount < 1 || entry.totalBytes < 1)
            return invalid("The audio pack index contains an empty pack.");
        if (!isHttps(entry.manifestURL))
            return invalid("The audio pack index contains an unsupported manifest URL.");
    }
    return std::nullopt;
}

std::optional<AudioPackError> validateManifest(const AudioPackManifest& manifest,
                                               const QString& compatibilityVersion)
{
    if (!isSafePathComponent(manifest.version))
        return invalid("The audio pack version is invalid.");
    if (manifest.tracks.isEmpty())
        return invalid("The audio pack does not include tracks.");
    if (isTrimmedEmpty(manifest.minimumAppVersion))
        return invalid("The audio pack is missing its minimum app version.");
    if (manifest.trackCount != manifest.tracks.size())
        return invalid("The audio pack track count is incorrect.");
    qint64 sum = 0;
    for (const AudioPackTrack& track : manifest.tracks) {
        // A sum that leaves the 64-bit range cannot equal any totalBytes.
        if (__builtin_add_overflow(sum, track.byteCount, &sum))
            return invalid("The audio pack size is incorrect.");
    }
    if (sum != manifest.totalBytes)
        return invalid("The audio pack size is incorrect.");
    if (versionIsGreater(manifest.minimumAppVersion, compatibilityVersion))
        return AudioPackError::unsupportedAppVersion(manifest.minimumAppVersion);

    QSet<QString> ids;
    QSet<QString> fileNames;
    for (const AudioPackTrack& track : manifest.tracks) {
        if (!isSafePathComponent(track.id) || !isSafePathComponent(track.fileName) ||
            track.fileName != track.id + QStringLiteral(".m4a"))
            return invalid("The audio pack contains an invalid track name.");
        if (ids.contains(track.id) || fileNames.contains(track.fileName))
            return invalid("The audio pack contains duplicate tracks.");
        ids.insert(track.id);
        fileNames.insert(track.fileName);
        if (track.byteCount < 1)
            return invalid("The audio pack contains an empty track.");
        if (!isHexDigest(track.sha256))
            return invalid("The audio pack contains an invalid checksum.");
        if (track.title && isTrimmedEmpty(*track.title))
            return invalid("The audio pack contains an empty track title.");
        if (track.artist && isTrimmedEmpty(*track.artist))
            return invalid("The audio pack contains an empty track artist.");
        if (track.duration && !(*track.duration > 0))
            return invalid("The audio pack contains an invalid track duration.");
        if (track.moods) {
            const bool allKnown = std::all_of(track.moods->begin(), track.moods->end(),
                                              [](const QString& m) { return moodFromRawValue(m); });
            if (track.moods->isEmpty() || !allKnown)
                return invalid("The audio pack contains an unsupported mood.");
        }
        if (track.kind && !kindFromRawValue(*track.kind))
            return invalid("The audio pack contains an unsupported track kind.");
        if (!isHttps(track.downloadURL))
            return invalid("The audio pack contains an unsupported download URL.");
    }
    return std::nullopt;
}

QString titleFromTrackID(const QString& id)
{
    QStringList words = id.split(QLatin1Char('-'), Qt::SkipEmptyParts);
    for (QString& word : words) {
        word = word.toLower();
        word[0] = word[0].toUpper();
    }
    return words.join(QLatin1Char(' '));
}

std::optional<QString> trimmedNilIfEmpty(const QString& text)
{
    QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    return trimmed;
}

CalmTrack AudioPackTrack::calmTrack(const std::optional<CalmTrack>& fallback) const
{
    CalmTrack track;
    track.id = id;
    track.albumID = builtInAlbumID;
    track.source = BundledAudio{id};

    if (auto text = title ? trimmedNilIfEmpty(*title) : std::nullopt)
        track.title = *text;
    else
        track.title = fallback ? fallback->title : titleFromTrackID(id);

    if (auto text = artist ? trimmedNilIfEmpty(*artist) : std::nullopt)
        track.artist = *text;
    else
        track.artist = fallback ? fallback->artist : TrackLibrary::artistName;

    track.duration = duration ? *duration : (fallback ? fallback->duration : 0);

    if (moods) {
        for (const QString& raw : *moods) {
            if (const auto mood = moodFromRawValue(raw))
                track.moods.insert(*mood);
        }
    }
    if (track.moods.empty())
        track.moods = fallback && !fallback->moods.empty() ? fallback->moods : MoodSet{Mood::focus};

    const std::optional<CalmKind> ownKind = kind ? kindFromRawValue(*kind) : std::nullopt;
    track.kind = ownKind ? *ownKind : (fallback ? fallback->kind : CalmKind::dustyBeat);
    return track;
}

} // namespace calmcove
