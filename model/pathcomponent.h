#pragma once

// Names read from documents (pack versions, track file names, album ids) become paths
// that are later written or deleted; only a single, plain path component may pass.

#include <QStringView>

namespace calmcove {

// True when `value` is not empty after trimming white space, has no leading or trailing
// white space, does not begin with ".", and contains no "/", "\", ":" and no control
// character (U+0000–U+001F, U+007F).
bool isSafePathComponent(QStringView value);

} // namespace calmcove
