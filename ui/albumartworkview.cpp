#include "albumartworkview.h"

#include "platform/apppaths.h"

#include <QDateTime>
#include <QFileInfo>
#include <QImageReader>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmapCache>

namespace calmcove {

namespace {

QString artworkFile(const AlbumArtwork& artwork)
{
    if (const auto* file = std::get_if<FileArtwork>(&artwork))
        return file->path;
    if (const auto* asset = std::get_if<AssetArtwork>(&artwork))
        return AppPaths::resourcePath(asset->name + QStringLiteral(".png"));
    return {};
}

QPixmap placeholder(int pixels)
{
    QPixmap result(pixels, pixels);
    result.fill(Qt::transparent);
    QPainter painter(&result);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient gradient(0, 0, pixels, pixels);
    gradient.setColorAt(0, QColor(0x7d, 0x9c, 0xb8));
    gradient.setColorAt(1, QColor(0x45, 0x5a, 0x78));
    painter.fillRect(result.rect(), gradient);
    painter.setPen(QColor(255, 255, 255, 200));
    QFont font = painter.font();
    font.setPixelSize(std::max(8, pixels * 9 / 20));
    painter.setFont(font);
    painter.drawText(result.rect(), Qt::AlignCenter, QStringLiteral("\u266B"));
    return result;
}

QPixmap loadSquare(const QString& path, int pixels)
{
    QImageReader reader(path);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (size.isValid()) {
        // Decode straight to about the size shown: large covers stay cheap.
        reader.setScaledSize(size.scaled(pixels, pixels, Qt::KeepAspectRatioByExpanding));
    }
    const QImage image = reader.read();
    if (image.isNull())
        return {};
    const QImage square =
        image.scaled(pixels, pixels, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
    return QPixmap::fromImage(
        square.copy((square.width() - pixels) / 2, (square.height() - pixels) / 2, pixels, pixels));
}

} // namespace

AlbumArtworkView::AlbumArtworkView(QWidget* parent) : QWidget(parent)
{
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

void AlbumArtworkView::setArtwork(const AlbumArtwork& artwork)
{
    m_artwork = artwork;
    update();
}

void AlbumArtworkView::setHighlighted(bool highlighted)
{
    if (highlighted == m_highlighted)
        return;
    m_highlighted = highlighted;
    update();
}

QPixmap AlbumArtworkView::pixmap(const AlbumArtwork& artwork, int side, qreal devicePixelRatio)
{
    const int pixels = std::max(1, qRound(side * devicePixelRatio));
    const QString path = artworkFile(artwork);
    const QFileInfo info(path);
    // A replaced cover keeps its file name, so the key includes the modification time.
    const QString key = QStringLiteral("calmcove-artwork:%1:%2:%3")
                            .arg(path)
                            .arg(info.exists() ? info.lastModified().toMSecsSinceEpoch() : 0)
                            .arg(pixels);
    QPixmap result;
    if (!QPixmapCache::find(key, &result)) {
        if (!path.isEmpty() && info.isFile())
            result = loadSquare(path, pixels);
        if (result.isNull())
            result = placeholder(pixels);
        QPixmapCache::insert(key, result);
    }
    result.setDevicePixelRatio(devicePixelRatio);
    return result;
}

void AlbumArtworkView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const int side = std::min(width(), height());
    const QRectF square((width() - side) / 2.0, (height() - side) / 2.0, side, side);
    QPainterPath clip;
    const qreal radius = side * 0.08;
    clip.addRoundedRect(square, radius, radius);
    painter.setClipPath(clip);
    painter.drawPixmap(square.topLeft(), pixmap(m_artwork, side, devicePixelRatioF()));
    painter.setClipping(false);
    if (m_highlighted) {
        painter.setPen(QPen(palette().color(QPalette::Highlight), 3));
        painter.drawRoundedRect(square.adjusted(1.5, 1.5, -1.5, -1.5), radius, radius);
    }
}

} // namespace calmcove
