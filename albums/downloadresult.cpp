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

QString errorDescription(const DownloadError& error)
{
    struct Describe
    {
        QString operator()(URLImportError e) const { return errorDescription(e); }
        QString operator()(const TransferError& e) const { return e.message; }
        QString operator()(const FileSystemError& e) const { return e.message; }
    };
    return std::visit(Describe{}, error);
}

} // namespace calmcove
