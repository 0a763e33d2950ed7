#pragma once

// What the panel's upper half shows and does: the header (artwork, title, album, badge,
// the Mood and Kind filters of the default album), the transport buttons, the progress
// with its clock and sleep remainder, and the volume. Every text comes from the player
// and the album store; every action is a call on the player. No widgets: the panel binds
// to it, and tests read it directly. Main thread only.

#include "model/calmtrack.h"
#include "panelitems.h"

#include <QList>
#include <QObject>
#include <QPointer>

namespace calmcove {

class AlbumStore;
class AudioController;

class NowPlayingPresenter : public QObject
{
    Q_OBJECT
public:
    // Both must outlive the presenter.
    NowPlayingPresenter(AudioController& controller, AlbumStore& albumStore,
                        QObject* parent = nullptr);

    // ---- header
    AlbumArtwork artwork() const;
    QString trackTitle() const;
    QString albumName() const;
    // "Playing" or "Paused".
    QString badgeText() const;
    // The Mood and Kind buttons exist only for the default album.
    bool showsFilterButtons() const;
    // Title "Mood"/"Kind", value and symbol of the current choice.
    PanelEntry moodButton() const;
    PanelEntry kindButton() const;
    // Every mood (kind) in declaration order, the current one selected.
    QList<PanelEntry> moodOptions() const;
    QList<PanelEntry> kindOptions() const;
    void chooseMood(int index);
    void chooseKind(int index);

    // ---- transport
    QString playPauseTitle() const; // "Play" / "Pause"
    QString playPauseSymbol() const;
    bool shuffleEnabled() const;
    QString shuffleCaption() const; // "On" / "Off"
    QString shuffleHelp() const;    // "Disable shuffle" / "Enable shuffle"
    void previous();
    void togglePlayPause();
    void next();
    void toggleShuffle();
    void stop();

    // ---- progress and volume
    double progress() const;
    QString displayTime() const;
    bool showsSleepRemaining() const;
    QString sleepRemainingText() const;
    // Seeks when the user lets go of the slider.
    void seek(double progress);
    double volume() const;
    // The volume times 100 truncated, then "%".
    QString volumeText() const;
    void setVolume(double volume);

Q_SIGNALS:
    void headerChanged();
    void transportChanged();
    // The 0.4 s clock: progress and time only.
    void clockChanged();
    void sleepChanged();
    void volumeChanged();

private:
    AudioController* m_controller;
    AlbumStore* m_albumStore;
};

} // namespace calmcove
