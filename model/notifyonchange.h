#pragma once

// The one way every store and controller updates an observable field: assign the new
// value and emit the field's NOTIFY signal only when the value really changed. A null
// string counts as different from an empty one (a null message means "no message").

#include <QString>
#include <utility>

namespace calmcove {

namespace detail {
template <typename T> bool sameObservableValue(const T& a, const T& b)
{
    return a == b;
}
inline bool sameObservableValue(const QString& a, const QString& b)
{
    return a == b && a.isNull() == b.isNull();
}
} // namespace detail

// True when `field` changed (and `changed` was emitted on `owner`).
template <typename Owner, typename T, typename Value>
bool assignAndNotify(Owner* owner, T& field, Value&& value, void (Owner::*changed)())
{
    if (detail::sameObservableValue<T>(field, value))
        return false;
    field = std::forward<Value>(value);
    Q_EMIT(owner->*changed)();
    return true;
}

} // namespace calmcove
