#include "audiocontroller.h"

#include "albumselection.h"
#include "audio/soundpreset.h"
#include "model/notifyonchange.h"
#include "model/tracklibrary.h"
#include "platform/userdefaults.h"
#include "playbackengine.h"
#include "trackaudiolibrary.h"

#include <cmath>
#include <cstdio>
#include <QCoreApplication>
#include <QFileInfo>
#include <QPointer>
#include <QRandomGenerator>
#include <QScopeGuard>

namespace calmcove {

namespace {

const QString selectedMoodKey = QStringLiteral("selectedMood");
const QString selectedKindKey = QStringLiteral("selectedKind");
const QString shuffleEnabledKey = QStringLiteral("shuffleEnabled");
const QString volumeKey = QStringLiteral("volume");
const QString currentTrackIDKey = QStringLiteral("currentTrackID");
constexpr double defaultVolume = 0.72;

void printLine(const QString& line)
{
    std::fputs((line + QLatin1Char('\n')).toLocal8Bit().constData(), stdout);
    std::fflush(stdout);
}

} // namespace

struct AudioController::QueuedTrack
{
    CalmTrack track;
    AudioFileInfo file;
    bool usesStarterFallback = false;
    quint64 token = 0;
};

QString formatTime(double seconds)
{
    const qint64 whole = seconds > 0 && std::isfinite(seconds) ? qint64(seconds) : 0;
    return QStringLiteral("%1:%2").arg(whole / 60).arg(whole % 60, 2, 10, QLatin1Char('0'));
}

AudioController::AudioController(AlbumSelection& albums, TrackAudioLibrary& library,
                                 PlaybackEngine& engine, UserDefaults& defaults, QObject* parent)
    : AudioController(albums, library, engine, defaults, Options{}, parent)
{}

AudioController::AudioController(AlbumSelection& albums, TrackAudioLibrary& library,
                                 PlaybackEngine& engine, UserDefaults& defaults, Options options,
                                 QObject* parent)
    : QObject(parent), m_albums(albums), m_library(library), m_engine(engine), m_defaults(defaults),
      m_randomIndex(std::move(options.randomIndex)), m_currentTrack(TrackLibrary::tracks().first())
{
    if (!m_randomIndex)
        m_randomIndex = [](qsizetype count) {
            return qsizetype(QRandomGenerator::global()->bounded(qint64(count)));
        };

    m_selectedMood = moodFromRawValue(defaults.string(selectedMoodKey).value_or(QString()))
                         .value_or(Mood::focus);
    m_selectedKind = kindFromRawValue(defaults.string(selectedKindKey).value_or(QString()))
                         .value_or(CalmKind::all);
    m_shuffleEnabled = defaults.boolean(shuffleEnabledKey).value_or(false);
    const std::optional<double> storedVolume = defaults.number(volumeKey);
    m_volume = storedVolume && std::isfinite(*storedVolume) ? *storedVolume : defaultVolume;

    m_engine.setReverbMix(m_reverbMix);
    m_engine.setPlaybackRate(m_playbackRate);
    m_engine.setVolume(m_volume);
    applyGains();
    applyPreset(m_selectedMood);

    restoreCurrentTrack();
    load(m_currentTrack, false);

    m_clock.setInterval(options.clockIntervalMs);
    connect(&m_clock, &QTimer::timeout, this, &AudioController::updateClock);
    // The clock ticks only while playing: paused, the position moves only through
    // operations that update it themselves, and an idle player must not wake the process.
    m_sleepTimer.setInterval(options.sleepTickIntervalMs);
    connect(&m_sleepTimer, &QTimer::timeout, this, &AudioController::sleepTimerTick);
}

AudioController::~AudioController() = default;

void AudioController::setShuffleEnabled(bool enabled)
{
    m_defaults.setValue(shuffleEnabledKey, enabled);
    assignAndNotify(this, m_shuffleEnabled, enabled, &AudioController::shuffleEnabledChanged);
    refreshQueuedTrack();
}

QString AudioController::displayTime() const
{
    return formatTime(m_currentTime) + QStringLiteral(" / ") + formatTime(m_currentTrack.duration);
}

QList<CalmTrack> AudioController::filteredTracks() const
{
    const CalmAlbum album = m_albums.selectedAlbum();
    if (!album.isBuiltIn)
        return album.tracks;
    QList<CalmTrack> result;
    for (const CalmTrack& track : album.tracks) {
        if (track.moods.contains(m_selectedMood) &&
            (m_selectedKind == CalmKind::all || track.kind == m_selectedKind))
            result.append(track);
    }
    return result;
}

std::optional<ResolvedAudio> AudioController::resolvedAudio(const CalmTrack& track) const
{
    if (const auto* bundled = std::get_if<BundledAudio>(&track.source)) {
        if (auto path = m_library.localPath(bundled->resourceName))
            return ResolvedAudio{*path, false};
        if (auto path = m_library.starterPath(bundled->resourceName))
            return ResolvedAudio{*path, true};
        return std::nullopt;
    }
    const QString& path = std::get<FileAudio>(track.source).path;
    if (QFileInfo::exists(path))
        return ResolvedAudio{path, false};
    return std::nullopt;
}

std::optional<QString> AudioController::primaryPath(const CalmTrack& track) const
{
    const auto resolved = resolvedAudio(track);
    if (!resolved || resolved->usesStarterFallback)
        return std::nullopt;
    return resolved->path;
}

QList<CalmTrack> AudioController::playableTracks(const QList<CalmTrack>& tracks) const
{
    QList<CalmTrack> result;
    for (const CalmTrack& track : tracks) {
        if (resolvedAudio(track))
            result.append(track);
    }
    return result;
}

QList<CalmTrack> AudioController::preferredPlayableTracks(const QList<CalmTrack>& tracks) const
{
    QList<CalmTrack> result;
    for (const CalmTrack& track : tracks) {
        if (primaryPath(track))
            result.append(track);
    }
    return result.isEmpty() ? playableTracks(tracks) : result;
}

void AudioController::restoreCurrentTrack()
{
    const QList<CalmTrack> albumTracks = m_albums.selectedAlbum().tracks;
    QList<CalmTrack> pool = filteredTracks();
    if (pool.isEmpty())
        pool = albumTracks;
    const QList<CalmTrack> candidates = preferredPlayableTracks(pool);
    const QList<CalmTrack> albumCandidates = preferredPlayableTracks(albumTracks);

    const auto firstWithID = [](const QList<CalmTrack>& tracks, const QString& id) {
        const auto found = std::find_if(tracks.cbegin(), tracks.cend(),
                                        [&id](const CalmTrack& track) { return track.id == id; });
        return found == tracks.cend() ? std::nullopt : std::optional<CalmTrack>(*found);
    };
    if (const auto storedID = m_defaults.string(currentTrackIDKey)) {
        auto found = firstWithID(candidates, *storedID);
        if (!found)
            found = firstWithID(albumCandidates, *storedID);
        if (found) {
            setCurrentTrack(*found);
            return;
        }
    }
    if (!candidates.isEmpty())
        setCurrentTrack(candidates.first());
    else if (!albumCandidates.isEmpty())
        setCurrentTrack(albumCandidates.first());
}

void AudioController::load(const CalmTrack& track, bool autoPlay)
{
    const bool restarts = track.id == m_currentTrack.id && m_audioFile;
    const qint64 playingFrame = currentPlaybackFrame();
    m_stopped = false;
    setCurrentTrack(track);
    m_startFrame = 0;
    setCurrentTime(0);
    setProgress(0);

    if (const auto resolved = resolvedAudio(track)) {
        auto opened = m_engine.openFile(resolved->path);
        if (const auto* error = std::get_if<QString>(&opened)) {
            reportPlaybackError(QStringLiteral("Could not open ") +
                                QFileInfo(resolved->path).fileName() + QStringLiteral(": ") +
                                *error);
            // What plays goes on, but not into the track queued behind it.
            if (m_queued)
                dropQueuedTrack(playingFrame);
            return;
        }
        m_audioFile = std::make_unique<AudioFileInfo>(std::get<AudioFileInfo>(std::move(opened)));
        m_currentTrackUsesStarterFallback = resolved->usesStarterFallback;
        scheduleCurrentTrack(0);
        if (autoPlay)
            play();
        else
            updateNowPlaying();
        if (restarts)
            Q_EMIT positionJumped();
        return;
    }

    m_library.requestLatestPackIfNeeded();
    for (const CalmTrack& candidate : preferredPlayableTracks(filteredTracks())) {
        if (candidate != track) {
            load(candidate, autoPlay);
            return;
        }
    }
    const QList<CalmTrack> fallback = preferredPlayableTracks(m_albums.builtInAlbum().tracks);
    if (!fallback.isEmpty())
        load(fallback.first(), autoPlay);
}

void AudioController::scheduleCurrentTrack(qint64 fromFrame)
{
    if (!m_audioFile)
        return;
    m_queued.reset();
    m_scheduleToken = ++m_lastToken;
    m_engine.stopPlayer();
    const qint64 start = std::clamp<qint64>(fromFrame, 0, m_audioFile->lengthFrames);
    const qint64 count = m_audioFile->lengthFrames - start;
    if (count < 1) {
        if (m_isPlaying)
            moveTrack(true, true);
        return;
    }
    m_engine.scheduleSegment(*m_audioFile, start, count, segmentCompletion(m_scheduleToken));
}

std::function<void()> AudioController::segmentCompletion(quint64 token)
{
    // Runs on an audio thread; the controller may be gone by the time the main thread
    // gets to it.
    return [self = QPointer(this), token]() mutable {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self = std::move(self), token] {
                if (self)
                    self->finishSegment(token);
            },
            Qt::QueuedConnection);
    };
}

