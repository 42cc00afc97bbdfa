// frame/borrow.hpp: the per-object borrow counter.
//
// 0 means free, all bits set means borrowed exclusively (a setter or an in-place
// operation is writing), any other value counts the shared borrows in force. A
// conflicting borrow fails at once; nothing ever waits for a borrow.
//
// On an interpreter with a global lock every access already happens under that
// lock, so the counter is a plain word there and costs no atomic read-modify-write.
// The free-threaded build uses atomic compare-and-swap and swap.
#pragma once

#include <Python.h>

#include <atomic>
#include <cstdint>

namespace lumeric {

class BorrowFlag {
public:
    static constexpr std::uint64_t exclusive = ~std::uint64_t{0};

    // False when the object is borrowed exclusively.
    bool try_shared() noexcept {
#ifdef Py_GIL_DISABLED
        std::uint64_t seen = word_.load(std::memory_order_relaxed);
        do {
            if (seen == exclusive) return false;
        } while (!word_.compare_exchange_weak(seen, seen + 1, std::memory_order_acquire,
                                              std::memory_order_relaxed));
        return true;
#else
        if (word_ == exclusive) return false;
        ++word_;
        return true;
#endif
    }

    void release_shared() noexcept {
#ifdef Py_GIL_DISABLED
        word_.fetch_sub(1, std::memory_order_release);
#else
        --word_;
#endif
    }

    // False when the object is borrowed in any way.
    bool try_exclusive() noexcept {
#ifdef Py_GIL_DISABLED
        std::uint64_t expected = 0;
        return word_.compare_exchange_strong(expected, exclusive, std::memory_order_acquire,
                                             std::memory_order_relaxed);
#else
        if (word_ != 0) return false;
        word_ = exclusive;
        return true;
#endif
    }

    void release_exclusive() noexcept {
#ifdef Py_GIL_DISABLED
        word_.store(0, std::memory_order_release);
#else
        word_ = 0;
#endif
    }

    // True when a shared borrow would fail right now.
    bool is_exclusive() const noexcept {
#ifdef Py_GIL_DISABLED
        return word_.load(std::memory_order_acquire) == exclusive;
#else
        return word_ == exclusive;
#endif
    }

private:
#ifdef Py_GIL_DISABLED
    std::atomic<std::uint64_t> word_{0};
#else
    std::uint64_t word_ = 0;
#endif
};

}  // namespace lumeric
