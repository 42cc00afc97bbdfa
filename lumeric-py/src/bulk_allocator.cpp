// bulk_allocator.cpp: large arrays marked for huge pages.
//
// Blocks come from the ordinary heap, which keeps and reuses large freed blocks once it
// has seen a few (glibc raises its mapping threshold as they are freed), so a loop of
// batch operations stops paying page faults at all; a fresh large block is marked for
// transparent huge pages, so its first touches fault once per 2 MiB.
#include "bulk_allocator.hpp"

#include <sys/mman.h>

#include <cstdint>

namespace lumeric {

namespace {

constexpr std::uintptr_t huge_page = std::uintptr_t{2} << 20;
constexpr std::size_t advised_from = std::size_t{4} << 20;

}  // namespace

void* bulk_allocate(std::size_t bytes) {
    void* p = ::operator new(bytes);
    if (bytes >= advised_from) {
        // The whole huge pages inside the block; a hint, so a failure is harmless.
        auto start = reinterpret_cast<std::uintptr_t>(p);
        std::uintptr_t first = (start + huge_page - 1) & ~(huge_page - 1);
        std::uintptr_t last = (start + bytes) & ~(huge_page - 1);
        if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
    }
    return p;
}

void bulk_deallocate(void* p, std::size_t) noexcept { ::operator delete(p); }

}  // namespace lumeric
