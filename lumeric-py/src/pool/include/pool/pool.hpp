// pool/pool.hpp: fork-join, ordered maps and ordered reductions on a pool of
// worker threads.
//
// A batch over n indices starts as one piece [0, n) with a split budget equal
// to the worker count. A piece halves (cut at lo + m/2) while its budget
// lasts; a piece that another worker took resets its budget to at least the
// worker count, so work keeps being split only where idle workers steal it.
// The left half runs on the current thread, the right half waits in the
// thread's deque for a thief; a batch nobody steals from therefore runs like
// a sequential loop with a handful of cuts. Within a piece indices go up one
// by one, reductions fold left to right and combine (left, right), so results
// never depend on how the work was cut or who ran it.
//
// A thread outside the pool submits the top fork-join to the entry queue and
// waits until it is done, polling as interrupt.hpp says; a pool worker never
// blocks but runs other pieces while it waits. A failure thrown inside a piece is caught there; a
// fork-join waits for both halves and then rethrows, the left half's failure
// first, so a batch reports the failure of its lowest failing index.
//
// Everything here is plain C++ and knows nothing of Python.
#pragma once

#include <algorithm>
#include <cstddef>
#include <optional>
#include <type_traits>
#include <utility>

#include "pool/interrupt.hpp"
#include "pool/job.hpp"
#include "pool/registry.hpp"
#include "pool/worker_count.hpp"

namespace lumeric::pool {

class Pool {
public:
    // A private pool with its own `workers` threads (clamped to 1..65535),
    // stopped and joined when it is destroyed. Meant for tests; batches use
    // global().
    explicit Pool(std::size_t workers);
    ~Pool();
    Pool(const Pool&) = delete;
    Pool& operator=(const Pool&) = delete;

    // The process-wide pool, created on first call with the worker count of
    // the environment and never destroyed; a forked child makes its own on
    // its first call. Throws PoolError, on the first and every later call, if
    // its threads could not be started.
    static Pool& global();

    std::size_t workers() const noexcept { return registry_->size(); }

    // Ordered map: f(lo, hi) is called on disjoint pieces covering [0, n)
    // exactly once; the caller processes lo, lo+1, ..., hi-1 in order and
    // writes result k at index k. Pieces shorter than 2 * min_piece are not
    // cut further.
    template <class F>
    void for_each_range(std::size_t n, F&& f, std::size_t min_piece = 1);

    // Ordered reduction over pieces: piece(lo, hi) reduces a non-empty range
    // to a value, combine(left, right) merges neighbours. Empty for n = 0.
    template <class Piece, class Combine>
    auto reduce_ranges(std::size_t n, Piece&& piece, Combine&& combine, std::size_t min_piece = 1)
        -> std::optional<std::invoke_result_t<Piece&, std::size_t, std::size_t>>;

private:
    struct process_tag {};
    Pool(std::size_t workers, process_tag);

    // Runs a(stolen) and b(stolen) possibly in parallel; `stolen` tells the
    // task whether it runs on a thread other than the one that created it.
    // Returns both results (void becomes std::monostate). From outside the
    // pool the wait polls `stop`.
    template <class A, class B>
    auto join_context(A&& a, B&& b, detail::Stop* stop);

    // A piece's remaining split budget and the rule that spends it.
    struct Splitter {
        std::size_t budget;
        std::size_t workers;
        std::size_t min_piece;
        bool try_split(std::size_t len, bool stolen) noexcept {
            if (len / 2 < min_piece) return false;
            if (stolen) {
                budget = std::max(workers, budget / 2);
                return true;
            }
            if (budget == 0) return false;
            budget /= 2;
            return true;
        }
    };

    // A whole batch over [0, n): a new one with its own stop state when
    // started outside the pool, a part of the running one inside it.
    template <class Leaf, class Merge>
    auto run_batch(std::size_t n, std::size_t min_piece, Leaf& leaf, Merge& merge)
        -> std::invoke_result_t<Leaf&, std::size_t, std::size_t>;

