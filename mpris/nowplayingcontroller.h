#pragma once

// The desktop's now-playing display and remote commands over MPRIS 2 on the session bus
// (service org.mpris.MediaPlayer2.calmcove): publishes the player's now-playing table
// when the player announces it, and turns the desktop's commands (media keys, headset
// buttons, playerctl, lock screens) into commands of the player on the main thread.
// Without a session bus it does nothing. Main thread only.

#include "mprisstate.h"

#include <functional>
#include <QDBusConnection>
#include <QObject>
#include <QPointer>

namespace calmcove {

class AlbumStore;
class AudioController;
class MprisRootAdaptor;
class NowPlayingCommandHandlers;

class NowPlayingController : public QObject
{
    Q_OBJECT
public:
    static inline const QString serviceName = QStringLiteral("org.mpris.MediaPlayer2.calmcove");
    static inline const QString objectPath = QStringLiteral("/org/mpris/MediaPlayer2");

    // Publishes on `bus` once configured; a disconnected bus leaves the interface off.
    // The album store must outlive this object.
    NowPlayingController(AlbumStore& albums, const QDBusConnection& bus, QObject* parent = nullptr);
    ~NowPlayingController() override;

    // Follows `controller` (weakly; each call replaces it) and, on the first call only,
    // puts the interface on the bus.
    void configure(AudioController* controller);
    bool isConfigured() const { return m_isConfigured; }
    // Whether the interface is on the bus under its service name.
    bool isOnBus() const { return m_isOnBus; }

    // The last publication, which property reads answer with.
    const MprisPlayerState& published() const { return m_published; }
    // The position now, computed on each read; 0 without a player.
    qint64 positionMicroseconds() const;

    // The desktop may ask to show the player once a window can do it: setting a handler
    // makes CanRaise true and Raise call it.
    void setRaiseHandler(std::function<void()> raise);
    bool canRaise() const { return bool(m_raise); }
    // Imports what OpenUri names (a path, folder, file:, http: or https: URI).
    void setOpenHandler(std::function<void(const QString& uri)> open);

    // The remote commands. Each returns at once; the work runs on the next turn of the
    // event loop, and not at all once the player is gone.
    void play();
    void pause();
    void togglePlayPause();
    void next();
    void previous();
    void stop();
    // Jumps to `microseconds` when `trackPath` names the current track and the position
    // lies within it.
    void setPosition(const QString& trackPath, qint64 microseconds);
    // Moves by `offsetMicroseconds`: before the start goes to 0, past the end to the next
    // track.
    void seekBy(qint64 offsetMicroseconds);
    void setVolume(double volume);
    void open(const QString& uri);
    void raise();
    void quit();

private:
    void installCommandHandlers();
    void post(std::function<void(AudioController&)> work);
    void publish();
    void announceSeek();
    void sendPropertiesChanged(const QString& interface, const QVariantMap& changed);

    AlbumStore& m_albums;
    QDBusConnection m_bus;
    QPointer<AudioController> m_controller;
    QList<QMetaObject::Connection> m_controllerConnections;
    bool m_isConfigured = false;
    bool m_isOnBus = false;
    MprisPlayerState m_published;
    std::function<void()> m_raise;
    std::function<void(const QString&)> m_open;
    NowPlayingCommandHandlers* m_player = nullptr;
};

} // namespace calmcove
