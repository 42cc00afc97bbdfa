// pool/pool.cpp: the process-wide pool and its one-time creation.
//
// The pool is created by the first caller under a function-local static,
// which the language initialises exactly once however many threads race for
// it. Creation never throws out of the initialiser: a failure is recorded and
// reported by every call, now and later. Pool and registry are leaked on
// purpose so no destructor runs at exit while detached workers still sleep in
// them.
#include "pool/pool.hpp"

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
    Pool* pool = nullptr;
    std::string error;
};

}  // namespace

Pool& Pool::global() {
    static const GlobalSlot* const slot = [] {
        auto* created = new GlobalSlot;
        try {
            created->pool = new Pool(worker_count_from_environment(), process_tag{});
        } catch (const PoolError& e) {
            created->error = e.what();
        } catch (const std::exception& e) {
            created->error = std::string(pool_error_prefix) + ": " + e.what();
        }
        return created;
    }();
    if (slot->pool == nullptr) throw PoolError(slot->error);
    return *slot->pool;
}

}  // namespace lumeric::pool
