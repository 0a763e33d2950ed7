#include "packbuilder.h"

#include "library/buildinfo.h"
#include "library/filedigest.h"
#include "media/audioduration.h"
#include "model/pathcomponent.h"
#include "model/tracklibrary.h"
#include "tools/pack/packindex.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QTemporaryDir>

namespace calmcove {

namespace {

// The playing time a manifest records, or why the file cannot be published.
PackResult<double> audioDuration(const QString& path)
{
    const auto duration = statedAudioDuration(path);
    if (duration)
        return *duration;
    switch (duration.error().kind) {
    case AudioDurationError::Kind::unreadable:
        return packFailure(
            QStringLiteral("%1 cannot be read as audio: %2.").arg(path, duration.error().detail));
    case AudioDurationError::Kind::noAudioStream:
        return packFailure(QStringLiteral("%1 holds no audio stream.").arg(path));
    case AudioDurationError::Kind::noPlayingTime:
        break;
    }
    return packFailure(QStringLiteral("%1 has no playing time.").arg(path));
}

const QString audioSuffix = QStringLiteral(".m4a");

PackResult<QString> metadataText(const QJsonObject& object, const QString& key, const QString& id)
{
    const QJsonValue value = object.value(key);
    if (!value.isString())
        return packFailure(
            QStringLiteral("The metadata of %1: \"%2\" must be a string.").arg(id, key));
    if (!trimmedNilIfEmpty(value.toString()))
        return packFailure(QStringLiteral("The metadata of %1: \"%2\" is empty.").arg(id, key));
    return value.toString().trimmed();
}

PackResult<TrackMetadata> readOneTrack(const QString& id, const QJsonValue& value)
{
    if (!value.isObject())
        return packFailure(QStringLiteral("The metadata of %1 must be a JSON object.").arg(id));
    const QJsonObject object = value.toObject();
    TrackMetadata metadata;
    for (auto it = object.begin(); it != object.end(); ++it) {
        const QString key = it.key();
        if (key == QLatin1String("title") || key == QLatin1String("artist")) {
            PackResult<QString> text = metadataText(object, key, id);
            if (!text)
                return packFailure(text.message());
            (key == QLatin1String("title") ? metadata.title : metadata.artist) = *text;
        } else if (key == QLatin1String("kind")) {
            if (!it.value().isString() || !kindFromRawValue(it.value().toString()))
                return packFailure(
                    QStringLiteral("The metadata of %1: \"kind\" must be one of %2.").arg(id, [] {
                        QStringList names;
                        for (CalmKind kind : allKinds)
                            names.append(QLatin1Char('"') + rawValue(kind) + QLatin1Char('"'));
                        return names.join(QStringLiteral(", "));
                    }()));
            metadata.kind = it.value().toString();
        } else if (key == QLatin1String("moods")) {
            const QJsonArray moods = it.value().toArray();
            QList<QString> names;
            for (const QJsonValue& mood : moods) {
                if (!mood.isString() || !moodFromRawValue(mood.toString())) {
                    names.clear();
                    break;
                }
                names.append(mood.toString());
            }
            if (!it.value().isArray() || names.isEmpty() || names.size() != moods.size()) {
                QStringList allNames;
                for (Mood mood : allMoods)
                    allNames.append(QLatin1Char('"') + rawValue(mood) + QLatin1Char('"'));
                return packFailure(QStringLiteral("The metadata of %1: \"moods\" must be a "
                                                  "non-empty list of %2.")
                                       .arg(id, allNames.join(QStringLiteral(", "))));
            }
            metadata.moods = names;
        } else {
            return packFailure(QStringLiteral("The metadata of %1 has the unknown key \"%2\" "
                                              "(known: title, artist, moods, kind).")
                                   .arg(id, key));
        }
    }
    return metadata;
}

struct SourceTrack
{
    QString id;
    QString path;
};

// The .m4a files of `directory` (hidden files aside), in no particular order.
PackResult<QList<SourceTrack>> listSourceTracks(const QString& directory)
{
    const QDir dir(directory);
    if (!QFileInfo(directory).isDir())
        return packFailure(QStringLiteral("The input folder %1 does not exist.").arg(directory));
    QList<SourceTrack> tracks;
    const QFileInfoList files = dir.entryInfoList(QDir::Files, QDir::Name);
    for (const QFileInfo& file : files) {
        const QString name = file.fileName();
        if (!name.endsWith(audioSuffix))
            continue;
        const QString id = name.chopped(audioSuffix.size());
        if (!isSafePathComponent(id))
            return packFailure(QStringLiteral("%1 cannot be published: \"%2\" is not usable "
                                              "as a track id (no leading dot or blank, no "
                                              "slash, backslash, colon or control character).")
                                   .arg(file.filePath(), id));
        tracks.append({id, file.filePath()});
    }
    if (tracks.isEmpty())
        return packFailure(
            QStringLiteral("The input folder %1 holds no .m4a files.").arg(directory));
    return tracks;
}

// Album order: the default album's tracks first as it lists them, then the others by id in
// the order of a file browser.
void sortInAlbumOrder(QList<SourceTrack>& tracks)
{
    QHash<QString, qsizetype> position;
    const QList<CalmTrack>& catalogue = TrackLibrary::tracks();
    for (qsizetype i = 0; i < catalogue.size(); ++i)
        position.insert(catalogue[i].id, i);
    std::stable_sort(tracks.begin(), tracks.end(), [&](const SourceTrack& a, const SourceTrack& b) {
        const qsizetype pa = position.value(a.id, catalogue.size());
        const qsizetype pb = position.value(b.id, catalogue.size());
        if (pa != pb)
            return pa < pb;
        const int order = standardCompare(a.id, b.id);
        return order != 0 ? order < 0 : a.id < b.id;
    });
}

struct CopiedFile
{
    qint64 byteCount = 0;
    QString sha256;
};

// Copies `source` to `destination`, hashing what is written, so that the size and digest
// describe the published copy even if the source changes meanwhile.
PackResult<CopiedFile> copyHashing(const QString& source, const QString& destination)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return packFailure(QStringLiteral("Cannot read %1: %2.").arg(source, in.errorString()));
    QFile out(destination);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return packFailure(
            QStringLiteral("Cannot write %1: %2.").arg(destination, out.errorString()));

