#pragma once

// The org.mpris.MediaPlayer2 interface: who the player is, what it opens, and the Raise
// and Quit requests, handed to NowPlayingController.

#include <QDBusAbstractAdaptor>
#include <QStringList>

namespace calmcove {

class NowPlayingController;

class MprisRootAdaptor : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ canQuit)
    Q_PROPERTY(bool CanRaise READ canRaise)
    Q_PROPERTY(bool HasTrackList READ hasTrackList)
    Q_PROPERTY(QString Identity READ identity)
    Q_PROPERTY(QString DesktopEntry READ desktopEntry)
    Q_PROPERTY(QStringList SupportedUriSchemes READ supportedUriSchemes)
    Q_PROPERTY(QStringList SupportedMimeTypes READ supportedMimeTypes)

public:
    // `exported` is the object on the bus; `owner` does the work and outlives it.
    MprisRootAdaptor(QObject* exported, NowPlayingController& owner);

    bool canQuit() const { return true; }
    bool canRaise() const;
    bool hasTrackList() const { return false; }
    QString identity() const { return QStringLiteral("Calmcove"); }
    QString desktopEntry() const { return QStringLiteral("calmcove"); }
    QStringList supportedUriSchemes() const;
    QStringList supportedMimeTypes() const;

public Q_SLOTS:
    void Raise();
    void Quit();

private:
    NowPlayingController& m_owner;
};

} // namespace calmcove
