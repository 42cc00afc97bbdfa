// pool/pool.cpp: the process-wide pool, its one-time creation, and a fresh one after fork().
//
// The pool lives in a slot that the first caller fills under std::call_once, which runs
// the creation exactly once however many threads race for it. Creation never throws out
// of it: a failure is recorded and reported by every call, now and later. Pool and
// registry are leaked on purpose so no destructor runs at exit while detached workers
// still sleep in them.
//
// A forked child has only the thread that called fork(): the workers are gone, and a
// lock of the old pool may be held by a thread that no longer exists. The child-side
// fork handler therefore does nothing but move the slot pointer aside (atomic stores,
// safe in a signal handler); the child's next batch makes a new slot and a new pool,
// sized by the same rules, its affinity mask read anew. The old pool is abandoned: never
// locked, joined or freed, only kept reachable so leak checkers do not report it. The
// parent is not affected.
#include "pool/pool.hpp"

#include <pthread.h>

#include <atomic>
#include <mutex>
#include <string>

namespace lumeric::pool {

Pool::Pool(std::size_t workers)
    : registry_(detail::Registry::create(std::clamp<std::size_t>(workers, 1, max_workers),
                                         detail::Registry::Lifetime::scoped)) {}

Pool::Pool(std::size_t workers, process_tag)
    : registry_(detail::Registry::create(workers, detail::Registry::Lifetime::process)) {}

Pool::~Pool() { registry_->destroy(); }

namespace {

struct GlobalSlot {
    std::once_flag made;
    Pool* pool = nullptr;
    std::string error;
    GlobalSlot* abandoned = nullptr;  // the slot of the process this one was forked from
};

std::atomic<GlobalSlot*> current_slot{nullptr};
std::atomic<GlobalSlot*> abandoned_slot{nullptr};
std::atomic<bool> fork_handler_registered{false};

void abandon_pool_in_child() noexcept {
    if (GlobalSlot* old = current_slot.exchange(nullptr, std::memory_order_relaxed))
        abandoned_slot.store(old, std::memory_order_relaxed);
}

GlobalSlot& global_slot() {
    GlobalSlot* slot = current_slot.load(std::memory_order_acquire);
    if (slot != nullptr) [[likely]] return *slot;
    auto* fresh = new GlobalSlot;
    fresh->abandoned = abandoned_slot.load(std::memory_order_relaxed);
    if (current_slot.compare_exchange_strong(slot, fresh, std::memory_order_acq_rel, std::memory_order_acquire))
        return *fresh;
    delete fresh;  // another thread was first
    return *slot;
}

}  // namespace

Pool& Pool::global() {
    GlobalSlot& slot = global_slot();
    std::call_once(slot.made, [&slot] {
        if (!fork_handler_registered.exchange(true)) pthread_atfork(nullptr, nullptr, &abandon_pool_in_child);
        try {
            slot.pool = new Pool(worker_count_from_environment(), process_tag{});
        } catch (const PoolError& e) {
            slot.error = e.what();
        } catch (const std::exception& e) {
            slot.error = std::string(pool_error_prefix) + ": " + e.what();
        }
    });
    if (slot.pool == nullptr) throw PoolError(slot.error);
    return *slot.pool;
}

}  // namespace lumeric::pool
