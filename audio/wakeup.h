#pragma once

// A wake-up call for a thread that sleeps until there is work: notify() never blocks and
// costs no system call while nobody waits, so the render thread may call it.

#include <atomic>
#include <cstdint>

namespace calmcove {

class Wakeup
{
public:
    // Any thread.
    void notify()
    {
        m_count.fetch_add(1, std::memory_order_release);
        m_count.notify_one();
    }
    // The waiting thread: take a ticket before looking for work, then wait with it; a
    // notify() in between makes wait() return at once.
    std::uint32_t ticket() const { return m_count.load(std::memory_order_acquire); }
    void wait(std::uint32_t ticket) const { m_count.wait(ticket, std::memory_order_acquire); }

private:
    std::atomic<std::uint32_t> m_count{0};
};

} // namespace calmcove