    // Runs piece [lo, hi) and its sub-pieces, merging results with `merge`.
    template <class Leaf, class Merge>
    auto run_piece(std::size_t lo, std::size_t hi, Splitter split, bool stolen, Leaf& leaf, Merge& merge,
                   detail::Stop* stop) -> std::invoke_result_t<Leaf&, std::size_t, std::size_t>;

    // An uncut piece: whole, or, when its batch can be stopped, in chunks with
    // the stop flag checked before each. A chunk is a fraction of the minimum
    // piece: it costs no hand-over, and a chunk of elements many times dearer
    // than usual (a query that visits every leaf) still ends soon.
    static constexpr std::size_t chunks_per_min_piece = 16;
    template <class Leaf, class Merge>
    auto run_leaf(std::size_t lo, std::size_t hi, std::size_t chunk, Leaf& leaf, Merge& merge, detail::Stop* stop)
        -> std::invoke_result_t<Leaf&, std::size_t, std::size_t>;

    template <class Op>
    auto run_from_outside(Op& op, detail::Stop* stop);

    detail::Registry* registry_;
};

// The process-wide pool's worker count; creates the pool if needed. Throws
// PoolError when the pool could not be started.
inline std::size_t worker_count() { return Pool::global().workers(); }

// The process-wide pool's for_each_range and reduce_ranges.
template <class F>
void for_each_range(std::size_t n, F&& f, std::size_t min_piece = 1) {
    Pool::global().for_each_range(n, std::forward<F>(f), min_piece);
}
template <class Piece, class Combine>
auto reduce_ranges(std::size_t n, Piece&& piece, Combine&& combine, std::size_t min_piece = 1) {
    return Pool::global().reduce_ranges(n, std::forward<Piece>(piece), std::forward<Combine>(combine), min_piece);
}

// ---------------------------------------------------------------------------

namespace detail {

// Fork-join on worker `self`: push b for thieves, run a here, then take b
// back and run it here unless a thief has it, in which case keep working on
// other jobs until it is done. Both halves always finish before a failure of
// either is rethrown (a's first).
template <class A, class B>
auto join_on_worker(WorkerThread& self, A& a, B& b, bool a_stolen) {
    StackJob<B> job_b(b, self);
    self.push(&job_b);
    Outcome<value_result_t<A&, bool>> left;
    left.capture(a, a_stolen);
    while (!job_b.latch.probe()) {
        Job* job = nullptr;
        if (!self.deque.pop(job)) {
            self.wait_until(job_b.latch);  // a thief has b
            break;
        }
        if (job == &job_b) {
            job_b.run_inline();
            break;
        }
        job->execute();  // left behind by a nested fork-join; not expected
    }
    auto l = left.take();
    auto r = job_b.outcome.take();
    return std::pair<decltype(l), decltype(r)>(std::move(l), std::move(r));
}

}  // namespace detail

template <class Op>
auto Pool::run_from_outside(Op& op, detail::Stop* stop) {
    using Result = detail::value_result_t<Op&, detail::WorkerThread&>;
    struct Submitted : detail::Job {
        Op* op;
        detail::LockLatch latch;
        detail::Outcome<Result> outcome;
        static void run_here(detail::Job* job) noexcept {
            auto* self = static_cast<Submitted*>(job);
            self->outcome.capture(*self->op, *detail::current_worker_thread());
            self->latch.set();
        }
    };
    Submitted job{{&Submitted::run_here}, &op, {}, {}};
    registry_->inject(&job);
    while (!job.latch.wait_for(poll_interval))
        if (stop != nullptr) stop->poll(false);
    return job.outcome.take();
}

template <class A, class B>
auto Pool::join_context(A&& a, B&& b, detail::Stop* stop) {
    if (detail::WorkerThread* self = registry_->current_worker())
        return detail::join_on_worker(*self, a, b, false);
    // From outside: the whole fork-join becomes one submitted task, and its
    // left half counts as taken by another thread.
    auto op = [&a, &b](detail::WorkerThread& self) { return detail::join_on_worker(self, a, b, true); };
    return run_from_outside(op, stop);
}

template <class Leaf, class Merge>
auto Pool::run_leaf(std::size_t lo, std::size_t hi, std::size_t chunk, Leaf& leaf, Merge& merge, detail::Stop* stop)
    -> std::invoke_result_t<Leaf&, std::size_t, std::size_t> {
    if (stop == nullptr || !stop->stoppable()) return leaf(lo, hi);
    struct Current {  // the batch of this piece, for batches it starts
        detail::Stop* outer;
        explicit Current(detail::Stop* s) noexcept : outer(std::exchange(detail::current_stop, s)) {}
        ~Current() { detail::current_stop = outer; }
    } current(stop);
    const bool caller = registry_->current_worker() == nullptr;
    // The next chunk after `from`: `chunk` indices, the last one taking the rest, so that
    // no chunk is shorter than the minimum piece.
    auto chunk_from = [&](std::size_t from) {
        if (caller) stop->poll(true);
        if (stop->requested()) throw Interrupted{};
        return hi - from >= 2 * chunk ? from + chunk : hi;
    };
    std::size_t end = chunk_from(lo);
    auto result = leaf(lo, end);
    while (end < hi) {
        const std::size_t from = end;
        end = chunk_from(from);
        result = merge(std::move(result), leaf(from, end));
    }
    return result;
}

template <class Leaf, class Merge>
auto Pool::run_piece(std::size_t lo, std::size_t hi, Splitter split, bool stolen, Leaf& leaf, Merge& merge,
                     detail::Stop* stop) -> std::invoke_result_t<Leaf&, std::size_t, std::size_t> {
    if (!split.try_split(hi - lo, stolen))
        return run_leaf(lo, hi, std::max<std::size_t>(split.min_piece / chunks_per_min_piece, 1), leaf, merge, stop);
    std::size_t mid = lo + (hi - lo) / 2;
    auto [left, right] = join_context(
        [&](bool s) { return run_piece(lo, mid, split, s, leaf, merge, stop); },
        [&](bool s) { return run_piece(mid, hi, split, s, leaf, merge, stop); }, stop);
    return merge(std::move(left), std::move(right));
}

template <class Leaf, class Merge>
auto Pool::run_batch(std::size_t n, std::size_t min_piece, Leaf& leaf, Merge& merge)
    -> std::invoke_result_t<Leaf&, std::size_t, std::size_t> {
    const Splitter split{workers(), workers(), std::max<std::size_t>(min_piece, 1)};
    if (registry_->current_worker() != nullptr)
        return run_piece(0, n, split, false, leaf, merge, detail::current_stop);
    detail::Stop stop;
    try {
        auto result = run_piece(0, n, split, false, leaf, merge, &stop);
        // The hook has reported why (a Python exception, say): the result cannot be handed back.
        if (stop.requested()) throw Interrupted{};
        return result;
    } catch (...) {
        if (stop.requested()) throw Interrupted{};
        throw;
    }
}

template <class F>
void Pool::for_each_range(std::size_t n, F&& f, std::size_t min_piece) {
    if (n == 0) return;
    auto leaf = [&f](std::size_t lo, std::size_t hi) {
        f(lo, hi);
        return std::monostate{};
    };
    auto merge = [](std::monostate, std::monostate) { return std::monostate{}; };
    run_batch(n, min_piece, leaf, merge);
}

template <class Piece, class Combine>
auto Pool::reduce_ranges(std::size_t n, Piece&& piece, Combine&& combine, std::size_t min_piece)
    -> std::optional<std::invoke_result_t<Piece&, std::size_t, std::size_t>> {
    if (n == 0) return std::nullopt;
    return run_batch(n, min_piece, piece, combine);
}

}  // namespace lumeric::pool
