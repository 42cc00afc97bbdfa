// pool/registry.cpp: worker start-up, the idle loop, stealing and sleep.
//
// Sleep protocol: a worker about to sleep sets its `sleeping` flag under its
// own mutex, counts itself in `sleepers_`, then looks once more for work. A
// publisher makes its job visible, then reads `sleepers_`. A seq_cst fence on
// each side of this store-then-load pair guarantees that either the publisher
// sees the sleeper (and wakes one) or the sleeper sees the job. Whoever
// clears a `sleeping` flag does it under that worker's mutex and uncounts it,
// so a flag is cleared exactly once.
//
// Only the entry queue needs that guarantee for progress: a job in a worker's
// deque always has an awake owner that pops it back or finds it before it
// sleeps. Deques are therefore looked at only for parallelism, and a look
// visits at most `victims_per_look` of them, so that a pool with far more
// workers than processors does not spend quadratic time scanning.
#include "pool/registry.hpp"

#include <pthread.h>
#include <signal.h>

#include <algorithm>
#include <system_error>

namespace lumeric::pool::detail {

namespace {

thread_local WorkerThread* tls_worker = nullptr;

// Failed look-ups before a worker sleeps. Each round ends in a yield, so this
// is some tens of microseconds: long enough to catch the next batch when
// they come back to back, short enough that an idle pool goes quiet at once.
constexpr int idle_rounds_before_sleep = 64;
// A worker waiting for the stolen half of its own fork-join spins longer:
// that half usually ends within microseconds, and a wake-up from sleep costs
// tens of them (measured: a 16k-element batch on two workers took 52 us with
// 64 rounds here and 20 us with 256).
constexpr int join_rounds_before_sleep = 256;

constexpr std::size_t victims_per_look = 64;

std::uint64_t next_random(std::uint64_t& state) noexcept {
    // xorshift: cheap, and good enough to spread thieves over victims.
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
}

}  // namespace

WorkerThread* current_worker_thread() noexcept { return tls_worker; }

void wake_sleeping_worker(WorkerThread& worker) noexcept { worker.registry->wake(worker); }

void WorkerThread::push(Job* job) {
    deque.push(job);
    registry->notify_new_work();
}

void WorkerThread::wait_until(SpinLatch& latch) noexcept { registry->work_until(*this, &latch, 0); }

Registry::Registry(std::size_t workers, Lifetime lifetime) : lifetime_(lifetime) {
    workers_.reserve(workers);
    for (std::size_t i = 0; i < workers; ++i) workers_.push_back(std::make_unique<WorkerThread>(*this, i));
    if (lifetime_ == Lifetime::scoped) threads_.reserve(workers);
}

Registry* Registry::create(std::size_t workers, Lifetime lifetime) {
    auto* registry = new Registry(workers, lifetime);
    try {
        registry->start();
    } catch (const std::exception& e) {
        // Threads already started are parked in the registry: tell them to
        // leave. A scoped registry waits for them and is freed; the
        // process-wide one is leaked, since detached threads may still be on
        // their way out through it.
        registry->stop_workers();
        if (lifetime == Lifetime::scoped) {
            for (auto& t : registry->threads_) t.join();
            delete registry;
        }
        throw PoolError(std::string(pool_error_prefix) + ": could not start worker threads: " + e.what());
    }
    return registry;
}

void Registry::start() {
    // Workers start with every signal blocked, so that signals meant for the
    // process land on the application's own threads.
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    try {
        for (auto& w : workers_) {
            std::thread t([this, worker = w.get()] { main_loop(*worker); });
            if (lifetime_ == Lifetime::process)
                t.detach();
            else
                threads_.push_back(std::move(t));  // capacity reserved: cannot throw
        }
    } catch (...) {
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        throw;
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

void Registry::stop_workers() noexcept {
    terminating_.store(true, std::memory_order_seq_cst);
    for (auto& w : workers_) wake(*w);
}

void Registry::destroy() noexcept {
    if (lifetime_ != Lifetime::scoped) return;
    stop_workers();
    for (auto& t : threads_) t.join();
    delete this;
}

void Registry::inject(Job* job) {
    {
        std::lock_guard<std::mutex> guard(entry_mutex_);
        entry_.push_back(job);
        entry_count_.store(entry_.size(), std::memory_order_relaxed);
    }
    notify_new_work();
}

void Registry::notify_new_work() noexcept {
    // Pairs with the fence in sleep(): see the protocol at the top of the file.
    std::atomic_thread_fence(std::memory_order_seq_cst);
    if (sleepers_.load(std::memory_order_relaxed) == 0) return;
    std::size_t n = workers_.size();
    std::size_t start = wake_cursor_.fetch_add(1, std::memory_order_relaxed) % n;
    for (std::size_t k = 0; k < n; ++k) {
        if (wake(*workers_[(start + k) % n])) return;
    }
}

bool Registry::wake(WorkerThread& worker) noexcept {
    std::lock_guard<std::mutex> guard(worker.sleep_mutex);
    if (!worker.sleeping) return false;
    worker.sleeping = false;
    sleepers_.fetch_sub(1, std::memory_order_relaxed);
    worker.wake.notify_one();
    return true;
}

void Registry::main_loop(WorkerThread& self) noexcept {
    tls_worker = &self;
    // A new worker has had no work yet, so it skips the spinning and dozes
    // off at once: starting many workers costs no scanning.
    work_until(self, nullptr, idle_rounds_before_sleep);
    tls_worker = nullptr;
}

bool Registry::finished(SpinLatch* latch) const noexcept {
    return latch != nullptr ? latch->probe() : terminating_.load(std::memory_order_acquire);
}

void Registry::work_until(WorkerThread& self, SpinLatch* latch, int idle) noexcept {
    const int rounds = latch != nullptr ? join_rounds_before_sleep : idle_rounds_before_sleep;
    while (!finished(latch)) {
        if (Job* job = find_work(self)) {
            job->execute();
            idle = 0;
        } else if (idle < rounds) {
            ++idle;
            std::this_thread::yield();
        } else {
            sleep(self, latch);
            idle = 0;
        }
    }
}

Job* Registry::find_work(WorkerThread& self) noexcept {
    Job* job = nullptr;
    if (self.deque.pop(job)) return job;

    std::size_t n = workers_.size();
    std::size_t looks = std::min(n - 1, victims_per_look);
    std::size_t start = static_cast<std::size_t>(next_random(self.rng) % n);
    for (std::size_t k = 0; k < looks; ++k) {
        std::size_t v = (start + k) % n;
        if (v == self.index) v = (start + looks) % n;  // take one more instead of self
        for (;;) {
            auto r = workers_[v]->deque.steal(job);
            if (r == WorkDeque<Job*>::Steal::success) return job;
            if (r == WorkDeque<Job*>::Steal::empty) break;
        }
    }

    if (entry_count_.load(std::memory_order_relaxed) > 0) {
        std::lock_guard<std::mutex> guard(entry_mutex_);
        if (!entry_.empty()) {
            job = entry_.front();
            entry_.pop_front();
            entry_count_.store(entry_.size(), std::memory_order_relaxed);
            return job;
        }
    }
    return nullptr;
}

bool Registry::has_visible_work(WorkerThread& self) noexcept {
    if (entry_count_.load(std::memory_order_relaxed) > 0) return true;
    std::size_t n = workers_.size();
    std::size_t looks = std::min(n, victims_per_look);
    std::size_t start = static_cast<std::size_t>(next_random(self.rng) % n);
    for (std::size_t k = 0; k < looks; ++k)
        if (!workers_[(start + k) % n]->deque.looks_empty()) return true;
    return false;
}

void Registry::sleep(WorkerThread& self, SpinLatch* latch) noexcept {
    {
        std::lock_guard<std::mutex> guard(self.sleep_mutex);
        if (latch != nullptr && !latch->announce_sleep()) return;  // already set
        self.sleeping = true;
        sleepers_.fetch_add(1, std::memory_order_relaxed);
    }
    // Pairs with the fence in notify_new_work(). Without it a job pushed just
    // now could be missed by this check while the pusher still read zero
    // sleepers, and the job would wait for the next unrelated wake-up.
    std::atomic_thread_fence(std::memory_order_seq_cst);
    std::unique_lock<std::mutex> lock(self.sleep_mutex);
    if (has_visible_work(self) || finished(latch) || terminating_.load(std::memory_order_relaxed)) {
        if (self.sleeping) {
            self.sleeping = false;
            sleepers_.fetch_sub(1, std::memory_order_relaxed);
        }
        return;
    }
    // Woken by a publisher, by the latch's setter, or by shutdown; each
    // clears the flag under this mutex.
    self.wake.wait(lock, [&] { return !self.sleeping; });
}

}  // namespace lumeric::pool::detail
