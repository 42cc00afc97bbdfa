// frame/borrow.hpp: the per-object borrow counter.
//
// 0 means free, all bits set means borrowed exclusively (a setter or an in-place
// operation is writing), any other value counts the shared borrows in force. A
// conflicting borrow fails at once; nothing ever waits for a borrow.
//
// A buffer view (memoryview, numpy array) holds a shared borrow for as long as it
// lives. Views are also counted on their own, in the upper half of the word (as a
// bytearray counts its exports), so that a refused writer can tell a live view from
// a call in progress: the remedy differs. Shared borrows of either kind stay far
// below 2^32, so neither half can reach the exclusive pattern.
//
// On an interpreter with a global lock every access already happens under that
// lock, so the counter is a plain word there and costs no atomic read-modify-write;
// the free-threaded build uses atomic compare-and-swap. No Python header is needed:
// the frame picks the variant (object.hpp), a thread test may pick the atomic one.
#pragma once

#include <atomic>
#include <cstdint>
#include <type_traits>

namespace lumeric {

template <bool Atomic>
class BasicBorrowFlag {
public:
    static constexpr std::uint64_t exclusive = ~std::uint64_t{0};

    // False when the object is borrowed exclusively.
    bool try_shared() noexcept { return try_add(1); }
    void release_shared() noexcept { subtract(1); }

    // A shared borrow held by a buffer view; false when the object is borrowed exclusively.
    bool try_view() noexcept { return try_add(1 + view_unit); }
    void release_view() noexcept { subtract(1 + view_unit); }

    // False when the object is borrowed in any way.
    bool try_exclusive() noexcept {
        if constexpr (Atomic) {
            std::uint64_t expected = 0;
            return word_.compare_exchange_strong(expected, exclusive, std::memory_order_acquire,
                                                 std::memory_order_relaxed);
        } else {
            if (word_ != 0) return false;
            word_ = exclusive;
            return true;
        }
    }

    void release_exclusive() noexcept {
        if constexpr (Atomic) word_.store(0, std::memory_order_release);
        else word_ = 0;
    }

    // True when a shared borrow would fail right now.
    bool is_exclusive() const noexcept { return load() == exclusive; }

    // True when a buffer view of the object is alive (a snapshot, for error texts).
    bool has_views() const noexcept {
        const std::uint64_t word = load();
        return word != exclusive && word >= view_unit;
    }

private:
    static constexpr std::uint64_t view_unit = std::uint64_t{1} << 32;

    std::uint64_t load() const noexcept {
        if constexpr (Atomic) return word_.load(std::memory_order_acquire);
        else return word_;
    }

    bool try_add(std::uint64_t amount) noexcept {
        if constexpr (Atomic) {
            std::uint64_t seen = word_.load(std::memory_order_relaxed);
            do {
                if (seen == exclusive) return false;
            } while (!word_.compare_exchange_weak(seen, seen + amount, std::memory_order_acquire,
                                                  std::memory_order_relaxed));
            return true;
        } else {
            if (word_ == exclusive) return false;
            word_ += amount;
            return true;
        }
    }

    void subtract(std::uint64_t amount) noexcept {
        if constexpr (Atomic) word_.fetch_sub(amount, std::memory_order_release);
        else word_ -= amount;
    }

    std::conditional_t<Atomic, std::atomic<std::uint64_t>, std::uint64_t> word_{0};
};

}  // namespace lumeric
