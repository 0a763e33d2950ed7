#pragma once

// The library banner of the panel: shown only while the track library is not ready and
// the default album is selected, with the icon, colour, title, detail and notice of the
// library's state and a "Retry" for the states a retry can help. No widgets. Main thread
// only.

#include "panelitems.h"

#include <QObject>
#include <QPointer>

namespace calmcove {

class AlbumStore;
class AudioPackStore;

class LibraryStatusPresenter : public QObject
{
    Q_OBJECT
public:
    // Both must outlive the presenter.
    LibraryStatusPresenter(AudioPackStore& audioPackStore, AlbumStore& albumStore,
                           QObject* parent = nullptr);

    bool isVisible() const;
    QString symbol() const;
    BannerTone tone() const;
    QString title() const;
    QString detail() const;
    // Empty when the state has no notice.
    QString notice() const;
    bool showsRetry() const;
    // Installs the checked update when one can be downloaded, else the latest pack.
    void retry();

Q_SIGNALS:
    void changed();

private:
    AudioPackStore* m_audioPackStore;
    AlbumStore* m_albumStore;
};

} // namespace calmcove
