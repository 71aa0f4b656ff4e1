// Work on a large model shared among a few threads. Every result is put together in a fixed
// order, so the output is the same whatever the number of threads. An exception on a thread is
// caught there and thrown again on the caller's once every thread has finished.
#pragma once

#include <algorithm>
#include <cstddef>
#include <exception>
#include <vector>

// a build without threads (ROKCONV_THREADS=0, as a WebAssembly build is) has none of the code
// below that starts them, and needs no thread library: everything runs on the caller's thread
#ifndef ROKCONV_THREADS
#define ROKCONV_THREADS 1
#endif
#if ROKCONV_THREADS
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#endif

namespace rokconv {

// Below this many points a model is worked on by the caller's thread alone: a small file pays
// nothing for threads, and a batch of them (rokconv -j) already keeps the cores busy.
inline constexpr std::size_t kParallelPoints = 50'000;

// the most threads one conversion shares its work among: past 4 the work's memory bandwidth,
// not the cores, sets its speed
inline constexpr unsigned kMostThreads = 4;

// the threads a caller's budget allows: 0 is one a core, and a machine that cannot say how many
// cores it has is taken to have one
inline unsigned budget_threads(unsigned budget) {
#if ROKCONV_THREADS
    if (budget != 0) return budget;
    return std::max(std::thread::hardware_concurrency(), 1u);
#else
    (void)budget;
    return 1;
#endif
}

// the threads worth starting for a model of so many points within the budget: 1 for a small one,
// else the budget's, up to kMostThreads
inline unsigned threads_for(std::size_t points, unsigned budget) {
    if (points < kParallelPoints) return 1;
    return std::min(budget_threads(budget), kMostThreads);
}

// Runs work(t) for each t in [0, threads), t = 0 on the calling thread. Where a thread cannot
// be started, its share runs on the caller after its own.
template <class Work>
void run_on(unsigned threads, Work work) {
    std::vector<std::exception_ptr> errors(threads);
    auto guarded = [&](unsigned t) {
        try {
            work(t);
        } catch (...) {
            errors[t] = std::current_exception();
        }
    };
    unsigned next = 1;
#if ROKCONV_THREADS
    std::vector<std::thread> started;
    try {
        started.reserve(threads);
        for (; next < threads; ++next)
            started.emplace_back(guarded, next);
    } catch (const std::exception&) {
        // no more threads: the rest are run here
    }
#endif
    guarded(0);
    for (unsigned t = next; t < threads; ++t)
        guarded(t);
#if ROKCONV_THREADS
    for (std::thread& thread : started)
        thread.join();
#endif
    for (const std::exception_ptr& e : errors)
        if (e) std::rethrow_exception(e);
}

// The same for the items [0, count): thread t takes the t-th of threads nearly equal ranges,
// as work(begin, end).
template <class Work>
void for_ranges(std::size_t count, unsigned threads, Work work) {
    threads = static_cast<unsigned>(std::clamp<std::size_t>(count, 1, threads));
    run_on(threads, [&](unsigned t) { work(count * t / threads, count * (t + 1) / threads); });
}

// Makes the pieces [0, count) of an output, each by make(k, buffer) into a buffer of its own,
// and hands them to take(buffer) in order on the calling thread. With more than one thread the
// pieces are made by all of them, the caller included while it waits, at most two a thread
// ahead of the one taken, so that only a few are held at once. Buffer is any default
// constructible type that can be made again. beside(), work of another kind that make does not
// touch, is done first by one of the other threads, or by the caller alone before the pieces.
template <class Buffer, class Make, class Take, class Beside>
void in_order(std::size_t count, unsigned threads, Make make, Take take, Beside beside) {
    threads = ROKCONV_THREADS ? static_cast<unsigned>(std::min<std::size_t>(threads, count)) : 1;
    if (threads <= 1) {
        beside();
        Buffer buffer;
        for (std::size_t k = 0; k < count; ++k) {
            make(k, buffer);
            take(buffer);
        }
        return;
    }
#if ROKCONV_THREADS
    const std::size_t window = 2 * std::size_t{threads};
    struct Slot {
        Buffer buffer;
        bool ready = false;
    };
    std::vector<Slot> slots(window);
    std::mutex mutex;
    std::condition_variable changed;
    std::size_t claimed = 0;  // pieces given out to be made
    std::size_t taken = 0;    // pieces handed on
    bool stop = false;
    std::exception_ptr error;

    // makes the next piece, if one may be made now; holds the lock on return
    auto make_one = [&](std::unique_lock<std::mutex>& lock) {
        if (stop || claimed >= count || claimed >= taken + window) return false;
        const std::size_t k = claimed++;
        Slot& slot = slots[k % window];
        lock.unlock();
        try {
            make(k, slot.buffer);
        } catch (...) {
            lock.lock();
            if (!error) error = std::current_exception();
            stop = true;
            changed.notify_all();
            return true;
        }
        lock.lock();
        slot.ready = true;
        changed.notify_all();
        return true;
    };
    auto do_beside = [&] {
        try {
            beside();
        } catch (...) {
            std::unique_lock lock(mutex);
            if (!error) error = std::current_exception();
            stop = true;
            changed.notify_all();
        }
    };
    auto worker = [&](bool first) {
        if (first) do_beside();
        std::unique_lock lock(mutex);
        while (!stop && claimed < count) {
            if (!make_one(lock)) changed.wait(lock);
        }
    };
    std::vector<std::thread> started;
    try {
        started.reserve(threads - 1);
        for (unsigned t = 1; t < threads; ++t)
            started.emplace_back(worker, t == 1);
    } catch (const std::exception&) {
        // fewer threads, or the caller's alone
    }
    if (started.empty()) do_beside();
    {
        std::unique_lock lock(mutex);
        for (; taken < count && !stop;) {
            Slot& slot = slots[taken % window];
            if (!slot.ready) {
                if (!make_one(lock)) changed.wait(lock);
                continue;
            }
            lock.unlock();
            try {
                take(slot.buffer);
            } catch (...) {
                lock.lock();
                if (!error) error = std::current_exception();
                stop = true;
                break;
            }
            lock.lock();
            slot.ready = false;
            ++taken;
            changed.notify_all();
        }
        stop = true;
        changed.notify_all();
    }
    for (std::thread& thread : started)
        thread.join();
    if (error) std::rethrow_exception(error);
#endif
}

template <class Buffer, class Make, class Take>
void in_order(std::size_t count, unsigned threads, Make make, Take take) {
    in_order<Buffer>(count, threads, make, take, [] {});
}

}  // namespace rokconv
