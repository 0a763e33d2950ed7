#include "panelmenupresenter.h"

#include "albums/albumstore.h"
#include "library/audiopackstore.h"
#include "playback/audiocontroller.h"

namespace calmcove {
namespace {

constexpr int timerMinutes[] = {10, 25, 45};

} // namespace

PanelMenuPresenter::PanelMenuPresenter(AudioController& controller, AlbumStore& albumStore,
                                       AudioPackStore& audioPackStore, QString websiteURL,
                                       QString appVersion, QObject* parent)
    : QObject(parent), m_controller(&controller), m_albumStore(&albumStore),
      m_audioPackStore(&audioPackStore), m_websiteURL(std::move(websiteURL)),
      m_appVersion(std::move(appVersion))
{
    const auto albums = [this] {
        Q_EMIT albumsChanged();
        Q_EMIT songsChanged();
    };
    connect(&albumStore, &AlbumStore::selectedAlbumIDChanged, this, albums);
    connect(&albumStore, &AlbumStore::importedAlbumsChanged, this, albums);
    connect(&albumStore, &AlbumStore::builtInAlbumChanged, this, albums);
    const auto songs = [this] { Q_EMIT songsChanged(); };
    connect(&controller, &AudioController::currentTrackChanged, this, songs);
    connect(&controller, &AudioController::selectedMoodChanged, this, songs);
    connect(&controller, &AudioController::selectedKindChanged, this, songs);
    connect(&controller, &AudioController::sleepTimeRemainingChanged, this,
            &PanelMenuPresenter::timerChanged);
    const auto library = [this] {
        Q_EMIT libraryChanged();
        Q_EMIT songsChanged();
    };
    connect(&audioPackStore, &AudioPackStore::statusChanged, this, library);
    connect(&audioPackStore, &AudioPackStore::progressChanged, this, songs);
}

QString PanelMenuPresenter::albumValue() const
{
    return m_albumStore ? m_albumStore->selectedAlbum().name : QString();
}

QList<PanelEntry> PanelMenuPresenter::albumEntries() const
{
    QList<PanelEntry> entries;
    if (!m_albumStore)
        return entries;
    const QString selected = m_albumStore->selectedAlbum().id;
    for (const CalmAlbum& album : m_albumStore->albums()) {
        const bool isSelected = album.id == selected;
        entries.append({album.name,
                        {},
                        isSelected ? QStringLiteral("checkmark.circle.fill") : QString(),
                        isSelected});
    }
    return entries;
}

void PanelMenuPresenter::chooseAlbum(int index)
{
    if (!m_albumStore || !m_controller)
        return;
    const QList<CalmAlbum> albums = m_albumStore->albums();
    if (index >= 0 && index < albums.size())
        m_controller->selectAlbum(albums[index]);
}

PanelEntry PanelMenuPresenter::manageAlbumsEntry()
{
    return {QStringLiteral("Manage albums..."), {}, QStringLiteral("rectangle.stack.badge.plus")};
}

QString PanelMenuPresenter::songsValue() const
{
    const qsizetype count = m_controller ? m_controller->filteredTracks().size() : 0;
    return QString::number(count) + QStringLiteral(" songs");
}

bool PanelMenuPresenter::libraryIsBusy() const
{
    if (!m_audioPackStore)
        return false;
    return m_audioPackStore->status().isBusy() ||
           m_audioPackStore->status().kind == AudioPackStatus::Kind::waitingForNetwork;
}

QList<PanelEntry> PanelMenuPresenter::songEntries() const
{
    QList<PanelEntry> entries;
    if (!m_controller || !m_audioPackStore)
        return entries;
    const bool busy = libraryIsBusy();
    const QString current = m_controller->currentTrack().id;
    for (const CalmTrack& track : m_controller->filteredTracks()) {
        PanelEntry entry{track.title, {}, {}};
        if (track.id == current) {
            entry.symbol = QStringLiteral("checkmark.circle.fill");
            entry.isSelected = true;
        } else if (m_audioPackStore->isTrackAvailable(track)) {
            entry.symbol = QStringLiteral("music.note");
        } else {
            entry.symbol = QStringLiteral("icloud.and.arrow.down");
            entry.isEnabled = !busy;
        }
        entries.append(entry);
    }
    return entries;
}

void PanelMenuPresenter::chooseSong(int index)
{
    if (!m_controller)
        return;
    const QList<CalmTrack> tracks = m_controller->filteredTracks();
    if (index < 0 || index >= tracks.size())
        return;
    // The player starts the library install itself for a track that has no file yet.
    const QList<PanelEntry> entries = songEntries();
    if (entries[index].isEnabled)
        m_controller->select(tracks[index]);
}

QString PanelMenuPresenter::noSongsText()
{
    return QStringLiteral("No songs for this album filter");
}

std::optional<PanelEntry> PanelMenuPresenter::cloudTracksEntry() const
{
    if (!libraryIsBusy())
        return std::nullopt;
    return PanelEntry{QStringLiteral("Cloud tracks unlock after download"),
                      {},
                      QStringLiteral("icloud.and.arrow.down"),
                      false,
                      false};
}

QString PanelMenuPresenter::timerValue() const
{
    if (m_controller && m_controller->sleepTimeRemaining() > 0)
        return formatTime(m_controller->sleepTimeRemaining());
    return QStringLiteral("Off");
}

QList<PanelEntry> PanelMenuPresenter::timerEntries()
{
    QList<PanelEntry> entries;
    for (const int minutes : timerMinutes)
        entries.append({QString::number(minutes) + QStringLiteral(" minutes"), {}, {}});
    return entries;
}

QString PanelMenuPresenter::cancelTimerTitle()
{
    return QStringLiteral("Cancel timer");
}

void PanelMenuPresenter::chooseTimer(int index)
{
    if (!m_controller || index < 0 || index >= int(std::size(timerMinutes)))
        return;
    m_controller->setSleepMinutes(timerMinutes[index]);
    m_controller->startSleepTimer();
}

void PanelMenuPresenter::cancelTimer()
{
    if (m_controller)
        m_controller->cancelSleepTimer();
}

bool PanelMenuPresenter::repairEnabled() const
{
    return m_audioPackStore && !m_audioPackStore->status().isBusy();
}

void PanelMenuPresenter::repairLibrary()
{
    // Left to run: the store ends its tasks with itself.
    if (repairEnabled())
        m_audioPackStore->installLatestPackIfNeeded(false);
}

QString PanelMenuPresenter::versionText() const
{
    return QStringLiteral("Direct version ") +
           (m_appVersion.isEmpty() ? QStringLiteral("1.0") : m_appVersion);
}

QList<HelpLink> PanelMenuPresenter::helpLinks() const
{
    QString site = m_websiteURL;
    while (site.endsWith(QLatin1Char('/')))
        site.chop(1);
    if (site.isEmpty())
        return {};
    return {{QStringLiteral("Privacy Policy"), QUrl(site + QStringLiteral("/privacy"))},
            {QStringLiteral("Terms of Use"), QUrl(site + QStringLiteral("/terms"))},
            {QStringLiteral("Support"), QUrl(site + QStringLiteral("/support"))}};
}

} // namespace calmcove
