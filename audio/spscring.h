#pragma once

// A lock-free ring for exactly one producer thread and one consumer thread, allocation-free
// after construction. Decoded audio, player commands and player events cross threads in it.

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstddef>
#include <memory>
#include <type_traits>

namespace calmcove {

template <typename T> class SpscRing
{
    static_assert(std::is_trivially_copyable_v<T>);

public:
    // Capacity is rounded up to a power of two. Allocates; call before sharing the ring.
    explicit SpscRing(std::size_t minimumCapacity)
        : m_capacity(std::bit_ceil(std::max<std::size_t>(minimumCapacity, 2))),
          m_data(std::make_unique<T[]>(m_capacity))
    {}

    std::size_t capacity() const { return m_capacity; }

    // Consumer side: values ready to read.
    std::size_t readable() const
    {
        return m_write.load(std::memory_order_acquire) - m_read.load(std::memory_order_relaxed);
    }

    // Producer side: free slots.
    std::size_t writable() const
    {
        return m_capacity -
               (m_write.load(std::memory_order_relaxed) - m_read.load(std::memory_order_acquire));
    }

    // Producer: copies up to count values in, returns how many fitted.
    std::size_t write(const T* values, std::size_t count)
    {
        const std::size_t write = m_write.load(std::memory_order_relaxed);
        count = std::min(count, writable());
        for (std::size_t i = 0; i < count; ++i)
            m_data[(write + i) & (m_capacity - 1)] = values[i];
        m_write.store(write + count, std::memory_order_release);
        return count;
    }

    // Consumer: copies up to count values out, returns how many there were.
    std::size_t read(T* values, std::size_t count)
    {
        const std::size_t read = m_read.load(std::memory_order_relaxed);
        count = std::min(count, readable());
        for (std::size_t i = 0; i < count; ++i)
            values[i] = m_data[(read + i) & (m_capacity - 1)];
        m_read.store(read + count, std::memory_order_release);
        return count;
    }

    bool push(const T& value) { return write(&value, 1) == 1; }
    bool pop(T& value) { return read(&value, 1) == 1; }

private:
    const std::size_t m_capacity;
    std::unique_ptr<T[]> m_data;
    alignas(64) std::atomic<std::size_t> m_write{0};
    alignas(64) std::atomic<std::size_t> m_read{0};
};

} // namespace calmcove
