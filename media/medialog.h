#pragma once

// FFmpeg's own warnings about odd files would be the program's only console chatter, and
// the failures the readers report say what matters: this keeps them off standard error.

namespace calmcove {

// Process-wide and idempotent; any thread.
void silenceMediaLog();

} // namespace calmcove
