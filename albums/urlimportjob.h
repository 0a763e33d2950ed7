#pragma once

// One direct audio link queued for import, as the import view shows it.

#include <QString>
#include <QUuid>

#include <optional>

namespace calmcove {

struct URLImportJob
{
    enum class State
    {
        queued,
        importing,
        finished,
        failed
    };

    QUuid id;
    QString urlString;                    // trimmed
    std::optional<QString> targetAlbumID; // none: the "URL Imports" album
    State state = State::queued;
    QString message;
    std::optional<double> progress; // 0…1; none when the length is unknown
    std::optional<QString> progressText;

    bool operator==(const URLImportJob&) const = default;
};

} // namespace calmcove
