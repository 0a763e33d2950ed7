#pragma once

// Where Calmcove keeps its data and finds its resources on this machine.

#include <QString>

namespace calmcove::AppPaths {

// $XDG_DATA_HOME/Calmcove (default ~/.local/share/Calmcove). Not created here.
QString dataDirectory();

// Calmcove's own folder for temporary files, $XDG_CACHE_HOME/Calmcove/temporary (default
// ~/.cache/Calmcove/temporary), created (private to the user) when missing. Only one
// running Calmcove uses it.
QString temporaryDirectory();

// Empties temporaryDirectory(): files a killed run left behind. Called once at launch by the
// running instance, never by a launch that hands over to it.
void clearTemporaryDirectory();

// The read-only resources: share/calmcove beside the executable's bin/ directory, which
// holds in the build tree and in an installed tree alike.
QString resourceDirectory();

// resourceDirectory() + "/" + relativePath; the file need not exist.
QString resourcePath(const QString& relativePath);

} // namespace calmcove::AppPaths