void AudioController::finishSegment(quint64 token)
{
    if (token != m_scheduleToken || !m_isPlaying)
        return;
    if (m_queued)
        adoptQueuedTrack();
    else
        moveTrack(true, true);
}

qint64 AudioController::currentPlaybackFrame() const
{
    qint64 frame = m_startFrame;
    if (m_isPlaying) {
        if (const auto played = m_engine.playerSampleTime())
            frame += *played;
    }
    return std::max<qint64>(frame, 0);
}

void AudioController::queueNextTrackIfDue()
{
    if (!m_isPlaying || !m_audioFile || m_audioFile->sampleRate <= 0 || m_queued ||
        m_queueAttemptToken == m_scheduleToken)
        return;
    const qint64 remaining = m_audioFile->lengthFrames - currentPlaybackFrame();
    if (double(remaining) > prerollSeconds * m_audioFile->sampleRate)
        return;
    // One attempt per segment: a track that cannot be opened now is left to the move at
    // the end of this one, which reports the failure.
    m_queueAttemptToken = m_scheduleToken;
    const QList<CalmTrack> choices = trackChoices(true);
    if (choices.isEmpty())
        return;
    const CalmTrack next = pickTrack(choices);
    const auto resolved = resolvedAudio(next);
    if (!resolved)
        return;
    auto opened = m_engine.openFile(resolved->path);
    const auto* file = std::get_if<AudioFileInfo>(&opened);
    if (!file || file->lengthFrames < 1)
        return;
    const quint64 token = ++m_lastToken;
    m_engine.scheduleSegment(*file, 0, file->lengthFrames, segmentCompletion(token));
    m_queued = std::make_unique<QueuedTrack>(
        QueuedTrack{next, *file, resolved->usesStarterFallback, token});
}

