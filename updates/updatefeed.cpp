#include "updatefeed.h"

#include "library/audiopackformat.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <algorithm>

namespace calmcove {

namespace {

using Decoded = Expected<UpdateRelease, UpdateFeedError>;

UpdateFeedError feedError(int index, const QString& what)
{
    return UpdateFeedError{
        QStringLiteral("Release %1 of the update feed: %2").arg(index + 1).arg(what)};
}

std::optional<QString> stringMember(const QJsonObject& object, const char* key)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (!value.isString())
        return std::nullopt;
    return value.toString();
}

Decoded decodeRelease(const QJsonValue& value, int index)
{
    if (!value.isObject())
        return feedError(index, QStringLiteral("not an object"));
    const QJsonObject object = value.toObject();
    UpdateRelease release;

    const auto version = stringMember(object, "version");
    static const QRegularExpression versionPattern(QStringLiteral("^[0-9]+(\\.[0-9]+)*$"));
    if (!version || !versionPattern.match(*version).hasMatch())
        return feedError(index, QStringLiteral("\"version\" is not a version number"));
    release.version = *version;

    const auto url = stringMember(object, "url");
    release.archiveURL = QUrl(url.value_or(QString()), QUrl::StrictMode);
    if (!url || !release.archiveURL.isValid() ||
        release.archiveURL.scheme() != QLatin1String("https") ||
        release.archiveURL.host().isEmpty())
        return feedError(index, QStringLiteral("\"url\" is not an https address"));

    const QJsonValue size = object.value(QLatin1String("size"));
    const double sizeValue = size.toDouble(-1);
    if (!size.isDouble() || sizeValue < 1 || sizeValue > double(maximumUpdateArchiveSize) ||
        sizeValue != double(qint64(sizeValue)))
        return feedError(index, QStringLiteral("\"size\" is not a byte count"));
    release.byteCount = qint64(sizeValue);

    const auto sha256 = stringMember(object, "sha256");
    static const QRegularExpression digestPattern(QStringLiteral("^[0-9a-fA-F]{64}$"));
    if (!sha256 || !digestPattern.match(*sha256).hasMatch())
        return feedError(index, QStringLiteral("\"sha256\" is not a SHA-256 digest"));
    release.sha256 = sha256->toLower();

    const auto signature = stringMember(object, "signature");
    const auto decodedSignature = QByteArray::fromBase64Encoding(
        signature.value_or(QString()).toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!signature || !decodedSignature || decodedSignature.decoded.size() != 64)
        return feedError(index, QStringLiteral("\"signature\" is not a base64 Ed25519 signature"));
    release.signature = decodedSignature.decoded;

    const auto publishedAt = stringMember(object, "publishedAt");
    if (!publishedAt)
        return feedError(index, QStringLiteral("\"publishedAt\" is missing"));
    release.publishedAt = *publishedAt;

    if (object.contains(QLatin1String("minimumVersion"))) {
        const auto minimum = stringMember(object, "minimumVersion");
        if (!minimum || !versionPattern.match(*minimum).hasMatch())
            return feedError(index, QStringLiteral("\"minimumVersion\" is not a version number"));
        release.minimumVersion = *minimum;
    }
    if (object.contains(QLatin1String("notes"))) {
        const auto notes = stringMember(object, "notes");
        if (!notes)
            return feedError(index, QStringLiteral("\"notes\" is not text"));
        release.notes = *notes;
    }
    if (object.contains(QLatin1String("releasePage"))) {
        const QUrl page(stringMember(object, "releasePage").value_or(QString()), QUrl::StrictMode);
        if (!page.isValid() ||
            (page.scheme() != QLatin1String("https") && page.scheme() != QLatin1String("http")))
            return feedError(index, QStringLiteral("\"releasePage\" is not a web address"));
        release.releasePage = page;
    }
    return release;
}

} // namespace

Expected<UpdateFeed, UpdateFeedError> decodeUpdateFeed(const QByteArray& json)
{
    if (json.size() > maximumUpdateFeedSize)
        return UpdateFeedError{QStringLiteral("The update feed is too large.")};
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject())
        return UpdateFeedError{QStringLiteral("The update feed is not a JSON object.")};
    const QJsonValue releases = document.object().value(QLatin1String("releases"));
    if (!releases.isArray())
        return UpdateFeedError{QStringLiteral("The update feed has no \"releases\" list.")};

    UpdateFeed feed;
    const QJsonArray list = releases.toArray();
    for (int i = 0; i < list.size(); ++i) {
        Decoded release = decodeRelease(list.at(i), i);
        if (!release)
            return release.error();
        feed.releases.append(std::move(*release));
    }
    return feed;
}

QByteArray encodeUpdateFeed(const UpdateFeed& feed)
{
    QList<UpdateRelease> releases = feed.releases;
    std::stable_sort(releases.begin(), releases.end(), [](const auto& a, const auto& b) {
        return versionIsGreater(a.version, b.version);
    });
    QJsonArray list;
    for (const UpdateRelease& release : releases) {
        QJsonObject object{
            {QStringLiteral("version"), release.version},
            {QStringLiteral("url"), release.archiveURL.toString(QUrl::FullyEncoded)},
            {QStringLiteral("size"), double(release.byteCount)},
            {QStringLiteral("sha256"), release.sha256},
            {QStringLiteral("signature"), QString::fromLatin1(release.signature.toBase64())},
            {QStringLiteral("publishedAt"), release.publishedAt},
            {QStringLiteral("notes"), release.notes},
        };
        if (release.minimumVersion)
            object.insert(QStringLiteral("minimumVersion"), *release.minimumVersion);
        if (release.releasePage)
            object.insert(QStringLiteral("releasePage"),
                          release.releasePage->toString(QUrl::FullyEncoded));
        list.append(object);
    }
    return QJsonDocument(QJsonObject{{QStringLiteral("releases"), list}}).toJson();
}

UpdateChoice chooseUpdate(const UpdateFeed& feed, const QString& runningVersion)
{
    UpdateChoice choice;
    for (const UpdateRelease& release : feed.releases) {
        if (!versionIsGreater(release.version, runningVersion))
            continue;
        const bool allowed =
            !release.minimumVersion || !versionIsGreater(*release.minimumVersion, runningVersion);
        std::optional<UpdateRelease>& slot = allowed ? choice.release : choice.unreachable;
        if (!slot || versionIsGreater(release.version, slot->version))
            slot = release;
    }
    if (choice.release && choice.unreachable &&
        !versionIsGreater(choice.unreachable->version, choice.release->version))
        choice.unreachable.reset();
    return choice;
}

} // namespace calmcove
