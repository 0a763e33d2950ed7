#include "packindex.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace calmcove {

QByteArray encodeAudioPackIndex(const AudioPackIndex& index)
{
    QJsonArray packs;
    for (const AudioPackIndexEntry& entry : index.packs) {
        QJsonObject object{
            {QStringLiteral("version"), entry.version},
            {QStringLiteral("minimumAppVersion"), entry.minimumAppVersion},
            {QStringLiteral("manifestURL"), entry.manifestURL.toString(QUrl::FullyEncoded)},
            {QStringLiteral("trackCount"), entry.trackCount},
            {QStringLiteral("totalBytes"), entry.totalBytes},
        };
        if (entry.publishedAt)
            object.insert(QStringLiteral("publishedAt"), *entry.publishedAt);
        if (entry.tag)
            object.insert(QStringLiteral("tag"), *entry.tag);
        packs.append(object);
    }
    // QJsonObject keeps its keys sorted and Qt never escapes "/".
    QJsonObject root{{QStringLiteral("packs"), packs}};
    if (index.generatedAt)
        root.insert(QStringLiteral("generatedAt"), *index.generatedAt);
    if (index.latest)
        root.insert(QStringLiteral("latest"), *index.latest);
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

std::optional<QString> newestPackVersion(const QList<AudioPackIndexEntry>& packs)
{
    const AudioPackIndexEntry* newest = nullptr;
    for (const AudioPackIndexEntry& entry : packs) {
        if (!newest) {
            newest = &entry;
            continue;
        }
        const int order = standardCompare(entry.version, newest->version);
        if (order > 0 || (order == 0 && entry.publishedAt.value_or(QString()) >
                                            newest->publishedAt.value_or(QString())))
            newest = &entry;
    }
    return newest ? std::optional<QString>(newest->version) : std::nullopt;
}

AudioPackIndex indexWithPack(AudioPackIndex index, const AudioPackIndexEntry& entry,
                             const QString& now)
{
    const auto same = std::find_if(index.packs.begin(), index.packs.end(),
                                   [&entry](const AudioPackIndexEntry& existing) {
                                       return existing.version == entry.version;
                                   });
    if (same != index.packs.end())
        *same = entry;
    else
        index.packs.append(entry);
    index.generatedAt = now;
    index.latest = newestPackVersion(index.packs);
    return index;
}

} // namespace calmcove
