#pragma once

// The user-defaults store: the stored settings (QSettings, organisation and application
// "Calmcove") beneath a volatile override layer filled from the command line. A key in
// the override layer wins over the stored value for this run only and is never written
// to disk, like a command-line argument domain. Main thread only.

#include <optional>
#include <QDateTime>
#include <QHash>
#include <QSettings>
#include <QString>
#include <QVariant>

namespace calmcove {

class UserDefaults
{
public:
    // Opens the stored settings at their standard location
    // ($XDG_CONFIG_HOME/Calmcove/Calmcove.conf).
    UserDefaults();
    // Opens the stored settings in `filePath` (tests, tools).
    explicit UserDefaults(const QString& filePath);

    // The process-wide store the program uses.
    static UserDefaults& standard();

    // Overrides `key` with `value` for the lifetime of this object; never stored.
    void setOverride(const QString& key, const QString& value);
    // Parses "KEY=VALUE"; returns false (and changes nothing) when there is no "=" or
    // the key is empty.
    bool addOverride(const QString& assignment);

    bool contains(const QString& key) const;
    QVariant value(const QString& key) const;
    void setValue(const QString& key, const QVariant& value);
    void remove(const QString& key);

    // Typed reads. Each returns no value when the key is absent or does not convert.
    std::optional<QString> string(const QString& key) const;
    std::optional<double> number(const QString& key) const;
    std::optional<bool> boolean(const QString& key) const;
    // Dates are stored as ISO 8601 text in UTC.
    std::optional<QDateTime> date(const QString& key) const;
    void setDate(const QString& key, const QDateTime& date);

    // Writes pending changes to disk now (QSettings otherwise writes them lazily).
    void sync();

private:
    QSettings m_settings;
    QHash<QString, QString> m_overrides;
};

} // namespace calmcove
