#pragma once

// The player: the current track, the album, mood and kind the listener chose, whether
// audio plays and where, which track comes next, the sound settings of the mood, the
// volume, the sleep timer and the clock the interface shows. It plays a track from the
// installed library, the starter copy shipped with the program or an imported file, and
// remembers the listener's choices across launches. A track that ends by itself runs into
// the next without a gap. Main thread only.

#include "model/calmtrack.h"
#include "nowplayinginfo.h"

#include <functional>
#include <optional>
#include <QObject>
#include <QTimer>

namespace calmcove {

class AlbumSelection;
class PlaybackEngine;
class TrackAudioLibrary;
class UserDefaults;
struct AudioFileInfo;

// Where a track's audio is read from.
struct ResolvedAudio
{
    QString path;
    bool usesStarterFallback = false;
    bool operator==(const ResolvedAudio&) const = default;
};

// "m:ss" of whole seconds, minutes unbounded ("62:05"); negative times count as 0.
QString formatTime(double seconds);

class AudioController : public QObject
{
    Q_OBJECT
    Q_PROPERTY(calmcove::Mood selectedMood READ selectedMood NOTIFY selectedMoodChanged)
    Q_PROPERTY(calmcove::CalmKind selectedKind READ selectedKind NOTIFY selectedKindChanged)
    Q_PROPERTY(bool shuffleEnabled READ shuffleEnabled WRITE setShuffleEnabled NOTIFY
                   shuffleEnabledChanged)
    Q_PROPERTY(calmcove::CalmTrack currentTrack READ currentTrack NOTIFY currentTrackChanged)
    Q_PROPERTY(bool isPlaying READ isPlaying NOTIFY playbackStateDidChange)
    Q_PROPERTY(double currentTime READ currentTime NOTIFY currentTimeChanged)
    Q_PROPERTY(double progress READ progress NOTIFY progressChanged)
    Q_PROPERTY(
        double sleepMinutes READ sleepMinutes WRITE setSleepMinutes NOTIFY sleepMinutesChanged)
    Q_PROPERTY(double sleepTimeRemaining READ sleepTimeRemaining NOTIFY sleepTimeRemainingChanged)
    Q_PROPERTY(double volume READ volume WRITE setVolume NOTIFY volumeChanged)
    Q_PROPERTY(
        double playbackRate READ playbackRate WRITE setPlaybackRate NOTIFY playbackRateChanged)
    Q_PROPERTY(double lowGain READ lowGain WRITE setLowGain NOTIFY lowGainChanged)
    Q_PROPERTY(double midGain READ midGain WRITE setMidGain NOTIFY midGainChanged)
    Q_PROPERTY(double highGain READ highGain WRITE setHighGain NOTIFY highGainChanged)
    Q_PROPERTY(double reverbMix READ reverbMix WRITE setReverbMix NOTIFY reverbMixChanged)
    // The last failure to open or start audio, as printed; null once audio plays again.
    Q_PROPERTY(QString lastPlaybackError READ lastPlaybackError NOTIFY lastPlaybackErrorChanged)

public:
    // While playing, the next track is opened and scheduled behind the current one once
    // this little of the current one is left, so that the two join without a gap. Far
    // more than the engine decodes ahead, and than the main thread may be held up.
    static constexpr double prerollSeconds = 5.0;

    struct Options
    {
        // Returns an index in [0, count) for shuffle and mood draws; uniform by default.
        std::function<qsizetype(qsizetype count)> randomIndex;
        int clockIntervalMs = 400;
        int sleepTickIntervalMs = 1000;
    };

    // Restores the stored choices and the last track and opens its audio without playing.
    // The albums, the library, the engine and the settings must outlive the controller.
    AudioController(AlbumSelection& albums, TrackAudioLibrary& library, PlaybackEngine& engine,
                    UserDefaults& defaults, Options options, QObject* parent = nullptr);
    AudioController(AlbumSelection& albums, TrackAudioLibrary& library, PlaybackEngine& engine,
                    UserDefaults& defaults, QObject* parent = nullptr);
    ~AudioController() override;

    Mood selectedMood() const { return m_selectedMood; }
    CalmKind selectedKind() const { return m_selectedKind; }
    bool shuffleEnabled() const { return m_shuffleEnabled; }
    void setShuffleEnabled(bool enabled);
    const CalmTrack& currentTrack() const { return m_currentTrack; }
    bool isPlaying() const { return m_isPlaying; }
    double currentTime() const { return m_currentTime; }
    double progress() const { return m_progress; }
    QString displayTime() const;
    QString lastPlaybackError() const { return m_lastPlaybackError; }
    // The position read from the engine now, in seconds within 0…duration; unlike
    // currentTime it does not wait for the clock.
    double playbackPosition() const;

    // The tracks the mood and kind filters let through; imported albums pass unfiltered.
    QList<CalmTrack> filteredTracks() const;

    void play();
    void pause();
    // Stops and rewinds to the start of the current track.
    void stop();
    // Jumps to `fraction` (clamped to 0…1) of the current track.
    void seek(double fraction);
    void select(const CalmTrack& track);
    void selectAlbum(const CalmAlbum& album);
    void selectMood(Mood mood);
    void selectKind(CalmKind kind);
    void moveTrack(bool forward, bool autoPlay);
    // Re-checks the current track after the default album's tracks changed.
    void handleBuiltInLibraryChanged();

    // The commands every remote control shares.
    void togglePlayPause();
    void next();
    // Restarts the track after more than 4.0 s of it, else goes back one track.
    void previous();

