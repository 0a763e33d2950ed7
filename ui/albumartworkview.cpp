#include "albumartworkview.h"

#include "platform/apppaths.h"
#include "symbols.h"

#include <QImageReader>
#include <QPainter>
#include <QPainterPath>

namespace calmcove {
namespace {

// A resource artwork is rendered to share/calmcove/<name>.png at build time.
QString picturePath(const AlbumArtwork& artwork)
{
    if (const auto* asset = std::get_if<AssetArtwork>(&artwork))
        return AppPaths::resourcePath(asset->name + QStringLiteral(".png"));
    if (const auto* file = std::get_if<FileArtwork>(&artwork))
        return file->path;
    return {};
}

} // namespace

AlbumArtworkView::AlbumArtworkView(int size, QWidget* parent) : QWidget(parent), m_size(size)
{
    setFixedSize(size, size);
}

void AlbumArtworkView::setArtwork(const AlbumArtwork& artwork)
{
    if (artwork == m_artwork && (std::holds_alternative<NoArtwork>(artwork) || showsPicture()))
        return;
    m_artwork = artwork;
    m_picture = {};
    const QString path = picturePath(artwork);
    if (!path.isEmpty()) {
        // Decoded at the size shown (on a 2x screen twice that), not at the file's size.
        QImageReader reader(path);
        const int device = qCeil(m_size * devicePixelRatioF());
        const QSize original = reader.size();
        if (original.isValid())
            reader.setScaledSize(original.scaled(device, device, Qt::KeepAspectRatioByExpanding));
        const QImage image = reader.read();
        if (!image.isNull()) {
            m_picture = QPixmap::fromImage(image);
            m_picture.setDevicePixelRatio(devicePixelRatioF());
        }
    }
    update();
}

void AlbumArtworkView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF bounds = rect();
    QPainterPath clip;
    clip.addRoundedRect(bounds, m_size * 0.18, m_size * 0.18);
    painter.setClipPath(clip);
    if (!m_picture.isNull()) {
        const QSizeF shown = m_picture.deviceIndependentSize();
        const QRectF source((shown.width() - bounds.width()) / 2,
                            (shown.height() - bounds.height()) / 2, bounds.width(),
                            bounds.height());
        painter.drawPixmap(bounds, m_picture,
                           QRectF(source.topLeft() * m_picture.devicePixelRatio(),
                                  source.size() * m_picture.devicePixelRatio()));
        return;
    }
    QColor background = palette().color(QPalette::WindowText);
    background.setAlphaF(0.12f);
    painter.fillPath(clip, background);
    const int symbolSize = m_size / 2;
    ownSymbolIcon(QStringLiteral("music.note"))
        .paint(&painter,
               QRect((m_size - symbolSize) / 2, (m_size - symbolSize) / 2, symbolSize, symbolSize));
}

} // namespace calmcove
