#pragma once

// A value or the error that prevented it, for operations that report failures as values
// (the library's, the downloader's and the pack tool's results build on it).

#include <utility>
#include <variant>

namespace calmcove {

template <typename T, typename E> class [[nodiscard]] Expected
{
public:
    Expected(T value) : m_content(std::in_place_index<0>, std::move(value)) {}
    Expected(E error) : m_content(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return m_content.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() { return std::get<0>(m_content); }
    const T& value() const { return std::get<0>(m_content); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() { return value(); }
    const T& operator*() const { return value(); }

    const E& error() const { return std::get<1>(m_content); }

private:
    std::variant<T, E> m_content;
};

} // namespace calmcove
