// pool/registry.hpp: the worker threads, their queues and their sleep.
//
// A Registry owns W workers. Each worker has a work-stealing deque and its own
// sleep mutex and condition variable; threads outside the pool hand work in
// through one shared entry queue (mutex-protected: it sees one push per batch,
// not one per piece). An idle worker looks in its own deque, then steals the
// oldest job of another worker, then takes from the entry queue; after a short
// spell of yielding it sleeps until someone publishes work or sets the latch
// it waits on, so an idle pool uses no processor time.
//
// The process-wide registry is never destroyed: its threads are detached and
// may still be parked in it while the process exits. Registries made for
// tests are "scoped": destroy() stops and joins their threads.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "pool/deque.hpp"
#include "pool/job.hpp"

namespace lumeric::pool {

// The worker threads could not be started.
class PoolError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

inline constexpr const char* pool_error_prefix = "The global thread pool has not been initialized.";

}  // namespace lumeric::pool

namespace lumeric::pool::detail {

class Registry;

struct alignas(64) WorkerThread {
    WorkerThread(Registry& r, std::size_t i) : registry(&r), index(i), rng(0x9e3779b97f4a7c15ull * (i + 1)) {}

    Registry* registry;
    std::size_t index;
    WorkDeque<Job*> deque;
    std::uint64_t rng;  // victim choice; owner only

    std::mutex sleep_mutex;
    std::condition_variable wake;
    bool sleeping = false;  // guarded by sleep_mutex

    void push(Job* job);  // may throw std::bad_alloc when the deque grows
    // Runs other jobs (and dozes when there are none) until `latch` is set.
    void wait_until(SpinLatch& latch) noexcept;
};

// The pool worker running on this thread, or nullptr outside any pool.
WorkerThread* current_worker_thread() noexcept;

class Registry {
public:
    enum class Lifetime { process, scoped };

    // Starts `workers` threads; throws PoolError if they cannot be started.
    static Registry* create(std::size_t workers, Lifetime lifetime);
    // Scoped registries only: stop and join the workers, then free.
    void destroy() noexcept;

    std::size_t size() const noexcept { return workers_.size(); }

    // This thread's worker if it belongs to this registry, else nullptr.
    WorkerThread* current_worker() const noexcept {
        WorkerThread* w = current_worker_thread();
        return w != nullptr && w->registry == this ? w : nullptr;
    }

    // Entry queue for threads outside the pool.
    void inject(Job* job);
    // Wakes one sleeping worker if any; call after publishing a job.
    void notify_new_work() noexcept;
    // Clears `worker`'s sleeping flag and signals it; false if it was awake.
    bool wake(WorkerThread& worker) noexcept;

private:
    friend struct WorkerThread;

    Registry(std::size_t workers, Lifetime lifetime);
    void start();
    void stop_workers() noexcept;
    void main_loop(WorkerThread& self) noexcept;
    void work_until(WorkerThread& self, SpinLatch* latch, int idle) noexcept;
    Job* find_work(WorkerThread& self) noexcept;
    void sleep(WorkerThread& self, SpinLatch* latch) noexcept;
    bool has_visible_work(WorkerThread& self) noexcept;
    bool finished(SpinLatch* latch) const noexcept;

    Lifetime lifetime_;
    std::vector<std::unique_ptr<WorkerThread>> workers_;
    std::vector<std::thread> threads_;  // scoped registries only

    std::mutex entry_mutex_;
    std::deque<Job*> entry_;                         // guarded by entry_mutex_
    std::atomic<std::size_t> entry_count_{0};        // hint, written under entry_mutex_
    std::atomic<std::size_t> sleepers_{0};           // workers with sleeping == true
    std::atomic<std::size_t> wake_cursor_{0};
    std::atomic<bool> terminating_{false};
};

}  // namespace lumeric::pool::detail