    Sha256 hash;
    QByteArray block(1 << 20, Qt::Uninitialized);
    CopiedFile copied;
    for (;;) {
        const qint64 count = in.read(block.data(), block.size());
        if (count < 0)
            return packFailure(QStringLiteral("Cannot read %1: %2.").arg(source, in.errorString()));
        if (count == 0)
            break;
        if (out.write(block.constData(), count) != count)
            return packFailure(
                QStringLiteral("Cannot write %1: %2.").arg(destination, out.errorString()));
        hash.update(block.constData(), count);
        copied.byteCount += count;
    }
    if (!out.flush())
        return packFailure(
            QStringLiteral("Cannot write %1: %2.").arg(destination, out.errorString()));
    copied.sha256 = hash.hexDigest();
    return copied;
}

QUrl urlUnder(const QUrl& base, const QStringList& components)
{
    QUrl url = base;
    QString path = base.path(QUrl::FullyDecoded);
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    url.setPath(path + components.join(QLatin1Char('/')), QUrl::DecodedMode);
    return url;
}

PackResult<Done> checkOptions(const PackBuildOptions& options)
{
    if (!isSafePathComponent(options.version) || options.version == packIndexFileName)
        return packFailure(QStringLiteral("The version \"%1\" cannot name the pack's folder: it "
                                          "must not be empty, begin with a dot or a blank, or "
                                          "hold a slash, backslash, colon or control character.")
                               .arg(options.version));
    const QUrl& base = options.baseURL;
    if (!base.isValid() || base.scheme().toLower() != QLatin1String("https") ||
        base.host().isEmpty())
        return packFailure(QStringLiteral("The base URL \"%1\" is not an absolute https URL; "
                                          "clients download only over https.")
                               .arg(base.toString()));
    if (base.hasQuery() || base.hasFragment() || !base.userInfo().isEmpty())
        return packFailure(QStringLiteral("The base URL \"%1\" must not carry a query, a "
                                          "fragment or credentials.")
                               .arg(base.toString()));
    if (!trimmedNilIfEmpty(options.minimumAppVersion.value_or(QString())))
        return packFailure(QStringLiteral("The minimum app version must not be empty."));
    if (options.tag && !trimmedNilIfEmpty(*options.tag))
        return packFailure(QStringLiteral("The tag must not be empty."));
    return Done{};
}

PackResult<AudioPackIndex> readExistingIndex(const QString& path)
{
    if (!QFileInfo::exists(path))
        return AudioPackIndex{};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return packFailure(
            QStringLiteral("Cannot read the existing index %1: %2.").arg(path, file.errorString()));
    Result<AudioPackIndex> index = decodeAudioPackIndex(file.readAll());
    if (!index)
        return packFailure(QStringLiteral("The existing index %1 cannot be read (%2); it is left "
                                          "untouched. Repair or remove it first.")
                               .arg(path, errorDescription(index.error())));
    return *index;
}

// The document as clients will decode it must be exactly the record we meant.
template <typename Record, typename Decoder>
PackResult<Done> checkRoundTrip(const Record& record, const QByteArray& encoded,
                                const Decoder& decode, const QString& what)
{
    auto decoded = decode(encoded);
    if (!decoded)
        return packFailure(QStringLiteral("The %1 would not be readable by Calmcove: %2")
                               .arg(what, errorDescription(decoded.error())));
    if (!(*decoded == record))
        return packFailure(QStringLiteral("The %1 would not read back as written.").arg(what));
    return Done{};
}

bool writeFile(const QString& path, const QByteArray& content, QString* error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() ||
        !file.commit()) {
        *error = QStringLiteral("Cannot write %1: %2.").arg(path, file.errorString());
        return false;
    }
    return true;
}

} // namespace

