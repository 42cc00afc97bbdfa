// pool/interrupt.hpp: stopping a batch part-way when its caller is asked to.
//
// A process may set one poll hook. A thread outside the pool that waits for a batch asks it
// every poll_interval whether the batch is to stop (a thread that runs a small batch itself
// asks between its chunks). Once the hook says yes, the pieces of the batch not yet started
// are dropped: while a hook is set, every piece runs in chunks of a sixteenth of its minimum
// piece and checks the batch's stop flag before each. The chunks already running end, the caller waits for
// them as for any batch, and the batch then throws Interrupted, also when every piece had
// already started. Nested batches belong to the batch whose piece started them.
//
// A batch started inside a RunToEnd scope on its thread (one that changes data in place,
// which must not be left half done) is never polled and runs as if no hook were set.
#pragma once

#include <atomic>
#include <chrono>
#include <exception>

namespace lumeric::pool {

// The batch stopped because the poll hook asked it to; whatever the hook reports is its own.
struct Interrupted : std::exception {
    const char* what() const noexcept override { return "batch interrupted"; }
};

// Called on the thread that waits for a batch; true stops the batch. Must not throw.
using PollHook = bool (*)() noexcept;

inline constexpr std::chrono::milliseconds poll_interval{20};

namespace detail {
inline std::atomic<PollHook> poll_hook{nullptr};
inline thread_local unsigned run_to_end_depth = 0;
}  // namespace detail

// Sets (or, with nullptr, removes) the process's poll hook.
inline void set_poll_hook(PollHook hook) noexcept { detail::poll_hook.store(hook, std::memory_order_release); }

// Batches started on this thread while one lives run to the end.
class RunToEnd {
public:
    RunToEnd() noexcept { ++detail::run_to_end_depth; }
    ~RunToEnd() { --detail::run_to_end_depth; }
    RunToEnd(const RunToEnd&) = delete;
    RunToEnd& operator=(const RunToEnd&) = delete;
};

namespace detail {

// The stop state of one batch, on the stack of the thread that started it.
class Stop {
public:
    Stop() noexcept
        : hook_(run_to_end_depth == 0 ? poll_hook.load(std::memory_order_acquire) : nullptr),
          next_poll_(std::chrono::steady_clock::now() + poll_interval) {}

    // Whether anything can stop the batch: only then are its pieces cut into chunks.
    bool stoppable() const noexcept { return hook_ != nullptr; }
    bool requested() const noexcept { return requested_.load(std::memory_order_relaxed); }

    // On the starting thread: asks the hook (when `due_only`, only once the interval has
    // passed since the last time). Once the hook has said yes it is not asked again.
    void poll(bool due_only) noexcept {
        if (hook_ == nullptr || requested()) return;
        if (due_only) {
            const auto now = std::chrono::steady_clock::now();
            if (now < next_poll_) return;
            next_poll_ = now + poll_interval;
        }
        if (hook_()) requested_.store(true, std::memory_order_relaxed);
    }

private:
    PollHook hook_;
    std::chrono::steady_clock::time_point next_poll_;
    std::atomic<bool> requested_{false};
};

// The batch whose piece this thread is running, for the batches that piece starts.
inline thread_local Stop* current_stop = nullptr;

}  // namespace detail

}  // namespace lumeric::pool
