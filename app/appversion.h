#pragma once

#include <QString>

namespace calmcove {

// The application version from the build configuration.
inline QString appVersion()
{
    return QStringLiteral(CALMCOVE_VERSION_STRING);
}

} // namespace calmcove
