#include "calmcoveruntime.h"

#include "albums/albumstore.h"

namespace calmcove {

CalmcoveRuntime::CalmcoveRuntime(const LaunchOptions& options, UserDefaults& defaults,
                                 QObject* parent)
    : QObject(parent), m_options(options),
      m_albumStore(std::make_unique<AlbumStore>(defaults, AlbumStore::defaultRootDirectory()))
{}

CalmcoveRuntime::~CalmcoveRuntime() = default;

} // namespace calmcove
