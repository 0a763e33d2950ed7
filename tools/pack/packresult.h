#pragma once

// The result type of the pack tool's operations: a value, or the message that tells the
// publisher what went wrong (printed as is, so it names the file or option at fault).

#include "model/expected.h"

#include <QString>
#include <utility>
#include <variant>

namespace calmcove {

struct PackFailure
{
    QString message;
    bool operator==(const PackFailure&) const = default;
};

template <typename T> class [[nodiscard]] PackResult : public Expected<T, PackFailure>
{
public:
    using Expected<T, PackFailure>::Expected;

    const QString& message() const { return this->error().message; }
};

struct Done
{};

inline PackFailure packFailure(QString message)
{
    return PackFailure{std::move(message)};
}

} // namespace calmcove
