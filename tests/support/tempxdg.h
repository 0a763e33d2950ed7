#pragma once

// Points every XDG directory at a fresh temporary folder, so tests never touch the
// user's own settings or data. Set up once per test process, before the Qt application.

#include <QString>
#include <QTemporaryDir>

namespace calmcove::test {

// Owns the temporary root while it lives and removes it, with all a test left there,
// when it goes. XDG_DATA_HOME, XDG_CONFIG_HOME, XDG_CACHE_HOME, XDG_RUNTIME_DIR and
// TMPDIR lie inside.
class TemporaryXdgDirectories
{
public:
    TemporaryXdgDirectories();
    ~TemporaryXdgDirectories();
    TemporaryXdgDirectories(const TemporaryXdgDirectories&) = delete;
    TemporaryXdgDirectories& operator=(const TemporaryXdgDirectories&) = delete;

private:
    QTemporaryDir m_root;
};

// The root of the process's temporary XDG directories.
QString temporaryXdgRoot();

} // namespace calmcove::test
