#pragma once

// The composition root: builds every long-lived store and controller once, in a fixed
// order, wires the callbacks through which they inform each other and holds them for the
// life of the process. Main thread only.

#include "launchoptions.h"

#include <memory>
#include <QObject>

namespace calmcove {

class AlbumStore;
class UserDefaults;

class CalmcoveRuntime : public QObject
{
    Q_OBJECT
public:
    CalmcoveRuntime(const LaunchOptions& options, UserDefaults& defaults,
                    QObject* parent = nullptr);
    ~CalmcoveRuntime() override;

    AlbumStore& albumStore() const { return *m_albumStore; }

private:
    LaunchOptions m_options;
    std::unique_ptr<AlbumStore> m_albumStore;
};

} // namespace calmcove
