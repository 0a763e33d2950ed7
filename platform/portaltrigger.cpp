#include "portaltrigger.h"

#include "virtualkeys.h"

#include <QRegularExpression>
#include <QStringList>

namespace calmcove {
namespace {

std::optional<quint32> modifierFromName(const QString& name)
{
    static const QHash<QString, quint32> modifiers{
        {QStringLiteral("ctrl"), carbon::controlKey},
        {QStringLiteral("control"), carbon::controlKey},
        {QStringLiteral("primary"), carbon::controlKey},
        {QStringLiteral("alt"), carbon::optionKey},
        {QStringLiteral("mod1"), carbon::optionKey},
        {QStringLiteral("shift"), carbon::shiftKey},
        {QStringLiteral("logo"), carbon::cmdKey},
        {QStringLiteral("super"), carbon::cmdKey},
        {QStringLiteral("meta"), carbon::cmdKey},
        {QStringLiteral("mod4"), carbon::cmdKey},
    };
    const auto found = modifiers.find(name.trimmed().toLower());
    if (found == modifiers.end())
        return std::nullopt;
    return *found;
}

} // namespace

QString portalTrigger(HotkeyCombination combination)
{
    const std::optional<QString> key = keysymNameFromVirtualKey(combination.keyCode);
    if (!key)
        return {};
    QStringList parts;
    if (combination.modifiers & carbon::controlKey)
        parts << QStringLiteral("CTRL");
    if (combination.modifiers & carbon::optionKey)
        parts << QStringLiteral("ALT");
    if (combination.modifiers & carbon::shiftKey)
        parts << QStringLiteral("SHIFT");
    if (combination.modifiers & carbon::cmdKey)
        parts << QStringLiteral("LOGO");
    parts << *key;
    return parts.join(QLatin1Char('+'));
}

std::optional<HotkeyCombination> parsePortalTrigger(const QString& text)
{
    HotkeyCombination combination;
    QString rest = text.trimmed();

    // GTK accelerator form: "<Control><Alt>space".
    static const QRegularExpression bracketed(QStringLiteral("^<([^>]+)>"));
    for (auto match = bracketed.match(rest); match.hasMatch(); match = bracketed.match(rest)) {
        const std::optional<quint32> modifier = modifierFromName(match.captured(1));
        if (!modifier)
            return std::nullopt;
        combination.modifiers |= *modifier;
        rest = rest.mid(match.capturedLength());
    }

    // "+"-joined form; a trailing "++" names the plus key itself.
    QString keyName = rest;
    const qsizetype split =
        rest.endsWith(QLatin1String("++")) ? rest.size() - 2 : rest.lastIndexOf(QLatin1Char('+'));
    if (split >= 0) {
        keyName = rest.mid(split + 1);
        const QStringList names = rest.left(split).split(QLatin1Char('+'), Qt::SkipEmptyParts);
        for (const QString& name : names) {
            const std::optional<quint32> modifier = modifierFromName(name);
            if (!modifier)
                return std::nullopt;
            combination.modifiers |= *modifier;
        }
    }
    const std::optional<quint32> key = virtualKeyFromKeysymName(keyName.trimmed());
    if (!key)
        return std::nullopt;
    combination.keyCode = *key;
    return combination;
}

} // namespace calmcove
