#include "mprisrootadaptor.h"

#include "nowplayingcontroller.h"

namespace calmcove {

MprisRootAdaptor::MprisRootAdaptor(QObject* exported, NowPlayingController& owner)
    : QDBusAbstractAdaptor(exported), m_owner(owner)
{}

bool MprisRootAdaptor::canRaise() const
{
    return m_owner.canRaise();
}

QStringList MprisRootAdaptor::supportedUriSchemes() const
{
    return {QStringLiteral("file"), QStringLiteral("http"), QStringLiteral("https")};
}

// The audio files an import accepts, and folders, which become albums.
QStringList MprisRootAdaptor::supportedMimeTypes() const
{
    return {QStringLiteral("audio/aac"),      QStringLiteral("audio/x-aiff"),
            QStringLiteral("audio/flac"),     QStringLiteral("audio/mp4"),
            QStringLiteral("audio/x-m4a"),    QStringLiteral("audio/mpeg"),
            QStringLiteral("audio/wav"),      QStringLiteral("audio/x-wav"),
            QStringLiteral("inode/directory")};
}

void MprisRootAdaptor::Raise()
{
    m_owner.raise();
}

void MprisRootAdaptor::Quit()
{
    m_owner.quit();
}

} // namespace calmcove
