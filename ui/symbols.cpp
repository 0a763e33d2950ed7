#include "symbols.h"

#include <QAbstractButton>
#include <QApplication>
#include <QIconEngine>
#include <QPainter>
#include <QPalette>
#include <QPixmapCache>
#include <QSvgRenderer>

namespace calmcove {
namespace {

struct SymbolRow
{
    const char* symbol;
    const char* themeName; // empty: no theme icon fits
    bool ownSvg = true;    // false: the theme icon alone (Adwaita is installed with us)
};

// Theme names only where the freedesktop icon naming has the same meaning.
constexpr SymbolRow symbolTable[] = {
    {"waveform", ""},
    {"play.fill", "media-playback-start"},
    {"pause.fill", "media-playback-pause"},
    {"stop.fill", "media-playback-stop"},
    {"backward.fill", "media-skip-backward"},
    {"forward.fill", "media-skip-forward"},
    {"shuffle", "media-playlist-shuffle"},
    {"timer", ""},
    {"speaker.wave.2.fill", "audio-volume-medium"},
    {"exclamationmark.icloud", ""},
    {"checkmark.icloud", ""},
    {"wifi.exclamationmark", ""},
    {"icloud.and.arrow.down", ""},
    {"arrow.clockwise.icloud", ""},
    {"rectangle.stack.fill", ""},
    {"rectangle.stack.badge.plus", ""},
    {"checkmark.circle.fill", ""},
    {"xmark.circle.fill", "edit-clear"},
    {"questionmark.circle.fill", "help-about"},
    {"music.note", "audio-x-generic"},
    {"music.note.list", ""},
    {"keyboard", "input-keyboard"},
    {"slider.horizontal.3", ""},
    {"arrow.down.circle", ""},
    {"arrow.up.right", ""},
    {"power", "application-exit"},
    {"chevron.down", "go-down"},
    {"scope", ""},
    {"cup.and.saucer.fill", ""},
    {"cloud.rain.fill", ""},
    {"moon.stars.fill", ""},
    {"bed.double.fill", ""},
    {"bolt.fill", ""},
    {"circle.grid.2x2.fill", ""},
    {"record.circle", ""},
    {"sparkles", ""},
    {"car.fill", ""},
    // The album manager's actions, drawn from the theme.
    {"plus", "list-add-symbolic", false},
    {"folder.badge.plus", "folder-new-symbolic", false},
    {"link.badge.plus", "insert-link-symbolic", false},
    {"link", "insert-link-symbolic", false},
    {"questionmark.circle", "help-about-symbolic", false},
    {"photo", "image-x-generic-symbolic", false},
    {"xmark.circle", "edit-clear-symbolic", false},
    {"trash", "user-trash-symbolic", false},
    {"lock.fill", "changes-prevent-symbolic", false},
    {"square.and.arrow.down", "folder-download-symbolic", false},
    {"clock", "document-open-recent-symbolic", false},
    {"checkmark.circle", "object-select-symbolic", false},
    {"exclamationmark.triangle", "dialog-warning-symbolic", false},
};

const SymbolRow* findRow(const QString& symbol)
{
    for (const SymbolRow& row : symbolTable) {
        if (symbol == QLatin1String(row.symbol))
            return &row;
    }
    return nullptr;
}

// The theme icon's shape in `colour` at the usual sizes, faded when disabled.
QIcon tintedThemeIcon(const QString& themeName, const QColor& colour)
{
    if (QIcon::themeName().isEmpty() || QIcon::themeName() == QLatin1String("hicolor"))
        QIcon::setThemeName(QStringLiteral("Adwaita"));
    const QIcon source = QIcon::fromTheme(themeName);
    if (source.isNull())
        return {};
    QIcon tinted;
    for (const int side : {16, 24, 32, 48, 64}) {
        QPixmap pixmap = source.pixmap(side, side);
        QPainter painter(&pixmap);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(pixmap.rect(), colour);
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

// Renders the SVG's shape in one colour at the exact device size.
QImage renderGlyph(const QString& path, QSize deviceSize, const QColor& colour)
{
    QImage image(deviceSize, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QSvgRenderer renderer(path);
    if (!renderer.isValid())
        return image;
    QPainter painter(&image);
    renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(deviceSize)));
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(image.rect(), colour);
    return image;
}

// Draws our SVG at whatever size and scale it is asked for, tinted by the palette then.
class TintedSvgEngine : public QIconEngine
{
public:
    TintedSvgEngine(QString path, QColor colour) : m_path(std::move(path)), m_colour(colour) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override
    {
        const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
        QPixmap pixmap = scaledPixmap(rect.size() * ratio, mode, state, ratio);
        painter->drawPixmap(rect, pixmap);
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        return scaledPixmap(size, mode, state, 1.0);
    }

    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State, qreal scale) override
    {
        const QPalette palette = QApplication::palette();
        QColor colour = palette.color(
            mode == QIcon::Disabled ? QPalette::Disabled : QPalette::Active,
            mode == QIcon::Selected ? QPalette::HighlightedText : QPalette::WindowText);
        if (m_colour.isValid())
            colour = m_colour;
        const QSize deviceSize = size;
        const QString key = QStringLiteral("calmcove-symbol:%1:%2x%3:%4")
                                .arg(m_path)
                                .arg(deviceSize.width())
                                .arg(deviceSize.height())
                                .arg(colour.rgba());
        QPixmap pixmap;
        if (!QPixmapCache::find(key, &pixmap)) {
            pixmap = QPixmap::fromImage(renderGlyph(m_path, deviceSize, colour));
            QPixmapCache::insert(key, pixmap);
        }
        pixmap.setDevicePixelRatio(scale);
        return pixmap;
    }

    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override { return size; }
    QIconEngine* clone() const override { return new TintedSvgEngine(m_path, m_colour); }
    QString key() const override { return QStringLiteral("calmcove-tinted-svg"); }

private:
    QString m_path;
    QColor m_colour; // invalid: the palette's
};

} // namespace

QStringList symbolNames()
{
    QStringList names;
    for (const SymbolRow& row : symbolTable) {
        if (row.ownSvg)
            names.append(QString::fromLatin1(row.symbol));
    }
    return names;
}

QString symbolThemeName(const QString& symbol)
{
    const SymbolRow* row = findRow(symbol);
    return row ? QString::fromLatin1(row->themeName) : QString();
}

QString symbolResourcePath(const QString& symbol)
{
    return QStringLiteral(":/symbols/") + symbol + QStringLiteral(".svg");
}

QIcon ownSymbolIcon(const QString& symbol)
{
    const SymbolRow* row = findRow(symbol);
    if (!row || !row->ownSvg)
        return {};
    return QIcon(new TintedSvgEngine(symbolResourcePath(symbol), QColor()));
}

QIcon symbolIcon(const QString& symbol, const QColor& colour)
{
    const SymbolRow* row = findRow(symbol);
    if (!row)
        return {};
    if (!row->ownSvg)
        return tintedThemeIcon(QString::fromLatin1(row->themeName), colour);
    return QIcon(new TintedSvgEngine(symbolResourcePath(symbol), colour));
}

QIcon symbolIcon(const QString& symbol)
{
    const SymbolRow* row = findRow(symbol);
    if (!row)
        return {};
    const QString themeName = QString::fromLatin1(row->themeName);
    if (!row->ownSvg)
        return symbolIcon(symbol, QApplication::palette().color(QPalette::WindowText));
    if (!themeName.isEmpty() && QIcon::hasThemeIcon(themeName))
        return QIcon::fromTheme(themeName);
    return ownSymbolIcon(symbol);
}

QIcon traySymbolIcon(const QString& symbol, bool attention)
{
    const SymbolRow* row = findRow(symbol);
    if (!row || !row->ownSvg)
        return {};
    QIcon icon;
    const QString path = symbolResourcePath(symbol);
    for (const int size : {16, 22, 24, 32, 44, 48, 64}) {
        // The glyph inset by the rim's width; the rim is the glyph grown by one pixel in
        // every direction (two at the larger sizes).
        const int rim = size >= 32 ? 2 : 1;
        const QSize glyphSize(size - 2 * rim, size - 2 * rim);
        const QImage dark = renderGlyph(path, glyphSize, QColor(20, 20, 20, 200));
        const QImage light = renderGlyph(path, glyphSize, QColor(250, 250, 250));
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        for (int dx = -rim; dx <= rim; ++dx) {
            for (int dy = -rim; dy <= rim; ++dy) {
                if (dx != 0 || dy != 0)
                    painter.drawImage(rim + dx, rim + dy, dark);
            }
        }
        painter.drawImage(rim, rim, light);
        if (attention) {
            const qreal dot = size * 0.34;
            painter.setRenderHint(QPainter::Antialiasing);
            painter.setPen(QPen(QColor(20, 20, 20, 200), rim));
            painter.setBrush(QColor(0xff, 0x9f, 0x0a));
            painter.drawEllipse(QRectF(size - dot - rim / 2.0, rim / 2.0, dot, dot));
        }
        painter.end();
        icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}

QColor destructiveColor(const QPalette& palette)
{
    return palette.color(QPalette::Window).lightness() < 128 ? QColor(0xff, 0x6b, 0x61)
                                                             : QColor(0xd7, 0x00, 0x15);
}

void markDestructive(QAbstractButton& button, const QString& symbol)
{
    QPalette palette = button.palette();
    const QColor red = destructiveColor(palette);
    for (const auto group : {QPalette::Active, QPalette::Inactive})
        palette.setColor(group, QPalette::ButtonText, red);
    button.setPalette(palette);
    if (!symbol.isEmpty())
        button.setIcon(symbolIcon(symbol, red));
}

} // namespace calmcove
