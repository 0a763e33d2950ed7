#include "downloadresult.h"

namespace calmcove {

QByteArray DownloadResponse::header(QByteArrayView name) const
{
    for (const auto& [key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

QString describeDownloadError(const DownloadError& error)
{
    struct Describe
    {
        QString operator()(DownloadFailure failure) const
        {
            switch (failure) {
            case DownloadFailure::invalidURL:
                return QStringLiteral("not an http or https URL");
            case DownloadFailure::downloadFailed:
                return QStringLiteral("the download ended without a usable file");
            case DownloadFailure::probeFailed:
                return QStringLiteral("the HEAD probe got no usable answer");
            case DownloadFailure::parallelDownloadUnsupported:
                return QStringLiteral("the server does not serve byte ranges as asked");
            case DownloadFailure::fileTooLarge:
                return QStringLiteral("the file is larger than the size cap");
            case DownloadFailure::notEnoughDiskSpace:
                return QStringLiteral("the free disk space would fall below the reserve");
            }
            return {};
        }
        QString operator()(const TransferError& e) const { return e.message; }
        QString operator()(const FileSystemError& e) const { return e.message; }
    };
    return std::visit(Describe{}, error);
}

} // namespace calmcove