bool AudioController::renewQueuedTrack()
{
    const QList<CalmTrack> choices = trackChoices(true);
    const auto choice = std::find_if(choices.cbegin(), choices.cend(), [this](const CalmTrack& t) {
        return t.id == m_queued->track.id && t.albumID == m_queued->track.albumID;
    });
    if (choice == choices.cend())
        return false;
    const auto resolved = resolvedAudio(*choice);
    if (!resolved || resolved->path != m_queued->file.path ||
        resolved->usesStarterFallback != m_queued->usesStarterFallback)
        return false;
    m_queued->track = *choice; // a new title or duration of the same audio
    return true;
}

void AudioController::refreshQueuedTrack()
{
    catchUpWithPlayer();
    if (m_queued && !renewQueuedTrack())
        dropQueuedTrack(currentPlaybackFrame());
    else if (!m_queued)
        m_queueAttemptToken.reset(); // with other choices, another attempt may succeed
    queueNextTrackIfDue();
}

void AudioController::dropQueuedTrack(qint64 resumeFrame)
{
    // The player cannot drop a single segment: everything is scheduled anew, and the
    // player's fades make the seam nearly inaudible.
    m_startFrame = resumeFrame;
    scheduleCurrentTrack(resumeFrame);
    if (m_isPlaying)
        m_engine.playPlayer();
}

void AudioController::catchUpWithPlayer()
{
    if (!m_queued || !m_isPlaying)
        return;
    const auto played = m_engine.playerSampleTime();
    if (played && m_startFrame + *played >= m_audioFile->lengthFrames)
        adoptQueuedTrack();
}

