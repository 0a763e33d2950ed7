#pragma once

// An album's artwork in a rounded square of a fixed size: the named resource image, the
// picture file, or the "music.note" symbol on a neutral background when there is none or
// the file cannot be read. Used by the player panel and the album manager.

#include "model/calmtrack.h"

#include <QPixmap>
#include <QWidget>

namespace calmcove {

class AlbumArtworkView : public QWidget
{
    Q_OBJECT
public:
    explicit AlbumArtworkView(int size, QWidget* parent = nullptr);

    void setArtwork(const AlbumArtwork& artwork);
    const AlbumArtwork& artwork() const { return m_artwork; }
    // Whether a picture is shown rather than the placeholder symbol.
    bool showsPicture() const { return !m_picture.isNull(); }

    QSize sizeHint() const override { return {m_size, m_size}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_size;
    AlbumArtwork m_artwork = NoArtwork{};
    QPixmap m_picture;
};

} // namespace calmcove
