// bulk/bulk_allocator.hpp: the allocator of VecList's element arrays, and page hints for other
// large result buffers.
//
// Batch results are written once, in parallel, right after allocation, and first touches
// of fresh memory are very expensive on virtual machines (a fault per 4 KiB page, each
// often costing more than the arithmetic on the elements in it). So:
//  - new elements are left uninitialised (`vector(n)` and `resize(n)` do not zero them;
//    zeroing would be a whole extra pass over memory on one thread);
//  - large blocks are mapped directly, aligned to 2 MiB and marked for transparent huge
//    pages as a whole, so their first touches fault once per 2 MiB;
//  - a freed large block is kept for the next large block of about its size (a loop of
//    batch operations allocates the same sizes again and again), with its pages marked
//    free for the kernel to take back whenever it needs memory (see bulk_allocator.cpp);
//  - except scratch (ScratchAllocator): a working array that a long-lived result outlives
//    goes back to the system at once, so that the result alone stays in memory.
#pragma once

#include <cstddef>
#include <limits>
#include <new>
#include <utility>

namespace lumeric {

void* bulk_allocate(std::size_t bytes);
void bulk_deallocate(void* p, std::size_t bytes) noexcept;
// Frees a block from bulk_allocate without keeping it for reuse.
void bulk_release(void* p, std::size_t bytes) noexcept;

// Marks the whole 2 MiB pages inside [p, p + bytes) for transparent huge pages when the
// range is large enough to gain from it; for buffers allocated elsewhere and not yet
// touched. A hint: nothing happens where the system does not support it.
void advise_huge_pages(void* p, std::size_t bytes) noexcept;

template <class T>
struct BulkAllocator {
    using value_type = T;

    BulkAllocator() noexcept = default;
    template <class U>
    BulkAllocator(const BulkAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) {
        if (n > std::numeric_limits<std::size_t>::max() / sizeof(T)) throw std::bad_array_new_length();
        return static_cast<T*>(bulk_allocate(n * sizeof(T)));
    }
    void deallocate(T* p, std::size_t n) noexcept { bulk_deallocate(p, n * sizeof(T)); }

    // Default-initialisation: a trivial element stays unwritten until its value arrives.
    template <class U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }

    friend bool operator==(const BulkAllocator&, const BulkAllocator&) noexcept { return true; }
};

// BulkAllocator for scratch: its blocks are unmapped when freed, not kept.
template <class T>
struct ScratchAllocator : BulkAllocator<T> {
    using value_type = T;

    ScratchAllocator() noexcept = default;
    template <class U>
    ScratchAllocator(const ScratchAllocator<U>&) noexcept {}
    template <class U>
    struct rebind {
        using other = ScratchAllocator<U>;
    };

    void deallocate(T* p, std::size_t n) noexcept { bulk_release(p, n * sizeof(T)); }

    friend bool operator==(const ScratchAllocator&, const ScratchAllocator&) noexcept { return true; }
};

}  // namespace lumeric