void AudioController::adoptQueuedTrack()
{
    const std::unique_ptr<QueuedTrack> next = std::move(m_queued);
    const bool restarts = next->track.id == m_currentTrack.id;
    // The player's sample time runs on across segments: the new file starts where the
    // previous segment ended.
    m_startFrame -= m_audioFile->lengthFrames;
    *m_audioFile = next->file;
    m_currentTrackUsesStarterFallback = next->usesStarterFallback;
    m_scheduleToken = next->token;
    setCurrentTrack(next->track);
    showPlayerPosition();
    updateNowPlaying();
    if (restarts)
        Q_EMIT positionJumped();
    queueNextTrackIfDue();
}

void AudioController::play()
{
    // Even a failed start leaves the display showing paused rather than stopped.
    m_stopped = false;
    if (!m_audioFile)
        load(m_currentTrack, false);
    if (!m_engine.isRunning()) {
        if (const auto error = m_engine.start()) {
            reportPlaybackError(QStringLiteral("Calmcove playback failed: ") + *error);
            setIsPlaying(false);
            updateNowPlaying();
            return;
        }
    }
    if (!m_engine.isPlayerPlaying())
        m_engine.playPlayer();
    if (m_audioFile)
        assignAndNotify(this, m_lastPlaybackError, QString(),
                        &AudioController::lastPlaybackErrorChanged);
    setIsPlaying(true);
    updateNowPlaying();
    queueNextTrackIfDue();
}

void AudioController::pause()
{
    catchUpWithPlayer();
    const qint64 frame = currentPlaybackFrame();
    m_engine.pausePlayer();
    setIsPlaying(false);
    // Rescheduling from the paused frame restarts the player's count at 0, so that the
    // position after a resume is the paused frame plus what plays from then on.
    m_startFrame = frame;
    scheduleCurrentTrack(frame);
    updateClock();
    updateNowPlaying();
}

void AudioController::stop()
{
    catchUpWithPlayer();
    m_startFrame = 0;
    setCurrentTime(0);
    setProgress(0);
    m_engine.stopPlayer();
    scheduleCurrentTrack(0);
    setIsPlaying(false);
    m_stopped = true;
    updateNowPlaying();
    Q_EMIT positionJumped();
}

void AudioController::seek(double fraction)
{
    if (!m_audioFile)
        return;
    catchUpWithPlayer();
    const double clamped = std::isfinite(fraction) ? std::clamp(fraction, 0.0, 1.0) : 0.0;
    const auto target = qint64(clamped * double(m_audioFile->lengthFrames));
    const bool wasPlaying = m_isPlaying;
    const CalmTrack seekedTrack = m_currentTrack;
    m_stopped = false;
    m_startFrame = target;
    scheduleCurrentTrack(target);
    updateClock();
    if (wasPlaying)
        play();
    else
        updateNowPlaying();
    // Seeking to the end of a playing track moves on instead: no jump within a track.
    if (m_currentTrack == seekedTrack)
        Q_EMIT positionJumped();
}

double AudioController::playbackPosition() const
{
    if (!m_audioFile || m_audioFile->sampleRate <= 0)
        return m_currentTime;
    const double seconds = double(currentPlaybackFrame()) / m_audioFile->sampleRate;
    return std::max(0.0, std::min(seconds, m_currentTrack.duration));
}

void AudioController::updateClock()
{
    // The queued track becomes current as soon as the player runs into it, even when the
    // completion of its predecessor is held up; the choices are checked again only where
    // they change, so the clock stays cheap.
    catchUpWithPlayer();
    showPlayerPosition();
    queueNextTrackIfDue();
}

void AudioController::showPlayerPosition()
{
    if (!m_audioFile || m_audioFile->sampleRate <= 0)
        return;
    const double seconds = double(currentPlaybackFrame()) / m_audioFile->sampleRate;
    const double duration = m_currentTrack.duration;
    const double time = std::min(seconds, duration);
    setCurrentTime(time);
    setProgress(duration > 0 ? std::min(time / duration, 1.0) : 0.0);
}

NowPlayingInfo AudioController::nowPlayingInfo() const
{
    const CalmAlbum album = m_albums.selectedAlbum();
    NowPlayingInfo info;
    info.trackID = m_currentTrack.id;
    info.title = m_currentTrack.title;
    info.artist = m_currentTrack.artist;
    info.albumTitle = album.name;
    info.duration = m_currentTrack.duration;
    info.elapsed = std::max(0.0, playbackPosition());
    info.rate = m_isPlaying ? m_playbackRate : 0.0;
    info.defaultRate = m_playbackRate;
    info.artwork = album.artwork;
    info.state = m_isPlaying ? NowPlayingInfo::State::playing
                 : m_stopped ? NowPlayingInfo::State::stopped
                             : NowPlayingInfo::State::paused;
    return info;
}

