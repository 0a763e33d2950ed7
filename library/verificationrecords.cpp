#include "verificationrecords.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace calmcove {

namespace {

// Nanosecond times and inode numbers do not fit a JSON number (a double) exactly, so every
// integer is written as a decimal string.
const QString formatKey = QStringLiteral("format");
const QString filesKey = QStringLiteral("files");
constexpr int currentFormat = 1;

std::optional<qint64> signedNumber(const QJsonObject& object, const QString& key)
{
    bool ok = false;
    const qint64 value = object.value(key).toString().toLongLong(&ok);
    return ok ? std::optional(value) : std::nullopt;
}

std::optional<quint64> unsignedNumber(const QJsonObject& object, const QString& key)
{
    bool ok = false;
    const quint64 value = object.value(key).toString().toULongLong(&ok);
    return ok ? std::optional(value) : std::nullopt;
}

std::optional<VerifiedDigest> decodeRecord(const QJsonObject& object)
{
    const QString digest = object.value(QStringLiteral("sha256")).toString();
    const auto size = signedNumber(object, QStringLiteral("size"));
    const auto modified = signedNumber(object, QStringLiteral("modifiedNanoseconds"));
    const auto changed = signedNumber(object, QStringLiteral("changedNanoseconds"));
    const auto inode = unsignedNumber(object, QStringLiteral("inode"));
    const auto device = unsignedNumber(object, QStringLiteral("device"));
    if (digest.size() != 64 || !size || !modified || !changed || !inode || !device)
        return std::nullopt;
    return VerifiedDigest{FileIdentity{*size, *modified, *changed, *inode, *device},
                          digest.toLower()};
}

QJsonObject encodeRecord(const VerifiedDigest& record)
{
    const FileIdentity& identity = record.identity;
    return QJsonObject{
        {QStringLiteral("sha256"), record.digest},
        {QStringLiteral("size"), QString::number(identity.size)},
        {QStringLiteral("modifiedNanoseconds"), QString::number(identity.modified)},
        {QStringLiteral("changedNanoseconds"), QString::number(identity.changed)},
        {QStringLiteral("inode"), QString::number(identity.inode)},
        {QStringLiteral("device"), QString::number(identity.device)},
    };
}

QString recordsPath(const QString& packDirectory)
{
    return packDirectory + QLatin1Char('/') + verificationRecordsFileName;
}

} // namespace

VerificationRecords readVerificationRecords(const QString& packDirectory)
{
    QFile file(recordsPath(packDirectory));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QJsonObject document = QJsonDocument::fromJson(file.readAll()).object();
    if (document.value(formatKey).toInt() != currentFormat)
        return {};
    VerificationRecords records;
    const QJsonObject files = document.value(filesKey).toObject();
    for (auto entry = files.begin(); entry != files.end(); ++entry) {
        if (const auto record = decodeRecord(entry.value().toObject()))
            records.insert(entry.key(), *record);
    }
    return records;
}

Result<void> writeVerificationRecords(const QString& packDirectory,
                                      const VerificationRecords& records)
{
    QJsonObject files;
    for (auto record = records.cbegin(); record != records.cend(); ++record)
        files.insert(record.key(), encodeRecord(record.value()));
    const QByteArray encoded =
        QJsonDocument(QJsonObject{{formatKey, currentFormat}, {filesKey, files}})
            .toJson(QJsonDocument::Compact);
    QSaveFile file(recordsPath(packDirectory));
    if (!file.open(QIODevice::WriteOnly) || file.write(encoded) != encoded.size() || !file.commit())
        return LibraryError(FileError{
            QStringLiteral("Could not write %1: %2").arg(file.fileName(), file.errorString())});
    return {};
}

} // namespace calmcove
