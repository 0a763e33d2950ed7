#include "releasepublisher.h"

#include "library/filedigest.h"
#include "updates/releasesignature.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>

namespace calmcove {

namespace {

bool isVersion(const QString& text)
{
    static const QRegularExpression pattern(QStringLiteral("^[0-9]+(\\.[0-9]+)*$"));
    return pattern.match(text).hasMatch();
}

PackResult<Done> writeFile(const QString& path, const QByteArray& content,
                           QFileDevice::Permissions permissions)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size() ||
        !file.setPermissions(permissions) || !file.commit())
        return packFailure(QStringLiteral("Could not write %1: %2").arg(path, file.errorString()));
    return Done{};
}

} // namespace

PackResult<ReleaseKeyFiles> makeReleaseKeys(const QString& directory)
{
    if (!QDir().mkpath(directory))
        return packFailure(QStringLiteral("Could not create %1").arg(directory));
    const QDir folder(directory);
    const ReleaseKeyFiles files{
        folder.absoluteFilePath(QStringLiteral("calmcove-release-key.pem")),
        folder.absoluteFilePath(QStringLiteral("calmcove-release-key.pub.pem"))};
    if (QFileInfo::exists(files.privateKey))
        return packFailure(
            QStringLiteral("%1 exists; a new key would not be trusted by installed copies. "
                           "Remove it first to really replace it.")
                .arg(files.privateKey));
    const Expected<Ed25519KeyPair, QString> pair = generateEd25519KeyPair();
    if (!pair)
        return packFailure(pair.error());
    if (auto written = writeFile(files.privateKey, pair->privateKeyPem,
                                 QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        !written)
        return written.error();
    const auto readable = QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                          QFileDevice::ReadGroup | QFileDevice::ReadOther;
    if (auto written = writeFile(files.publicKey, pair->publicKeyPem, readable); !written)
        return written.error();
    return files;
}

PackResult<ReleaseReport> publishRelease(const ReleaseOptions& options)
{
    if (!isVersion(options.version))
        return packFailure(QStringLiteral("--version wants numbers separated by dots, not \"%1\"")
                               .arg(options.version));
    if (options.minimumVersion && !isVersion(*options.minimumVersion))
        return packFailure(
            QStringLiteral("--minimum-version wants numbers separated by dots, not \"%1\"")
                .arg(*options.minimumVersion));
    if (!options.archiveURL.isValid() || options.archiveURL.scheme() != QLatin1String("https") ||
        options.archiveURL.host().isEmpty())
        return packFailure(QStringLiteral("--url wants an https address"));

    const std::optional<qint64> size = FileDigestCache::fileSize(options.archivePath);
    if (!size || *size == 0)
        return packFailure(QStringLiteral("Could not read %1").arg(options.archivePath));
    const std::optional<QString> digest = sha256OfFile(options.archivePath);
    if (!digest)
        return packFailure(QStringLiteral("Could not read %1").arg(options.archivePath));
    const Expected<QByteArray, QString> signature =
        signFileWithEd25519(options.privateKeyPath, options.archivePath);
    if (!signature)
        return packFailure(signature.error());

    UpdateFeed feed;
    if (QFileInfo::exists(options.feedPath)) {
        QFile existing(options.feedPath);
        if (!existing.open(QIODevice::ReadOnly))
            return packFailure(QStringLiteral("Could not read %1: %2")
                                   .arg(options.feedPath, existing.errorString()));
        Expected<UpdateFeed, UpdateFeedError> decoded = decodeUpdateFeed(existing.readAll());
        if (!decoded)
            return packFailure(
                QStringLiteral("%1: %2").arg(options.feedPath, decoded.error().message));
        feed = std::move(*decoded);
    }

    ReleaseReport report;
    report.release = UpdateRelease{options.version,
                                   options.archiveURL,
                                   *size,
                                   *digest,
                                   *signature,
                                   QDateTime::currentDateTimeUtc().toString(Qt::ISODate),
                                   options.minimumVersion,
                                   options.notes,
                                   options.releasePage};
    const auto sameVersion = [&](const UpdateRelease& release) {
        return release.version == options.version;
    };
    report.replacedEarlierEntry = feed.releases.removeIf(sameVersion) > 0;
    feed.releases.append(report.release);
    report.releaseCount = int(feed.releases.size());

    const QString folder = QFileInfo(options.feedPath).absolutePath();
    if (!QDir().mkpath(folder))
        return packFailure(QStringLiteral("Could not create %1").arg(folder));
    const auto readable = QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                          QFileDevice::ReadGroup | QFileDevice::ReadOther;
    if (auto written = writeFile(options.feedPath, encodeUpdateFeed(feed), readable); !written)
        return written.error();
    return report;
}

} // namespace calmcove
