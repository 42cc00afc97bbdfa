// bulk_allocator.hpp: the allocator of VecList's element arrays.
//
// Batch results are written once, in parallel, right after allocation, so:
//  - new elements are left uninitialised (`vector(n)` and `resize(n)` do not zero them;
//    zeroing would be a whole extra pass over memory on one thread);
//  - blocks of 4 MiB and more are marked for transparent huge pages, so the first
//    touches of a fresh block fault once per 2 MiB rather than once per 4 KiB (the
//    faults of a fresh result array otherwise cost more than the arithmetic).
#pragma once

#include <cstddef>
#include <limits>
#include <new>
#include <utility>

namespace lumeric {

void* bulk_allocate(std::size_t bytes);
void bulk_deallocate(void* p, std::size_t bytes) noexcept;

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

}  // namespace lumeric