    // Sound settings. A volume is clamped to 0…1 and stored; a non-finite one is ignored.
    double volume() const { return m_volume; }
    void setVolume(double volume);
    double playbackRate() const { return m_playbackRate; }
    void setPlaybackRate(double rate);
    double lowGain() const { return m_lowGain; }
    void setLowGain(double decibels);
    double midGain() const { return m_midGain; }
    void setMidGain(double decibels);
    double highGain() const { return m_highGain; }
    void setHighGain(double decibels);
    double reverbMix() const { return m_reverbMix; }
    void setReverbMix(double percent);
    void applyPreset(Mood mood);

    // Sleep timer: minutes chosen (0 = none) and seconds left (0 when idle).
    double sleepMinutes() const { return m_sleepMinutes; }
    void setSleepMinutes(double minutes);
    double sleepTimeRemaining() const { return m_sleepTimeRemaining; }
    void startSleepTimer();
    void cancelSleepTimer();

    // Reads the position from the engine and, near a track's end, queues the next track;
    // runs every 0.4 s by itself while playing.
    void updateClock();

    // The now-playing table as it stands; read by the desktop integration on
    // nowPlayingUpdated().
    NowPlayingInfo nowPlayingInfo() const;
    // Announces a publication of the table (nowPlayingUpdated). Called after every change
    // the desktop display must see: a track loaded without starting, play, pause, stop,
    // a seek while paused, a failed engine start, a re-check of the default album.
    void updateNowPlaying();

Q_SIGNALS:
    void selectedMoodChanged();
    void selectedKindChanged();
    void shuffleEnabledChanged();
    void currentTrackChanged();
    // Every change of isPlaying, with the new value.
    void playbackStateDidChange(bool isPlaying);
    void currentTimeChanged();
    void progressChanged();
    void sleepMinutesChanged();
    void sleepTimeRemainingChanged();
    void volumeChanged();
    void playbackRateChanged();
    void lowGainChanged();
    void midGainChanged();
    void highGainChanged();
    void reverbMixChanged();
    void lastPlaybackErrorChanged();
    void nowPlayingUpdated();
    // The position jumped within the current track: a seek, a stop, a restart.
    void positionJumped();

private:
    std::optional<ResolvedAudio> resolvedAudio(const CalmTrack& track) const;
    std::optional<QString> primaryPath(const CalmTrack& track) const;
    QList<CalmTrack> playableTracks(const QList<CalmTrack>& tracks) const;
    QList<CalmTrack> preferredPlayableTracks(const QList<CalmTrack>& tracks) const;

    void restoreCurrentTrack();
    void load(const CalmTrack& track, bool autoPlay);
    void scheduleCurrentTrack(qint64 fromFrame);
    std::function<void()> segmentCompletion(quint64 token);
    void finishSegment(quint64 token);
    qint64 currentPlaybackFrame() const;
    void showPlayerPosition();
    // The tracks a move may land on: one, or several for a shuffle draw.
    QList<CalmTrack> trackChoices(bool forward) const;
    CalmTrack pickTrack(const QList<CalmTrack>& choices);

    // The track queued behind the current one (see prerollSeconds).
    struct QueuedTrack;
    void queueNextTrackIfDue();
    // Whether the queued track is still what the end of the current one would choose;
    // takes over new details of the same track.
    bool renewQueuedTrack();
    // Drops a queued track that is no longer valid, and queues one when due.
    void refreshQueuedTrack();
    // Reschedules the current track alone, from resumeFrame.
    void dropQueuedTrack(qint64 resumeFrame);
    // When the player has run into the queued track but its predecessor's completion has
    // not arrived yet, the queued track becomes current now: listener actions apply to
    // what plays, and the track after it is queued in time.
    void catchUpWithPlayer();
    void adoptQueuedTrack();
    void sleepTimerTick();

    void setCurrentTrack(const CalmTrack& track);
    void setIsPlaying(bool playing);
    void setCurrentTime(double seconds);
    void setProgress(double progress);
    void setSleepTimeRemaining(double seconds);
    void applyGains();
    // Prints the failure on standard output and keeps it as lastPlaybackError.
    void reportPlaybackError(const QString& message);

    AlbumSelection& m_albums;
    TrackAudioLibrary& m_library;
    PlaybackEngine& m_engine;
    UserDefaults& m_defaults;
    std::function<qsizetype(qsizetype)> m_randomIndex;

    Mood m_selectedMood = Mood::focus;
    CalmKind m_selectedKind = CalmKind::all;
    bool m_shuffleEnabled = false;
    CalmTrack m_currentTrack;
    bool m_isPlaying = false;
    double m_currentTime = 0;
    double m_progress = 0;
    double m_sleepMinutes = 0;
    double m_sleepTimeRemaining = 0;
    double m_volume = 0.72;
    double m_playbackRate = 1.0;
    double m_lowGain = 2.0;
    double m_midGain = 0.0;
    double m_highGain = -1.0;
    double m_reverbMix = 12.0;
    QString m_lastPlaybackError;

    std::unique_ptr<AudioFileInfo> m_audioFile;
    // Added to the player's sample time to give the position in m_audioFile; negative
    // after the player ran on from earlier segments into the current one.
    qint64 m_startFrame = 0;
    quint64 m_lastToken = 0;     // the last token given to a segment
    quint64 m_scheduleToken = 0; // the current segment's
    std::unique_ptr<QueuedTrack> m_queued;
    // The current segment for which a track was queued, or tried to be.
    std::optional<quint64> m_queueAttemptToken;
    bool m_currentTrackUsesStarterFallback = false;
    // Set by stop() until playback starts, a seek or another track.
    bool m_stopped = false;
    QTimer m_clock;
    QTimer m_sleepTimer;
};

} // namespace calmcove
