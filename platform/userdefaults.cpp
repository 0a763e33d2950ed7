#include "userdefaults.h"

namespace calmcove {

UserDefaults::UserDefaults()
    : m_settings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Calmcove"),
                 QStringLiteral("Calmcove"))
{}

UserDefaults::UserDefaults(const QString& filePath) : m_settings(filePath, QSettings::IniFormat) {}

UserDefaults& UserDefaults::standard()
{
    static UserDefaults instance;
    return instance;
}

void UserDefaults::setOverride(const QString& key, const QString& value)
{
    m_overrides.insert(key, value);
}

bool UserDefaults::addOverride(const QString& assignment)
{
    const qsizetype equals = assignment.indexOf(QLatin1Char('='));
    if (equals <= 0)
        return false;
    setOverride(assignment.left(equals), assignment.mid(equals + 1));
    return true;
}

bool UserDefaults::contains(const QString& key) const
{
    return m_overrides.contains(key) || m_settings.contains(key);
}

QVariant UserDefaults::value(const QString& key) const
{
    const auto override = m_overrides.constFind(key);
    if (override != m_overrides.cend())
        return *override;
    return m_settings.value(key);
}

void UserDefaults::setValue(const QString& key, const QVariant& value)
{
    m_settings.setValue(key, value);
}

void UserDefaults::remove(const QString& key)
{
    m_settings.remove(key);
}

std::optional<QString> UserDefaults::string(const QString& key) const
{
    const QVariant stored = value(key);
    if (!stored.isValid() || !stored.canConvert<QString>())
        return std::nullopt;
    return stored.toString();
}

std::optional<double> UserDefaults::number(const QString& key) const
{
    const QVariant stored = value(key);
    if (!stored.isValid())
        return std::nullopt;
    bool ok = false;
    const double number = stored.toDouble(&ok);
    if (!ok)
        return std::nullopt;
    return number;
}

std::optional<bool> UserDefaults::boolean(const QString& key) const
{
    const QVariant stored = value(key);
    if (!stored.isValid())
        return std::nullopt;
    if (stored.typeId() == QMetaType::Bool)
        return stored.toBool();
    // Stored and command-line values arrive as text.
    const QString text = stored.toString().trimmed().toLower();
    if (text == QLatin1String("true") || text == QLatin1String("yes") || text == QLatin1String("1"))
        return true;
    if (text == QLatin1String("false") || text == QLatin1String("no") || text == QLatin1String("0"))
        return false;
    return std::nullopt;
}

std::optional<QDateTime> UserDefaults::date(const QString& key) const
{
    const QVariant stored = value(key);
    if (!stored.isValid())
        return std::nullopt;
    QDateTime date = stored.typeId() == QMetaType::QDateTime
                         ? stored.toDateTime()
                         : QDateTime::fromString(stored.toString(), Qt::ISODateWithMs);
    if (!date.isValid())
        return std::nullopt;
    return date.toUTC();
}

void UserDefaults::setDate(const QString& key, const QDateTime& date)
{
    m_settings.setValue(key, date.toUTC().toString(Qt::ISODateWithMs));
}

void UserDefaults::sync()
{
    m_settings.sync();
}

} // namespace calmcove
