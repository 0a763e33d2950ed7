#include "nowplayingcommandhandlers.h"

#include "nowplayingcontroller.h"

namespace calmcove {

NowPlayingCommandHandlers::NowPlayingCommandHandlers(QObject* exported, NowPlayingController& owner)
    : QDBusAbstractAdaptor(exported), m_owner(owner)
{}

QString NowPlayingCommandHandlers::playbackStatus() const
{
    return m_owner.published().playbackStatus;
}

double NowPlayingCommandHandlers::rate() const
{
    return m_owner.published().rate;
}

QVariantMap NowPlayingCommandHandlers::metadata() const
{
    return m_owner.published().metadata();
}

double NowPlayingCommandHandlers::volume() const
{
    return m_owner.published().volume;
}

void NowPlayingCommandHandlers::setVolume(double volume)
{
    m_owner.setVolume(volume);
}

qlonglong NowPlayingCommandHandlers::position() const
{
    return m_owner.positionMicroseconds();
}

void NowPlayingCommandHandlers::Play()
{
    m_owner.play();
}

void NowPlayingCommandHandlers::Pause()
{
    m_owner.pause();
}

void NowPlayingCommandHandlers::PlayPause()
{
    m_owner.togglePlayPause();
}

void NowPlayingCommandHandlers::Next()
{
    m_owner.next();
}

void NowPlayingCommandHandlers::Previous()
{
    m_owner.previous();
}

void NowPlayingCommandHandlers::Stop()
{
    m_owner.stop();
}

void NowPlayingCommandHandlers::Seek(qlonglong offset)
{
    m_owner.seekBy(offset);
}

void NowPlayingCommandHandlers::SetPosition(const QDBusObjectPath& trackId, qlonglong position)
{
    m_owner.setPosition(trackId.path(), position);
}

void NowPlayingCommandHandlers::OpenUri(const QString& uri)
{
    m_owner.open(uri);
}

} // namespace calmcove
