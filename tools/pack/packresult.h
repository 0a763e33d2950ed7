#pragma once

// The result type of the pack tool's operations: a value, or the message that tells the
// publisher what went wrong (printed as is, so it names the file or option at fault).

#include <QString>
#include <utility>
#include <variant>

namespace calmcove {

struct PackFailure
{
    QString message;
    bool operator==(const PackFailure&) const = default;
};

template <typename T> class [[nodiscard]] PackResult
{
public:
    PackResult(T value) : m_content(std::in_place_index<0>, std::move(value)) {}
    PackResult(PackFailure failure) : m_content(std::in_place_index<1>, std::move(failure)) {}

    bool ok() const { return m_content.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() { return std::get<0>(m_content); }
    const T& value() const { return std::get<0>(m_content); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() { return value(); }
    const T& operator*() const { return value(); }

    const QString& message() const { return std::get<1>(m_content).message; }

private:
    std::variant<T, PackFailure> m_content;
};

struct Done
{};

inline PackFailure packFailure(QString message)
{
    return PackFailure{std::move(message)};
}

} // namespace calmcove
