#include "nowplayingcontroller.h"

#include "albums/albumstore.h"
#include "mprisrootadaptor.h"
#include "nowplayingcommandhandlers.h"
#include "playback/audiocontroller.h"

#include <algorithm>
#include <cmath>
#include <QCoreApplication>
#include <QDBusMessage>

namespace calmcove {

namespace {

const QString playerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString rootInterface = QStringLiteral("org.mpris.MediaPlayer2");

} // namespace

NowPlayingController::NowPlayingController(AlbumStore& albums, const QDBusConnection& bus,
                                           QObject* parent)
    : QObject(parent), m_albums(albums), m_bus(bus)
{
    // A renamed album, a new cover or another album changes what the display shows.
    connect(&m_albums, &AlbumStore::importedAlbumsChanged, this, &NowPlayingController::publish);
    connect(&m_albums, &AlbumStore::builtInAlbumChanged, this, &NowPlayingController::publish);
    connect(&m_albums, &AlbumStore::selectedAlbumIDChanged, this, &NowPlayingController::publish);
}

NowPlayingController::~NowPlayingController()
{
    if (m_isOnBus) {
        m_bus.unregisterService(serviceName);
        m_bus.unregisterObject(objectPath);
    }
}

void NowPlayingController::configure(AudioController* controller)
{
    for (const QMetaObject::Connection& connection : std::as_const(m_controllerConnections))
        disconnect(connection);
    m_controllerConnections.clear();
    m_controller = controller;
    if (controller) {
        m_controllerConnections = {
            connect(controller, &AudioController::nowPlayingUpdated, this,
                    &NowPlayingController::publish),
            connect(controller, &AudioController::positionJumped, this,
                    &NowPlayingController::announceSeek),
            connect(controller, &AudioController::volumeChanged, this,
                    &NowPlayingController::publish),
        };
    }
    // The first publication: what the player shows now.
    publish();
    if (m_isConfigured)
        return;
    m_isConfigured = true;
    installCommandHandlers();
}

void NowPlayingController::installCommandHandlers()
{
    if (!m_bus.isConnected())
        return;
    auto* exported = new QObject(this);
    new MprisRootAdaptor(exported, *this);
    auto* player = new NowPlayingCommandHandlers(exported, *this);
    if (!m_bus.registerObject(objectPath, exported, QDBusConnection::ExportAdaptors)) {
        delete exported;
        return;
    }
    // Another player of ours holds the name (a second bus client of the same session):
    // the desktop keeps talking to that one.
    if (!m_bus.registerService(serviceName)) {
        m_bus.unregisterObject(objectPath);
        delete exported;
        return;
    }
    m_player = player;
    m_isOnBus = true;
}

qint64 NowPlayingController::positionMicroseconds() const
{
    const AudioController* controller = m_controller.data();
    return controller ? qint64(std::llround(controller->playbackPosition() * 1e6)) : 0;
}

void NowPlayingController::setRaiseHandler(std::function<void()> raise)
{
    const bool couldRaise = canRaise();
    m_raise = std::move(raise);
    if (couldRaise != canRaise())
        sendPropertiesChanged(rootInterface, {{QStringLiteral("CanRaise"), canRaise()}});
}

void NowPlayingController::setOpenHandler(std::function<void(const QString&)> open)
{
    m_open = std::move(open);
}

void NowPlayingController::post(std::function<void(AudioController&)> work)
{
    QMetaObject::invokeMethod(
        this,
        [controller = m_controller, work = std::move(work)] {
            if (controller)
                work(*controller);
        },
        Qt::QueuedConnection);
}

void NowPlayingController::play()
{
    post([](AudioController& controller) { controller.play(); });
}

void NowPlayingController::pause()
{
    post([](AudioController& controller) { controller.pause(); });
}

void NowPlayingController::togglePlayPause()
{
    post([](AudioController& controller) { controller.togglePlayPause(); });
}

void NowPlayingController::next()
{
    post([](AudioController& controller) { controller.next(); });
}

void NowPlayingController::previous()
{
    post([](AudioController& controller) { controller.previous(); });
}

void NowPlayingController::stop()
{
    post([](AudioController& controller) { controller.stop(); });
}

void NowPlayingController::setPosition(const QString& trackPath, qint64 microseconds)
{
    post([trackPath, microseconds](AudioController& controller) {
        const double duration = controller.currentTrack().duration;
        if (trackPath != mprisTrackPath(controller.currentTrack().id) || duration <= 0)
            return;
        const double seconds = double(microseconds) / 1e6;
        if (seconds < 0 || seconds > duration)
            return;
        controller.seek(seconds / duration);
    });
}

void NowPlayingController::seekBy(qint64 offsetMicroseconds)
{
    post([offsetMicroseconds](AudioController& controller) {
        const double duration = controller.currentTrack().duration;
        if (duration <= 0)
            return;
        const double target = controller.playbackPosition() + double(offsetMicroseconds) / 1e6;
        if (target > duration)
            controller.next();
        else
            controller.seek(std::max(0.0, target) / duration);
    });
}

void NowPlayingController::setVolume(double volume)
{
    post([volume](AudioController& controller) { controller.setVolume(volume); });
}

void NowPlayingController::open(const QString& uri)
{
    QMetaObject::invokeMethod(
        this,
        [this, uri] {
            if (m_open)
                m_open(uri);
        },
        Qt::QueuedConnection);
}

void NowPlayingController::raise()
{
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_raise)
                m_raise();
        },
        Qt::QueuedConnection);
}

void NowPlayingController::quit()
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), &QCoreApplication::quit,
                              Qt::QueuedConnection);
}

void NowPlayingController::publish()
{
    const AudioController* controller = m_controller.data();
    if (!controller)
        return;
    const MprisPlayerState state =
        mprisPlayerState(controller->nowPlayingInfo(), controller->volume());
    const QVariantMap changed = changedPlayerProperties(m_published, state);
    m_published = state;
    if (!changed.isEmpty())
        sendPropertiesChanged(playerInterface, changed);
}

void NowPlayingController::announceSeek()
{
    if (m_isOnBus)
        Q_EMIT m_player->Seeked(positionMicroseconds());
}

void NowPlayingController::sendPropertiesChanged(const QString& interface,
                                                 const QVariantMap& changed)
{
    if (!m_isOnBus)
        return;
    QDBusMessage signal =
        QDBusMessage::createSignal(objectPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                   QStringLiteral("PropertiesChanged"));
    signal << interface << changed << QStringList();
    m_bus.send(signal);
}

} // namespace calmcove
