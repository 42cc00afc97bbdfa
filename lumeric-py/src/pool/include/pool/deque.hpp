// pool/deque.hpp: the per-worker double-ended task queue.
//
// Each worker owns one WorkDeque. The owner pushes and pops at the bottom
// (newest first, so a fork-join usually gets its own right half back), while
// idle workers steal the oldest entry from the top. This is the Chase–Lev
// dynamic circular deque in the form given by Lê, Pop, Cohen and Zappa
// Nardelli, "Correct and Efficient Work-Stealing for Weak Memory Models"
// (PPoPP 2013), with the memory orders of that paper, two deliberate
// strengthenings aside: every store to `bottom_` is a release store (free on
// x86, and it lets ThreadSanitizer see the owner-to-thief hand-off that the
// paper obtains through a fence) and the buffer pointer is read with acquire
// rather than consume.
//
// Only the owner may call push() and pop(); any thread may call steal().
// Retired buffers are kept until the deque dies because a thief may still be
// reading a slot of one; the deque never shrinks.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace lumeric::pool {

template <class T>
class WorkDeque {
    static_assert(std::is_trivially_copyable_v<T> && std::atomic<T>::is_always_lock_free,
                  "slots must be lock-free atomics (pointers in practice)");

public:
    enum class Steal { empty, retry, success };

    explicit WorkDeque(std::size_t capacity = 64) {
        std::size_t cap = 1;
        while (cap < capacity) cap <<= 1;
        buffers_.push_back(std::make_unique<Buffer>(cap));
        buffer_.store(buffers_.back().get(), std::memory_order_relaxed);
    }
    WorkDeque(const WorkDeque&) = delete;
    WorkDeque& operator=(const WorkDeque&) = delete;

    // Owner only.
    void push(T item) {
        std::int64_t b = bottom_.load(std::memory_order_relaxed);
        std::int64_t t = top_.load(std::memory_order_acquire);
        Buffer* a = buffer_.load(std::memory_order_relaxed);
        if (b - t > static_cast<std::int64_t>(a->capacity) - 1) a = grow(a, t, b);
        a->put(b, item);
        // Publishes the slot (and whatever the item points to) to thieves,
        // which read bottom_ with acquire.
        bottom_.store(b + 1, std::memory_order_release);
    }

    // Owner only. Returns false when the deque is empty or a thief won the
    // race for the last item.
    bool pop(T& out) {
        std::int64_t b = bottom_.load(std::memory_order_relaxed) - 1;
        Buffer* a = buffer_.load(std::memory_order_relaxed);
        bottom_.store(b, std::memory_order_release);
        // The store of bottom_ must be visible before top_ is read, or owner
        // and thief could both take the last item (store-load ordering; the
        // matching fence is in steal()).
        std::atomic_thread_fence(std::memory_order_seq_cst);
        std::int64_t t = top_.load(std::memory_order_relaxed);
        if (t > b) {  // was empty
            bottom_.store(b + 1, std::memory_order_release);
            return false;
        }
        T item = a->get(b);
        if (t == b) {
            // Last item: race thieves for it through top_.
            bool won = top_.compare_exchange_strong(t, t + 1, std::memory_order_seq_cst,
                                                    std::memory_order_relaxed);
            bottom_.store(b + 1, std::memory_order_release);
            if (!won) return false;
        }
        out = item;
        return true;
    }

    // Any thread. `retry` means another thread won a race; the deque may
    // still hold items.
    Steal steal(T& out) {
        std::int64_t t = top_.load(std::memory_order_acquire);
        std::atomic_thread_fence(std::memory_order_seq_cst);
        std::int64_t b = bottom_.load(std::memory_order_acquire);
        if (t >= b) return Steal::empty;
        Buffer* a = buffer_.load(std::memory_order_acquire);
        // The slot may be overwritten by the owner once another thief has
        // moved top_ past it; the CAS below then fails and the value read
        // here is discarded.
        T item = a->get(t);
        if (!top_.compare_exchange_strong(t, t + 1, std::memory_order_seq_cst,
                                          std::memory_order_relaxed))
            return Steal::retry;
        out = item;
        return Steal::success;
    }

    // Any thread; a hint only (used before going to sleep).
    bool looks_empty() const {
        return top_.load(std::memory_order_acquire) >= bottom_.load(std::memory_order_acquire);
    }

private:
    struct Buffer {
        explicit Buffer(std::size_t cap) : capacity(cap), slots(new std::atomic<T>[cap]) {}
        std::size_t capacity;
        std::unique_ptr<std::atomic<T>[]> slots;
        T get(std::int64_t i) const {
            return slots[static_cast<std::size_t>(i) & (capacity - 1)].load(std::memory_order_relaxed);
        }
        void put(std::int64_t i, T v) {
            slots[static_cast<std::size_t>(i) & (capacity - 1)].store(v, std::memory_order_relaxed);
        }
    };

    Buffer* grow(Buffer* old, std::int64_t t, std::int64_t b) {
        auto bigger = std::make_unique<Buffer>(old->capacity * 2);
        for (std::int64_t i = t; i < b; ++i) bigger->put(i, old->get(i));
        Buffer* fresh = bigger.get();
        buffers_.push_back(std::move(bigger));  // old one stays alive for thieves
        buffer_.store(fresh, std::memory_order_release);
        return fresh;
    }

    alignas(64) std::atomic<std::int64_t> top_{0};
    alignas(64) std::atomic<std::int64_t> bottom_{0};
    std::atomic<Buffer*> buffer_{nullptr};
    std::vector<std::unique_ptr<Buffer>> buffers_;  // owner only
};

}  // namespace lumeric::pool
