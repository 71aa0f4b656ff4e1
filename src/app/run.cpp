#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "app/app.hpp"

namespace rokconv {

namespace {

using Clock = std::chrono::steady_clock;

// One line of progress on a terminal's standard error: files done of all, and the input read
// a second. Drawn anew over itself, and cleared before anything else is printed.
class Progress {
  public:
    Progress(bool shown, std::size_t files) : shown_(shown), files_(files) {}

    void show(std::size_t done, std::uint64_t bytes) {
        // at most ten times a second: a terminal is slow to draw
        const Clock::time_point now = Clock::now();
        if (!shown_ || (drawn_ && done < files_ && now - last_ < std::chrono::milliseconds(100))) {
            return;
        }
        last_ = now;
        const double seconds = std::chrono::duration<double>(now - start_).count();
        const double rate = seconds > 0 ? static_cast<double>(bytes) / 1e6 / seconds : 0.0;
        std::fprintf(stderr, "\r\033[Krokconv: %zu of %zu files, %.1f MB/s", done, files_, rate);
        std::fflush(stderr);
        drawn_ = true;
    }
    void clear() {
        if (!drawn_) return;
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        drawn_ = false;
    }

  private:
    bool shown_;
    std::size_t files_;
    bool drawn_ = false;
    Clock::time_point start_ = Clock::now();
    Clock::time_point last_;
};

#if ROKCONV_THREADS
// The results of jobs run by several threads, taken in the order of the jobs.
class Results {
  public:
    explicit Results(std::size_t n) : results_(n) {}

    void put(std::size_t i, JobResult result) {
        {
            const std::lock_guard lock(mutex_);
            results_[i] = std::move(result);
        }
        ready_.notify_all();
    }
    // result i once it is there, or nothing if it is not by the deadline
    std::optional<JobResult> take(std::size_t i, Clock::time_point deadline) {
        std::unique_lock lock(mutex_);
        if (!ready_.wait_until(lock, deadline, [&] { return results_[i].has_value(); })) {
            return std::nullopt;
        }
        std::optional<JobResult> r = std::move(results_[i]);
        results_[i].reset();
        return r;
    }

  private:
    std::mutex mutex_;
    std::condition_variable ready_;
    std::vector<std::optional<JobResult>> results_;
};
#endif

// Runs every job, printing each one's messages together and in the order of the jobs.
// Returns whether none failed.
bool run_jobs(const std::vector<Job>& jobs, const Options& options, std::FILE* messages) {
    Progress progress(jobs.size() > 1 && !options.quiet && isatty(STDERR_FILENO) != 0, jobs.size());
#if ROKCONV_THREADS
    const unsigned cores = std::max(std::thread::hardware_concurrency(), 1u);
#else
    const unsigned cores = 1;
#endif
    unsigned threads = options.jobs == 0 ? cores : options.jobs;
    threads = static_cast<unsigned>(std::clamp<std::size_t>(threads, 1, jobs.size()));
    // each job is told how many run at once, and shares the cores with the others: jobs and a
    // conversion's own threads never ask for more than the machine has
    Options running = options;
    running.jobs = threads;
    running.threads = std::max(cores / threads, 1u);
    auto work = [&](const Job& job) {
        return options.info ? inspect_job(job, running) : convert_job(job, running);
    };

    bool all_well = true;
    std::uint64_t bytes = 0;
    auto finish = [&](std::size_t done, const JobResult& r) {
        all_well = all_well && r.outcome != Outcome::failed;
        bytes += r.bytes_read;
        if (!r.messages.empty()) {
            progress.clear();
            std::fputs(r.messages.c_str(), messages);
            std::fflush(messages);
        }
        progress.show(done, bytes);
    };
#if ROKCONV_THREADS
    // each thread takes the next job not yet taken: no more than `threads` models are in
    // memory at a time, whatever the number of files
    Results results(jobs.size());
    std::atomic<std::size_t> next{0};
    std::vector<std::jthread> pool;
    try {
        for (unsigned t = 0; threads > 1 && t < threads; ++t) {
            pool.emplace_back([&] {
                for (std::size_t i = next++; i < jobs.size(); i = next++)
                    results.put(i, work(jobs[i]));
            });
        }
    } catch (const std::system_error&) {
        // the threads started share the files; with none, they are converted here
    }
    if (!pool.empty()) {
        for (std::size_t i = 0; i < jobs.size();) {
            std::optional<JobResult> r =
                results.take(i, Clock::now() + std::chrono::milliseconds(250));
            if (!r) {
                progress.show(i, bytes);
                continue;
            }
            finish(++i, *r);
        }
        progress.clear();
        return all_well;
    }
#endif
    for (std::size_t i = 0; i < jobs.size(); ++i)
        finish(i + 1, work(jobs[i]));
    progress.clear();
    return all_well;
}

}  // namespace

int run(int argc, const char* const* argv) {
    Options options;
    std::string error;
    switch (parse_arguments(argc, argv, options, error)) {
        case Parsed::help:
            std::printf("%s%s", kBanner, usage().c_str());
            return 0;
        case Parsed::version:
            std::printf("rokconv %s\n", kVersion);
            return 0;
        case Parsed::wrong:
            if (!error.empty()) std::printf("%s\n", error.c_str());
            std::printf("%s%s", kBanner, usage().c_str());
            return 1;
        case Parsed::run:
            break;
    }
    const std::vector<Job> jobs = plan_jobs(options);
    std::fflush(stdout);
    // the output on standard output stays clean: every message goes to standard error
    std::FILE* const messages = options.output == "-" ? stderr : stdout;
    const bool all_well = run_jobs(jobs, options, messages);
    // a report that could not be written (a closed pipe) is a failure too
    const bool said = std::fflush(messages) == 0 && std::ferror(messages) == 0;
    return all_well && said ? 0 : 1;
}

}  // namespace rokconv