void AudioController::updateNowPlaying()
{
    Q_EMIT nowPlayingUpdated();
}

QList<CalmTrack> AudioController::trackChoices(bool forward) const
{
    QList<CalmTrack> pool = filteredTracks();
    if (pool.isEmpty())
        pool = m_albums.builtInAlbum().tracks;

    if (forward && m_currentTrackUsesStarterFallback) {
        QList<CalmTrack> installed;
        for (const CalmTrack& track : pool) {
            if (primaryPath(track))
                installed.append(track);
        }
        if (!installed.isEmpty()) {
            const auto other =
                std::find_if(installed.cbegin(), installed.cend(),
                             [this](const CalmTrack& t) { return t != m_currentTrack; });
            return {other != installed.cend() ? *other : installed.first()};
        }
    }

    const QList<CalmTrack> candidates = preferredPlayableTracks(pool);
    const qsizetype index = candidates.indexOf(m_currentTrack);
    if (index < 0)
        return candidates.mid(0, 1);
    if (m_shuffleEnabled && forward) {
        QList<CalmTrack> others = candidates;
        others.removeAll(m_currentTrack);
        if (!others.isEmpty())
            return others;
    }
    const qsizetype count = candidates.size();
    return {candidates.at(((forward ? index + 1 : index - 1) + count) % count)};
}

CalmTrack AudioController::pickTrack(const QList<CalmTrack>& choices)
{
    return choices.size() == 1 ? choices.first() : choices.at(m_randomIndex(choices.size()));
}

void AudioController::moveTrack(bool forward, bool autoPlay)
{
    catchUpWithPlayer();
    const QList<CalmTrack> choices = trackChoices(forward);
    if (!choices.isEmpty())
        load(pickTrack(choices), autoPlay);
}

void AudioController::select(const CalmTrack& track)
{
    if (!m_library.isTrackAvailable(track)) {
        m_library.requestLatestPackIfNeeded();
        return;
    }
    catchUpWithPlayer();
    load(track, m_isPlaying);
}

void AudioController::selectAlbum(const CalmAlbum& album)
{
    catchUpWithPlayer();
    m_albums.setSelectedAlbumID(album.id);
    const QList<CalmTrack> filtered = filteredTracks();
    if (!filtered.contains(m_currentTrack)) {
        const QList<CalmTrack> candidates = preferredPlayableTracks(filtered);
        if (!candidates.isEmpty())
            load(candidates.first(), m_isPlaying);
    }
    refreshQueuedTrack();
}

void AudioController::selectMood(Mood mood)
{
    catchUpWithPlayer();
    m_defaults.setValue(selectedMoodKey, rawValue(mood));
    assignAndNotify(this, m_selectedMood, mood, &AudioController::selectedMoodChanged);
    applyPreset(mood);
    const QList<CalmTrack> candidates = preferredPlayableTracks(filteredTracks());
    if (!candidates.isEmpty()) {
        const CalmTrack& drawn = candidates.at(m_randomIndex(candidates.size()));
        if (drawn != m_currentTrack)
            load(drawn, m_isPlaying);
    }
    refreshQueuedTrack();
}

void AudioController::selectKind(CalmKind kind)
{
    catchUpWithPlayer();
    m_defaults.setValue(selectedKindKey, rawValue(kind));
    assignAndNotify(this, m_selectedKind, kind, &AudioController::selectedKindChanged);
    const QList<CalmTrack> candidates = preferredPlayableTracks(filteredTracks());
    if (!candidates.contains(m_currentTrack) && !candidates.isEmpty())
        load(candidates.first(), m_isPlaying);
    refreshQueuedTrack();
}

void AudioController::handleBuiltInLibraryChanged()
{
    catchUpWithPlayer();
    // The queued track may have changed or gone with the album's tracks.
    const auto refreshAfterwards = qScopeGuard([this] { refreshQueuedTrack(); });
    if (m_albums.selectedAlbumID() != builtInAlbumID)
        return;
    const QList<CalmTrack>& builtInTracks = m_albums.builtInAlbum().tracks;
    for (const CalmTrack& track : builtInTracks) {
        if (track.id == m_currentTrack.id) {
            setCurrentTrack(track);
            break;
        }
    }
    if (m_currentTrackUsesStarterFallback && primaryPath(m_currentTrack)) {
        load(m_currentTrack, m_isPlaying);
        return;
    }
    if (resolvedAudio(m_currentTrack)) {
        updateNowPlaying();
        return;
    }
    QList<CalmTrack> candidates = preferredPlayableTracks(filteredTracks());
    if (candidates.isEmpty())
        candidates = preferredPlayableTracks(builtInTracks);
    if (!candidates.isEmpty())
        load(candidates.first(), m_isPlaying);
    else
        updateNowPlaying();
}

