// pool/job.hpp: units of work and the latches that report their completion.
//
// A Job is a type-erased pointer to work that lives on the stack of the
// thread that created it; the creator never leaves that frame before the
// job's latch is set, so no job is ever allocated or copied. Two latches:
//  - SpinLatch, for a fork-join run inside the pool: the forking worker keeps
//    working (and may doze) until the thief that took its right half sets it;
//  - LockLatch, one per task submitted from outside the pool, on whose mutex and
//    condition variable the submitting thread waits until the task is done (one per task,
//    not per thread: the code a waiting thread runs while it polls may submit a task too).
// Either way completion is a release by the finisher and an acquire by the
// waiter, so everything the job wrote is visible once the wait ends.
#pragma once

#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <type_traits>
#include <utility>
#include <variant>

namespace lumeric::pool::detail {

struct Job {
    void (*run)(Job*) noexcept;
    void execute() noexcept { run(this); }
};

struct WorkerThread;
void wake_sleeping_worker(WorkerThread& worker) noexcept;

class SpinLatch {
public:
    explicit SpinLatch(WorkerThread& owner) noexcept : owner_(&owner) {}

    bool probe() const noexcept { return state_.load(std::memory_order_acquire) == set_state; }

    void set() noexcept {
        // Copy the owner first: once the state reads "set" the owner may
        // return and the latch (on its stack) may be gone.
        WorkerThread* owner = owner_;
        if (state_.exchange(set_state, std::memory_order_acq_rel) == sleeping_state)
            wake_sleeping_worker(*owner);
    }

    // Called by the owner, under its sleep mutex, just before it dozes off.
    // False when the latch is already set, so there is nothing to wait for.
    // A setter that then finds "sleeping" wakes the owner through the same
    // mutex, so the wake-up cannot fall between this call and the wait.
    bool announce_sleep() noexcept {
        int expected = unset_state;
        return state_.compare_exchange_strong(expected, sleeping_state, std::memory_order_acq_rel) ||
               expected == sleeping_state;
    }

private:
    static constexpr int unset_state = 0, sleeping_state = 1, set_state = 2;
    std::atomic<int> state_{unset_state};
    WorkerThread* owner_;
};

class LockLatch {
public:
    void set() noexcept {
        // Notify while holding the lock so the waiter cannot run off before
        // this thread has stopped touching the latch.
        std::lock_guard<std::mutex> guard(mutex_);
        done_ = true;
        cv_.notify_one();
    }
    // True once set; false when `timeout` passed first.
    template <class Duration>
    bool wait_for(Duration timeout) {
        std::unique_lock<std::mutex> lock(mutex_);
        return cv_.wait_for(lock, timeout, [this] { return done_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool done_ = false;
};

// Result type of invoking F, with void turned into an empty value so that
// every task has something to hand back.
template <class F, class... Args>
using value_result_t = std::conditional_t<std::is_void_v<std::invoke_result_t<F, Args...>>,
                                          std::monostate, std::invoke_result_t<F, Args...>>;

// A task's value or the failure that replaced it.
template <class R>
struct Outcome {
    std::optional<R> value;
    std::exception_ptr error;

    template <class F, class... Args>
    void capture(F& f, Args&&... args) noexcept {
        try {
            if constexpr (std::is_void_v<std::invoke_result_t<F&, Args...>>) {
                std::invoke(f, std::forward<Args>(args)...);
                value.emplace();
            } else {
                value.emplace(std::invoke(f, std::forward<Args>(args)...));
            }
        } catch (...) {
            error = std::current_exception();
        }
    }
    R take() {
        if (error) std::rethrow_exception(error);
        return std::move(*value);
    }
};

// The right half of a fork-join: `body(stolen)` where stolen tells whether a
// thread other than the forking one runs it.
template <class Body>
struct StackJob : Job {
    using Result = value_result_t<Body&, bool>;

    StackJob(Body& b, WorkerThread& owner) : Job{&run_stolen}, body(b), latch(owner) {}

    static void run_stolen(Job* job) noexcept {
        auto* self = static_cast<StackJob*>(job);
        self->outcome.capture(self->body, true);
        self->latch.set();
    }
    void run_inline() noexcept { outcome.capture(body, false); }

    Body& body;
    SpinLatch latch;
    Outcome<Result> outcome;
};

}  // namespace lumeric::pool::detail
