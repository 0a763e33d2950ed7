#pragma once

// An album's cover, drawn square with rounded corners: the picture file, the program's
// own cover, or a calm placeholder when the album has none. Pictures are scaled once per
// size and kept in Qt's pixmap cache, so long album lists repaint without decoding again.

#include "model/calmtrack.h"

#include <QPixmap>
#include <QWidget>

namespace calmcove {

class AlbumArtworkView : public QWidget
{
    Q_OBJECT
public:
    explicit AlbumArtworkView(QWidget* parent = nullptr);

    void setArtwork(const AlbumArtwork& artwork);
    const AlbumArtwork& artwork() const { return m_artwork; }
    // Draws a highlight ring, e.g. while a picture hovers over it.
    void setHighlighted(bool highlighted);

    // The cover at `side` device-independent pixels for a screen of `devicePixelRatio`.
    static QPixmap pixmap(const AlbumArtwork& artwork, int side, qreal devicePixelRatio);

    QSize sizeHint() const override { return {120, 120}; }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override { return width; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    AlbumArtwork m_artwork = NoArtwork{};
    bool m_highlighted = false;
};

} // namespace calmcove