void AudioController::togglePlayPause()
{
    if (m_isPlaying)
        pause();
    else
        play();
}

void AudioController::next()
{
    moveTrack(true, m_isPlaying);
}

void AudioController::previous()
{
    catchUpWithPlayer();
    if (m_currentTime > 4.0)
        seek(0);
    else
        moveTrack(false, m_isPlaying);
}

void AudioController::setVolume(double volume)
{
    if (!std::isfinite(volume))
        return;
    const double clamped = std::clamp(volume, 0.0, 1.0);
    m_defaults.setValue(volumeKey, clamped);
    m_engine.setVolume(clamped);
    assignAndNotify(this, m_volume, clamped, &AudioController::volumeChanged);
}

void AudioController::setPlaybackRate(double rate)
{
    m_engine.setPlaybackRate(rate);
    assignAndNotify(this, m_playbackRate, rate, &AudioController::playbackRateChanged);
}

void AudioController::setLowGain(double decibels)
{
    assignAndNotify(this, m_lowGain, decibels, &AudioController::lowGainChanged);
    applyGains();
}

void AudioController::setMidGain(double decibels)
{
    assignAndNotify(this, m_midGain, decibels, &AudioController::midGainChanged);
    applyGains();
}

void AudioController::setHighGain(double decibels)
{
    assignAndNotify(this, m_highGain, decibels, &AudioController::highGainChanged);
    applyGains();
}

void AudioController::setReverbMix(double percent)
{
    m_engine.setReverbMix(percent);
    assignAndNotify(this, m_reverbMix, percent, &AudioController::reverbMixChanged);
}

void AudioController::applyGains()
{
    m_engine.setEqualiserGains(float(m_lowGain), float(m_midGain), float(m_highGain));
}

void AudioController::applyPreset(Mood mood)
{
    const SoundPreset preset = soundPreset(mood);
    setLowGain(preset.lowGain);
    setMidGain(preset.midGain);
    setHighGain(preset.highGain);
    setReverbMix(preset.reverbMix);
    setPlaybackRate(preset.playbackRate);
}

void AudioController::setSleepMinutes(double minutes)
{
    assignAndNotify(this, m_sleepMinutes, minutes, &AudioController::sleepMinutesChanged);
}

void AudioController::startSleepTimer()
{
    m_sleepTimer.stop();
    if (m_sleepMinutes > 0) {
        setSleepTimeRemaining(m_sleepMinutes * 60);
        m_sleepTimer.start();
    } else {
        setSleepTimeRemaining(0);
    }
}

void AudioController::cancelSleepTimer()
{
    m_sleepTimer.stop();
    setSleepTimeRemaining(0);
    setSleepMinutes(0);
}

void AudioController::sleepTimerTick()
{
    setSleepTimeRemaining(m_sleepTimeRemaining - 1);
    if (m_sleepTimeRemaining <= 0) {
        m_sleepTimer.stop();
        setSleepTimeRemaining(0);
        pause();
    }
}

void AudioController::setCurrentTrack(const CalmTrack& track)
{
    m_defaults.setValue(currentTrackIDKey, track.id);
    assignAndNotify(this, m_currentTrack, track, &AudioController::currentTrackChanged);
}

void AudioController::setIsPlaying(bool playing)
{
    if (m_isPlaying == playing)
        return;
    m_isPlaying = playing;
    if (playing)
        m_clock.start();
    else
        m_clock.stop();
    Q_EMIT playbackStateDidChange(playing);
}

void AudioController::setCurrentTime(double seconds)
{
    assignAndNotify(this, m_currentTime, seconds, &AudioController::currentTimeChanged);
}

void AudioController::setProgress(double progress)
{
    assignAndNotify(this, m_progress, progress, &AudioController::progressChanged);
}

void AudioController::setSleepTimeRemaining(double seconds)
{
    assignAndNotify(this, m_sleepTimeRemaining, seconds,
                    &AudioController::sleepTimeRemainingChanged);
}

void AudioController::reportPlaybackError(const QString& message)
{
    printLine(message);
    assignAndNotify(this, m_lastPlaybackError, message, &AudioController::lastPlaybackErrorChanged);
}

} // namespace calmcove
