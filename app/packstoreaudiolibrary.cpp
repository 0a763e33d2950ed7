#include "packstoreaudiolibrary.h"

#include "library/audiopackstore.h"

namespace calmcove {

PackStoreAudioLibrary::PackStoreAudioLibrary(AudioPackStore& store) : m_store(store) {}

std::optional<QString> PackStoreAudioLibrary::localPath(const QString& resourceName) const
{
    return m_store.localPath(resourceName);
}

std::optional<QString> PackStoreAudioLibrary::starterPath(const QString& resourceName) const
{
    return m_store.starterPath(resourceName);
}

bool PackStoreAudioLibrary::isTrackAvailable(const CalmTrack& track) const
{
    return m_store.isTrackAvailable(track);
}

void PackStoreAudioLibrary::requestLatestPackIfNeeded()
{
    // Left to run: the store ends it with itself, and a second start while one runs is
    // harmless.
    m_store.installLatestPackIfNeeded(false);
}

} // namespace calmcove
