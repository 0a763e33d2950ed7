#include "symbolicons.h"

#include <QAbstractButton>
#include <QHash>
#include <QPainter>
#include <QPixmap>

namespace calmcove {

namespace {

const QHash<QString, QString>& symbolTable()
{
    static const QHash<QString, QString> table = {
        {QStringLiteral("plus"), QStringLiteral("list-add-symbolic")},
        {QStringLiteral("folder.badge.plus"), QStringLiteral("folder-new-symbolic")},
        {QStringLiteral("link.badge.plus"), QStringLiteral("insert-link-symbolic")},
        {QStringLiteral("link"), QStringLiteral("insert-link-symbolic")},
        {QStringLiteral("questionmark.circle"), QStringLiteral("help-about-symbolic")},
        {QStringLiteral("photo"), QStringLiteral("image-x-generic-symbolic")},
        {QStringLiteral("xmark.circle"), QStringLiteral("edit-clear-symbolic")},
        {QStringLiteral("xmark.circle.fill"), QStringLiteral("window-close-symbolic")},
        {QStringLiteral("music.note.list"), QStringLiteral("audio-x-generic-symbolic")},
        {QStringLiteral("trash"), QStringLiteral("user-trash-symbolic")},
        {QStringLiteral("lock.fill"), QStringLiteral("changes-prevent-symbolic")},
        {QStringLiteral("square.and.arrow.down"), QStringLiteral("folder-download-symbolic")},
        {QStringLiteral("arrow.down.circle"), QStringLiteral("go-down-symbolic")},
        {QStringLiteral("clock"), QStringLiteral("document-open-recent-symbolic")},
        {QStringLiteral("checkmark.circle"), QStringLiteral("object-select-symbolic")},
        {QStringLiteral("exclamationmark.triangle"), QStringLiteral("dialog-warning-symbolic")},
    };
    return table;
}

} // namespace

QString themeIconName(const QString& symbolName)
{
    return symbolTable().value(symbolName);
}

QIcon symbolIcon(const QString& symbolName, const QColor& color)
{
    const QString name = themeIconName(symbolName);
    if (name.isEmpty())
        return {};
    if (QIcon::themeName().isEmpty() || QIcon::themeName() == QLatin1String("hicolor"))
        QIcon::setThemeName(QStringLiteral("Adwaita"));
    const QIcon source = QIcon::fromTheme(name);
    if (source.isNull())
        return {};
    QIcon tinted;
    for (const int side : {16, 24, 32, 48, 64}) {
        QPixmap pixmap = source.pixmap(side, side);
        QPainter painter(&pixmap);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(pixmap.rect(), color);
        painter.end();
        tinted.addPixmap(pixmap, QIcon::Normal);
        QPixmap faded = pixmap;
        faded.fill(Qt::transparent);
        QPainter fader(&faded);
        fader.setOpacity(0.35);
        fader.drawPixmap(0, 0, pixmap);
        fader.end();
        tinted.addPixmap(faded, QIcon::Disabled);
    }
    return tinted;
}

QColor destructiveColor(const QPalette& palette)
{
    return palette.color(QPalette::Window).lightness() < 128 ? QColor(0xff, 0x6b, 0x61)
                                                             : QColor(0xd7, 0x00, 0x15);
}

void markDestructive(QAbstractButton& button, const QString& symbolName)
{
    QPalette palette = button.palette();
    const QColor red = destructiveColor(palette);
    for (const auto group : {QPalette::Active, QPalette::Inactive})
        palette.setColor(group, QPalette::ButtonText, red);
    button.setPalette(palette);
    if (!symbolName.isEmpty())
        button.setIcon(symbolIcon(symbolName, red));
}

} // namespace calmcove
