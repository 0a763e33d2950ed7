#pragma once

// The track library as the player sees it, answered by the track-library store.

#include "playback/trackaudiolibrary.h"

namespace calmcove {

class AudioPackStore;

class PackStoreAudioLibrary : public TrackAudioLibrary
{
public:
    // The store must outlive this object.
    explicit PackStoreAudioLibrary(AudioPackStore& store);

    std::optional<QString> localPath(const QString& resourceName) const override;
    std::optional<QString> starterPath(const QString& resourceName) const override;
    bool isTrackAvailable(const CalmTrack& track) const override;
    void requestLatestPackIfNeeded() override;

private:
    AudioPackStore& m_store;
};

} // namespace calmcove
