#pragma once

// Real-time scheduling for an audio thread, obtained the way desktop audio programs get it:
// the kernel's SCHED_FIFO where this process may set it itself, else RealtimeKit over the
// system bus (which hands out SCHED_RR within limits of its own).

#include <sys/types.h>

namespace calmcove {

enum class RealtimeScheduling
{
    direct,      // SCHED_FIFO set by this process
    realtimeKit, // granted by RealtimeKit
    refused,     // neither was granted: the thread keeps normal scheduling
    switchedOff  // the environment variable CALMCOVE_REALTIME_AUDIO is "0" (any other value,
                 // or none, asks for real-time scheduling)
};

// Makes thread `threadId` (a kernel thread id of this process, as gettid() returns it)
// real-time at `priority` (1…99; lowered to RealtimeKit's maximum there), reset to normal
// scheduling in forked children. May block on the system bus (milliseconds usually, 3 s at
// worst), so call it before the thread has real-time work to do, never from that thread.
// RealtimeKit wants RLIMIT_RTTIME set, so the process's limit is lowered to its RTTimeUSecMax. When
// nothing is granted, the first refusal in the process writes one line with the reasons to
// the standard error; the thread carries on with normal scheduling.
RealtimeScheduling makeThreadRealtime(pid_t threadId, int priority);

} // namespace calmcove
