#pragma once

// Points every XDG directory at a fresh temporary folder, so tests never touch the
// user's own settings or data. Set up once per test process, before the Qt application.

#include <QString>

namespace calmcove::test {

// The temporary root; XDG_DATA_HOME, XDG_CONFIG_HOME, XDG_CACHE_HOME,
// XDG_RUNTIME_DIR and TMPDIR lie inside.
QString temporaryXdgRoot();
void useTemporaryXdgDirectories();

} // namespace calmcove::test
