// bulk/bulk_allocator.cpp: large arrays on huge pages, and reuse of freed ones.
//
// Blocks below `mapped_from` come from the ordinary heap, which keeps and reuses freed
// blocks of those sizes itself (glibc raises its mapping threshold as they are freed, up to
// 32 MiB). Larger blocks would be mapped afresh by the heap on every allocation, each first
// touch faulting, so they are mapped here: aligned to 2 MiB and marked for huge pages as a
// whole, so that even a fresh block faults once per 2 MiB. A freed mapped block goes to a
// small cache: up to `kept_blocks` blocks, `kept_bytes` in all, the oldest unmapped first.
// Cached pages are given MADV_FREE: the kernel reclaims them under memory pressure, and
// until it does they are reused without a single fault. A block is reused only for a
// request of its own size (rounded up to 2 MiB), so a free always knows the mapping's size.
#include "bulk/bulk_allocator.hpp"

#include <sys/mman.h>

#include <array>
#include <cstdint>
#include <mutex>

namespace lumeric {

namespace {

constexpr std::size_t huge_page = std::size_t{2} << 20;
constexpr std::size_t mapped_from = std::size_t{4} << 20;
constexpr std::size_t kept_blocks = 4;
constexpr std::size_t kept_bytes = std::size_t{512} << 20;

constexpr std::size_t round_up(std::size_t bytes, std::size_t to) noexcept { return (bytes + to - 1) / to * to; }

// A mapping of `size` bytes (a multiple of huge_page) starting at a 2 MiB boundary.
void* map_aligned(std::size_t size) noexcept {
    // Over-map by one huge page and unmap the unaligned ends.
    void* raw = mmap(nullptr, size + huge_page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    auto start = reinterpret_cast<std::uintptr_t>(raw);
    std::uintptr_t aligned = round_up(start, huge_page);
    if (aligned > start) munmap(raw, aligned - start);
    std::uintptr_t tail = aligned + size;
    std::uintptr_t end = start + size + huge_page;
    if (end > tail) munmap(reinterpret_cast<void*>(tail), end - tail);
#ifdef MADV_HUGEPAGE
    madvise(reinterpret_cast<void*>(aligned), size, MADV_HUGEPAGE);
#endif
    return reinterpret_cast<void*>(aligned);
}

struct Block {
    void* start = nullptr;
    std::size_t size = 0;
};

class BlockCache {
public:
    // The most recently kept block of exactly `size` bytes, or none.
    Block take(std::size_t size) noexcept {
        std::lock_guard<std::mutex> guard(mutex_);
        for (std::size_t k = count_; k-- > 0;) {
            if (blocks_[k].size == size) {
                Block found = blocks_[k];
                remove(k);
                return found;
            }
        }
        return {};
    }

    // Keeps `block`, unmapping the oldest blocks to make room; unmaps `block` itself if it
    // alone is over the limit.
    void put(Block block) noexcept {
        if (block.size > kept_bytes) {
            munmap(block.start, block.size);
            return;
        }
#ifdef MADV_FREE
        madvise(block.start, block.size, MADV_FREE);
#endif
        Block evicted[kept_blocks];
        std::size_t n_evicted = 0;
        {
            std::lock_guard<std::mutex> guard(mutex_);
            while (count_ == kept_blocks || bytes_ + block.size > kept_bytes) {
                evicted[n_evicted++] = blocks_[0];
                remove(0);
            }
            blocks_[count_++] = block;
            bytes_ += block.size;
        }
        for (std::size_t k = 0; k < n_evicted; ++k) munmap(evicted[k].start, evicted[k].size);
    }

    // Unmaps every kept block: their address space may be what a new block lacks.
    bool clear() noexcept {
        Block dropped[kept_blocks];
        std::size_t n_dropped = 0;
        {
            std::lock_guard<std::mutex> guard(mutex_);
            while (count_ > 0) {
                dropped[n_dropped++] = blocks_[0];
                remove(0);
            }
        }
        for (std::size_t k = 0; k < n_dropped; ++k) munmap(dropped[k].start, dropped[k].size);
        return n_dropped > 0;
    }

private:
    void remove(std::size_t k) noexcept {
        bytes_ -= blocks_[k].size;
        for (std::size_t j = k + 1; j < count_; ++j) blocks_[j - 1] = blocks_[j];
        --count_;
    }

    std::mutex mutex_;
    std::array<Block, kept_blocks> blocks_{};  // oldest first
    std::size_t count_ = 0;
    std::size_t bytes_ = 0;
};

// Never destroyed: blocks may be freed by objects that outlive static destruction. Built in
// static storage, so that the first free of a block cannot fail for want of memory.
BlockCache& cache() noexcept {
    alignas(BlockCache) static unsigned char storage[sizeof(BlockCache)];
    static BlockCache* const instance = ::new (storage) BlockCache;
    return *instance;
}

// A small block from the heap; when the heap has no room, the kept blocks are given back
// first (under an address-space limit they may be all that stands in the way).
void* heap_allocate(std::size_t bytes) {
    if (void* p = ::operator new(bytes, std::nothrow)) return p;
    if (cache().clear())
        if (void* p = ::operator new(bytes, std::nothrow)) return p;
    throw std::bad_alloc();
}

}  // namespace

void* bulk_allocate(std::size_t bytes) {
    if (bytes < mapped_from) return heap_allocate(bytes);
    std::size_t size = round_up(bytes, huge_page);
    if (Block kept = cache().take(size); kept.start != nullptr) return kept.start;
    if (void* p = map_aligned(size)) return p;
    if (cache().clear())
        if (void* p = map_aligned(size)) return p;
    throw std::bad_alloc();
}

void bulk_deallocate(void* p, std::size_t bytes) noexcept {
    if (p == nullptr) return;
    if (bytes < mapped_from) {
        ::operator delete(p);
        return;
    }
    cache().put({p, round_up(bytes, huge_page)});
}

void bulk_release(void* p, std::size_t bytes) noexcept {
    if (p == nullptr) return;
    if (bytes < mapped_from) ::operator delete(p);
    else munmap(p, round_up(bytes, huge_page));
}

void advise_huge_pages(void* p, std::size_t bytes) noexcept {
#ifdef MADV_HUGEPAGE
    if (p == nullptr || bytes < mapped_from) return;
    auto start = reinterpret_cast<std::uintptr_t>(p);
    std::uintptr_t first = round_up(start, huge_page);
    std::uintptr_t last = (start + bytes) / huge_page * huge_page;
    if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
    (void)p;
    (void)bytes;
#endif
}

}  // namespace lumeric
