#include "nowplayingpresenter.h"

#include "albums/albumstore.h"
#include "playback/audiocontroller.h"

namespace calmcove {

NowPlayingPresenter::NowPlayingPresenter(AudioController& controller, AlbumStore& albumStore,
                                         QObject* parent)
    : QObject(parent), m_controller(&controller), m_albumStore(&albumStore)
{
    const auto header = [this] { Q_EMIT headerChanged(); };
    connect(&controller, &AudioController::currentTrackChanged, this, header);
    connect(&controller, &AudioController::selectedMoodChanged, this, header);
    connect(&controller, &AudioController::selectedKindChanged, this, header);
    connect(&albumStore, &AlbumStore::selectedAlbumIDChanged, this, header);
    connect(&albumStore, &AlbumStore::importedAlbumsChanged, this, header);
    connect(&albumStore, &AlbumStore::builtInAlbumChanged, this, header);
    connect(&controller, &AudioController::playbackStateDidChange, this, [this] {
        Q_EMIT headerChanged();
        Q_EMIT transportChanged();
    });
    connect(&controller, &AudioController::shuffleEnabledChanged, this,
            &NowPlayingPresenter::transportChanged);
    connect(&controller, &AudioController::progressChanged, this,
            &NowPlayingPresenter::clockChanged);
    connect(&controller, &AudioController::currentTimeChanged, this,
            &NowPlayingPresenter::clockChanged);
    connect(&controller, &AudioController::currentTrackChanged, this,
            &NowPlayingPresenter::clockChanged);
    connect(&controller, &AudioController::sleepTimeRemainingChanged, this,
            &NowPlayingPresenter::sleepChanged);
    connect(&controller, &AudioController::volumeChanged, this,
            &NowPlayingPresenter::volumeChanged);
}

AlbumArtwork NowPlayingPresenter::artwork() const
{
    return m_albumStore ? m_albumStore->selectedAlbum().artwork : AlbumArtwork{NoArtwork{}};
}

QString NowPlayingPresenter::trackTitle() const
{
    return m_controller ? m_controller->currentTrack().title : QString();
}

QString NowPlayingPresenter::albumName() const
{
    return m_albumStore ? m_albumStore->selectedAlbum().name : QString();
}

QString NowPlayingPresenter::badgeText() const
{
    return m_controller && m_controller->isPlaying() ? QStringLiteral("Playing")
                                                     : QStringLiteral("Paused");
}

bool NowPlayingPresenter::showsFilterButtons() const
{
    return m_albumStore && m_albumStore->selectedAlbum().isBuiltIn;
}

PanelEntry NowPlayingPresenter::moodButton() const
{
    const Mood mood = m_controller ? m_controller->selectedMood() : Mood::focus;
    return {QStringLiteral("Mood"), rawValue(mood), symbolName(mood)};
}

PanelEntry NowPlayingPresenter::kindButton() const
{
    const CalmKind kind = m_controller ? m_controller->selectedKind() : CalmKind::all;
    return {QStringLiteral("Kind"), rawValue(kind), symbolName(kind)};
}

QList<PanelEntry> NowPlayingPresenter::moodOptions() const
{
    QList<PanelEntry> options;
    for (const Mood mood : allMoods)
        options.append({rawValue(mood), subtitle(mood), symbolName(mood),
                        m_controller && m_controller->selectedMood() == mood});
    return options;
}

QList<PanelEntry> NowPlayingPresenter::kindOptions() const
{
    QList<PanelEntry> options;
    for (const CalmKind kind : allKinds)
        options.append({rawValue(kind), subtitle(kind), symbolName(kind),
                        m_controller && m_controller->selectedKind() == kind});
    return options;
}

void NowPlayingPresenter::chooseMood(int index)
{
    if (m_controller && index >= 0 && index < int(allMoods.size()))
        m_controller->selectMood(allMoods[size_t(index)]);
}

void NowPlayingPresenter::chooseKind(int index)
{
    if (m_controller && index >= 0 && index < int(allKinds.size()))
        m_controller->selectKind(allKinds[size_t(index)]);
}

QString NowPlayingPresenter::playPauseTitle() const
{
    return m_controller && m_controller->isPlaying() ? QStringLiteral("Pause")
                                                     : QStringLiteral("Play");
}

QString NowPlayingPresenter::playPauseSymbol() const
{
    return m_controller && m_controller->isPlaying() ? QStringLiteral("pause.fill")
                                                     : QStringLiteral("play.fill");
}

bool NowPlayingPresenter::shuffleEnabled() const
{
    return m_controller && m_controller->shuffleEnabled();
}

QString NowPlayingPresenter::shuffleCaption() const
{
    return shuffleEnabled() ? QStringLiteral("On") : QStringLiteral("Off");
}

QString NowPlayingPresenter::shuffleHelp() const
{
    return shuffleEnabled() ? QStringLiteral("Disable shuffle") : QStringLiteral("Enable shuffle");
}

void NowPlayingPresenter::previous()
{
    if (m_controller)
        m_controller->previous();
}

void NowPlayingPresenter::togglePlayPause()
{
    if (m_controller)
        m_controller->togglePlayPause();
}

void NowPlayingPresenter::next()
{
    if (m_controller)
        m_controller->next();
}

void NowPlayingPresenter::toggleShuffle()
{
    // The player stores the new value under "shuffleEnabled" itself.
    if (m_controller)
        m_controller->setShuffleEnabled(!m_controller->shuffleEnabled());
}

void NowPlayingPresenter::stop()
{
    if (m_controller)
        m_controller->stop();
}

double NowPlayingPresenter::progress() const
{
    return m_controller ? m_controller->progress() : 0.0;
}

QString NowPlayingPresenter::displayTime() const
{
    return m_controller ? m_controller->displayTime() : QString();
}

bool NowPlayingPresenter::showsSleepRemaining() const
{
    return m_controller && m_controller->sleepTimeRemaining() > 0;
}

QString NowPlayingPresenter::sleepRemainingText() const
{
    return showsSleepRemaining() ? formatTime(m_controller->sleepTimeRemaining()) : QString();
}

void NowPlayingPresenter::seek(double progress)
{
    if (m_controller)
        m_controller->seek(progress);
}

double NowPlayingPresenter::volume() const
{
    return m_controller ? m_controller->volume() : 0.0;
}

QString NowPlayingPresenter::volumeText() const
{
    return QString::number(static_cast<int>(volume() * 100)) + QLatin1Char('%');
}

void NowPlayingPresenter::setVolume(double volume)
{
    if (m_controller)
        m_controller->setVolume(volume);
}

} // namespace calmcove
