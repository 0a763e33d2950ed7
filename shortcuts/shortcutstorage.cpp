#include "shortcutstorage.h"

#include <cmath>
#include <limits>
#include <QJsonDocument>
#include <QJsonObject>

namespace calmcove {
namespace {

std::optional<quint32> unsigned32(const QJsonValue& value)
{
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (number < 0 || number > std::numeric_limits<quint32>::max() || std::trunc(number) != number)
        return std::nullopt;
    return quint32(number);
}

std::optional<AppShortcut> decodeShortcut(const QJsonValue& value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    const std::optional<quint32> keyCode = unsigned32(object.value(QLatin1String("keyCode")));
    const std::optional<quint32> modifiers = unsigned32(object.value(QLatin1String("modifiers")));
    if (!keyCode || !modifiers)
        return std::nullopt;
    return AppShortcut{*keyCode, *modifiers};
}

} // namespace

QByteArray encodeShortcutTable(const ShortcutTable& table)
{
    QJsonObject document;
    for (auto entry = table.begin(); entry != table.end(); ++entry) {
        document.insert(rawValue(entry.key()),
                        QJsonObject{{QStringLiteral("keyCode"), qint64(entry->keyCode)},
                                    {QStringLiteral("modifiers"), qint64(entry->modifiers)}});
    }
    return QJsonDocument(document).toJson(QJsonDocument::Compact);
}

ShortcutTable decodeShortcutTable(const QByteArray& data)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return {};
    const QJsonObject object = document.object();
    ShortcutTable table;
    for (auto member = object.begin(); member != object.end(); ++member) {
        const std::optional<AppShortcut> shortcut = decodeShortcut(member.value());
        if (!shortcut)
            return {};
        if (const std::optional<ShortcutAction> action = shortcutActionFromRawValue(member.key()))
            table.insert(*action, *shortcut);
    }
    return table;
}

} // namespace calmcove
