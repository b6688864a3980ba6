// The process-wide worker pool: the one parallel mechanism of the module.
//
// Created by the first parallel step, sized once, never shut down. The calling
// thread hands a step over as one job and sleeps until every piece is done; it
// does no share of the work itself. Jobs of several calling threads share the
// workers (the oldest job first), and each caller waits for its own job only.
// Workers see only plain buffers.
//
// Every helper here returns the same result for every thread count and every
// division of the work, provided the caller's combine step is associative.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <optional>
#include <utility>
#include <vector>

namespace veltrane::pool {

// Runs task(i) for every i in [0, tasks) on the pool and returns when all are
// done. The first exception a task throws is rethrown here after the others
// have finished (tasks not started yet are skipped). Runs inline when called
// from a pool thread, from code the interrupt hook runs while this thread waits
// for a job, or when there is at most one task. Throws std::bad_alloc or
// std::runtime_error if the pool cannot start, and Cancelled (cancel.hpp) once
// every worker has stopped if the calling thread's interrupt hook said stop.
void run_tasks(std::size_t tasks, void (*task)(void* context, std::size_t index), void* context);

template <class F>
void run_tasks(std::size_t tasks, F&& task) {
    run_tasks(
        tasks, [](void* context, std::size_t index) { (*static_cast<F*>(context))(index); },
        const_cast<void*>(static_cast<const void*>(&task)));
}

// Thread-local storage of a library loaded at run time (this module's and the
// C++ runtime's exception state) is allocated on a thread's first use; if that
// first use is a throw of std::bad_alloc with memory exhausted, the loader
// aborts the process. Threads that may throw call this early to allocate it.
void prepare_thread() noexcept;

// The number of threads the pool has (creating it if needed).
std::size_t thread_count();

// How many pieces to cut `items` work items into: enough for load balance on
// this pool, never more than the items.
std::size_t piece_count(std::size_t items);

// Splits [0, items) into `pieces` consecutive ranges; returns piece p's range.
inline std::pair<std::size_t, std::size_t> piece_range(std::size_t items, std::size_t pieces, std::size_t p) {
    std::size_t base = items / pieces, extra = items % pieces;
    std::size_t begin = p * base + std::min(p, extra);
    return {begin, begin + base + (p < extra ? 1 : 0)};
}

// Parallel fold over [0, items): each piece folds its range with
// `fold(acc, begin, end)` from `identity`, and the piece results are combined
// in range order with `combine(earlier, later)`.
template <class T, class Fold, class Combine>
T parallel_reduce(std::size_t items, const T& identity, Fold&& fold, Combine&& combine) {
    std::size_t pieces = piece_count(items);
    if (pieces <= 1) {
        T acc = identity;
        fold(acc, 0, items);
        return acc;
    }
    std::vector<T> results(pieces, identity);
    run_tasks(pieces, [&](std::size_t p) {
        auto [begin, end] = piece_range(items, pieces, p);
        fold(results[p], begin, end);
    });
    T acc = std::move(results[0]);
    for (std::size_t p = 1; p < pieces; ++p) combine(acc, std::move(results[p]));
    return acc;
}

}  // namespace veltrane::pool