PackResult<QHash<QString, TrackMetadata>> readTrackMetadata(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return packFailure(
            QStringLiteral("Cannot read the metadata file %1: %2.").arg(path, file.errorString()));
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return packFailure(QStringLiteral("The metadata file %1 is not valid JSON: %2 at byte %3.")
                               .arg(path, parseError.errorString())
                               .arg(parseError.offset));
    if (!document.isObject())
        return packFailure(QStringLiteral("The metadata file %1 must hold a JSON object that maps "
                                          "track ids to their metadata.")
                               .arg(path));
    QHash<QString, TrackMetadata> result;
    const QJsonObject root = document.object();
    for (auto it = root.begin(); it != root.end(); ++it) {
        PackResult<TrackMetadata> metadata = readOneTrack(it.key(), it.value());
        if (!metadata)
            return packFailure(metadata.message());
        result.insert(it.key(), *metadata);
    }
    return result;
}

PackResult<PackBuildReport> buildPack(const PackBuildOptions& requested)
{
    PackBuildOptions options = requested;
    if (!options.minimumAppVersion)
        options.minimumAppVersion = BuildInfo::current().compatibilityVersion();
    if (PackResult<Done> checked = checkOptions(options); !checked)
        return packFailure(checked.message());

    PackResult<QList<SourceTrack>> sources = listSourceTracks(options.inputDirectory);
    if (!sources)
        return packFailure(sources.message());
    sortInAlbumOrder(*sources);

    QHash<QString, TrackMetadata> metadata;
    if (!options.metadataFile.isEmpty()) {
        PackResult<QHash<QString, TrackMetadata>> read = readTrackMetadata(options.metadataFile);
        if (!read)
            return packFailure(read.message());
        metadata = *read;
        for (auto it = metadata.cbegin(); it != metadata.cend(); ++it) {
            const bool present =
                std::any_of(sources->cbegin(), sources->cend(),
                            [&](const SourceTrack& s) { return s.id == it.key(); });
            if (!present)
                return packFailure(QStringLiteral("The metadata names %1, but the input folder has "
                                                  "no %1.m4a.")
                                       .arg(it.key()));
        }
    }

    const QString output = QDir(options.outputDirectory).absolutePath();
    if (!QDir().mkpath(output))
        return packFailure(QStringLiteral("Cannot create the output folder %1.").arg(output));
    const QString indexPath = output + QLatin1Char('/') + packIndexFileName;
    PackResult<AudioPackIndex> existingIndex = readExistingIndex(indexPath);
    if (!existingIndex)
        return packFailure(existingIndex.message());

    // Assembled beside its final place, so that the move into place is a rename.
    QTemporaryDir staging(output + QStringLiteral("/.staging-XXXXXX"));
    if (!staging.isValid())
        return packFailure(QStringLiteral("Cannot create a staging folder in %1: %2.")
                               .arg(output, staging.errorString()));
    // Temporary folders are private; a published pack is readable by the web server.
    QFile::setPermissions(staging.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                              QFile::ReadGroup | QFile::ExeGroup |
                                              QFile::ReadOther | QFile::ExeOther);

    const QDateTime nowTime = QDateTime::currentDateTimeUtc();
    const QString now = nowTime.toString(Qt::ISODate);
    AudioPackManifest manifest;
    manifest.version = options.version;
    manifest.minimumAppVersion = *options.minimumAppVersion;
    manifest.generatedAt = now;
    for (const SourceTrack& source : std::as_const(*sources)) {
        const QString fileName = source.id + audioSuffix;
        const QString copyPath = staging.filePath(fileName);
        PackResult<CopiedFile> copied = copyHashing(source.path, copyPath);
        if (!copied)
            return packFailure(copied.message());
        if (copied->byteCount == 0)
            return packFailure(QStringLiteral("%1 is empty.").arg(source.path));
        PackResult<double> duration = audioDuration(copyPath);
        if (!duration)
            return packFailure(
                QStringLiteral("%1 cannot be published: %2")
                    .arg(source.path, QString(duration.message()).replace(copyPath, fileName)));

        AudioPackTrack track;
        track.id = source.id;
        track.fileName = fileName;
        const auto row =
            std::find_if(TrackLibrary::tracks().cbegin(), TrackLibrary::tracks().cend(),
                         [&](const CalmTrack& t) { return t.id == source.id; });
        if (row != TrackLibrary::tracks().cend()) {
            track.title = row->title;
            track.artist = row->artist;
            QList<QString> moods;
            for (Mood mood : row->moods)
                moods.append(rawValue(mood));
            track.moods = moods;
            track.kind = rawValue(row->kind);
        }
        if (const auto given = metadata.constFind(source.id); given != metadata.cend()) {
            if (given->title)
                track.title = given->title;
            if (given->artist)
                track.artist = given->artist;
            if (given->moods)
                track.moods = given->moods;
            if (given->kind)
                track.kind = given->kind;
        }
        track.duration = *duration;
        track.byteCount = copied->byteCount;
        track.sha256 = copied->sha256;
        track.downloadURL = urlUnder(options.baseURL, {options.version, fileName});
        manifest.tracks.append(track);
        if (manifest.totalBytes > std::numeric_limits<qint64>::max() - track.byteCount)
            return packFailure(QStringLiteral("The pack is too large."));
        manifest.totalBytes += track.byteCount;
    }
    manifest.trackCount = manifest.tracks.size();

    // The publisher may target a newer app than this build, so the version gate is
    // checked against the pack's own minimum.
    if (std::optional<AudioPackError> invalid =
            validateManifest(manifest, manifest.minimumAppVersion))
        return packFailure(QStringLiteral("The manifest does not pass validation: %1")
                               .arg(invalid->errorDescription()));
    const QByteArray manifestJSON = encodeAudioPackManifest(manifest);
    if (PackResult<Done> same = checkRoundTrip(manifest, manifestJSON, decodeAudioPackManifest,
                                               QStringLiteral("manifest"));
        !same)
        return packFailure(same.message());

    const AudioPackIndexEntry entry{
        .version = options.version,
        .minimumAppVersion = *options.minimumAppVersion,
        .manifestURL = urlUnder(options.baseURL, {options.version, packManifestFileName}),
        .trackCount = manifest.trackCount,
        .totalBytes = manifest.totalBytes,
        .publishedAt = now,
        .tag = options.tag ? std::optional<QString>(options.tag->trimmed()) : std::nullopt,
    };
    const AudioPackIndex index = indexWithPack(*existingIndex, entry, now);
    if (std::optional<AudioPackError> invalid = validateIndex(index))
        return packFailure(QStringLiteral("The index does not pass validation: %1")
                               .arg(invalid->errorDescription()));
    const QByteArray indexJSON = encodeAudioPackIndex(index);
    if (PackResult<Done> same =
            checkRoundTrip(index, indexJSON, decodeAudioPackIndex, QStringLiteral("index"));
        !same)
        return packFailure(same.message());

    QString error;
    if (!writeFile(staging.filePath(packManifestFileName), manifestJSON, &error))
        return packFailure(error);

    // Swap the finished folder in; an earlier build of this version goes only afterwards.
    const QString packDirectory = output + QLatin1Char('/') + options.version;
    const bool replacing = QFileInfo::exists(packDirectory) || QFileInfo(packDirectory).isSymLink();
    QString retired;
    if (replacing) {
        if (!QFileInfo(packDirectory).isDir() || QFileInfo(packDirectory).isSymLink())
            return packFailure(
                QStringLiteral("%1 exists and is not a pack folder; it is left untouched.")
                    .arg(packDirectory));
        retired = output + QStringLiteral("/.replaced-") + options.version + QLatin1Char('-') +
                  QString::number(nowTime.toMSecsSinceEpoch());
        if (!QDir().rename(packDirectory, retired))
            return packFailure(
                QStringLiteral("Cannot move the earlier build %1 aside.").arg(packDirectory));
    }
    if (!QDir().rename(staging.path(), packDirectory)) {
        if (replacing)
            QDir().rename(retired, packDirectory);
        return packFailure(QStringLiteral("Cannot move the pack into %1.").arg(packDirectory));
    }
    staging.setAutoRemove(false);
    if (!writeFile(indexPath, indexJSON, &error)) {
        // Leave the index and the folders as they were.
        QDir(packDirectory).removeRecursively();
        if (replacing)
            QDir().rename(retired, packDirectory);
        return packFailure(error);
    }
    if (replacing)
        QDir(retired).removeRecursively();

    return PackBuildReport{.manifest = manifest,
                           .index = index,
                           .packDirectory = packDirectory,
                           .indexPath = indexPath,
                           .replacedEarlierBuild = replacing};
}

} // namespace calmcove
