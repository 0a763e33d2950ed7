#include "librarystatuspresenter.h"

#include "albums/albumstore.h"
#include "library/audiopackstore.h"

namespace calmcove {

using Kind = AudioPackStatus::Kind;

LibraryStatusPresenter::LibraryStatusPresenter(AudioPackStore& audioPackStore,
                                               AlbumStore& albumStore, QObject* parent)
    : QObject(parent), m_audioPackStore(&audioPackStore), m_albumStore(&albumStore)
{
    const auto changed = [this] { Q_EMIT this->changed(); };
    connect(&audioPackStore, &AudioPackStore::statusChanged, this, changed);
    connect(&audioPackStore, &AudioPackStore::statusTextsChanged, this, changed);
    connect(&audioPackStore, &AudioPackStore::fullLibraryIsInstalledChanged, this, changed);
    connect(&albumStore, &AlbumStore::selectedAlbumIDChanged, this, changed);
    connect(&albumStore, &AlbumStore::importedAlbumsChanged, this, changed);
}

bool LibraryStatusPresenter::isVisible() const
{
    return m_audioPackStore && m_albumStore && m_audioPackStore->status().kind != Kind::ready &&
           m_albumStore->selectedAlbum().isBuiltIn;
}

QString LibraryStatusPresenter::symbol() const
{
    switch (m_audioPackStore ? m_audioPackStore->status().kind : Kind::notInstalled) {
    case Kind::failed:
        return QStringLiteral("exclamationmark.icloud");
    case Kind::ready:
        return QStringLiteral("checkmark.icloud");
    case Kind::waitingForNetwork:
        return QStringLiteral("wifi.exclamationmark");
    default:
        return QStringLiteral("icloud.and.arrow.down");
    }
}

BannerTone LibraryStatusPresenter::tone() const
{
    switch (m_audioPackStore ? m_audioPackStore->status().kind : Kind::notInstalled) {
    case Kind::failed:
        return BannerTone::red;
    case Kind::ready:
        return BannerTone::green;
    case Kind::waitingForNetwork:
        return BannerTone::orange;
    default:
        return BannerTone::blue;
    }
}

QString LibraryStatusPresenter::title() const
{
    return m_audioPackStore ? m_audioPackStore->statusTitle() : QString();
}

QString LibraryStatusPresenter::detail() const
{
    return m_audioPackStore ? m_audioPackStore->statusDetail() : QString();
}

QString LibraryStatusPresenter::notice() const
{
    if (!m_audioPackStore)
        return {};
    const bool full = m_audioPackStore->fullLibraryIsInstalled();
    switch (m_audioPackStore->status().kind) {
    case Kind::waitingForNetwork:
        return full ? QStringLiteral(
                          "Calmcove will continue the new tracks update when the network returns.")
                    : QStringLiteral("Starter tracks play now. Calmcove will continue the full "
                                     "library when the network returns.");
    case Kind::downloading:
    case Kind::verifying:
    case Kind::checking:
    case Kind::installing:
        return full ? QStringLiteral(
                          "New tracks are updating in the background. Available tracks still play.")
                    : QStringLiteral(
                          "Starter tracks play now. The full library unlocks track by track.");
    default:
        return {};
    }
}

bool LibraryStatusPresenter::showsRetry() const
{
    if (!m_audioPackStore)
        return false;
    const Kind kind = m_audioPackStore->status().kind;
    return kind == Kind::waitingForNetwork || kind == Kind::failed;
}

void LibraryStatusPresenter::retry()
{
    if (!m_audioPackStore)
        return;
    // Left to run: the store ends its tasks with itself.
    if (m_audioPackStore->canDownloadCheckedTrackUpdate())
        m_audioPackStore->installCheckedTrackUpdate();
    else
        m_audioPackStore->installLatestPackIfNeeded(false);
}

} // namespace calmcove
