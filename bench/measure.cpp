// rokbench_measure: runs a command several times and prints its median wall time and its peak
// resident set size, taken from the kernel's accounting of each child.
//   usage: rokbench_measure [--fresh FILE] RUNS COMMAND [ARGS...]
//   prints: median_seconds min_seconds max_seconds peak_rss_kib
// One unmeasured run goes first, so every measured run finds its input in the page cache. The
// command's standard output is discarded; a failing run stops the measurement with status 1.
// --fresh removes FILE, the command's output, before each run and outside its time: every run
// then writes its output as a first conversion does, instead of also paying for the deletion of
// the output the run before it left (the kernel frees the old file's blocks and cached pages
// when it is replaced, some 15 ms for a 24 MB file here). Before each run, also outside its
// time, the files written so far are flushed to the disk (sync): otherwise the kernel writes back
// the 100 to 160 MB an earlier run left while the next one runs, on the same two cores.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct Run {
    double seconds = 0;
    long peak_kib = 0;
};

bool run_once(char** argv, const char* fresh, Run& result) {
    if (fresh != nullptr && unlink(fresh) != 0 && errno != ENOENT) {
        std::perror(fresh);
        return false;
    }
    sync();
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child < 0) return false;
    if (child == 0) {
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0) dup2(null, STDOUT_FILENO);
        execvp(argv[0], argv);
        std::perror(argv[0]);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child) return false;
    const auto stop = std::chrono::steady_clock::now();
    result.seconds = std::chrono::duration<double>(stop - start).count();
    result.peak_kib = usage.ru_maxrss;  // KiB on Linux
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "rokbench_measure: %s failed (status %d)\n", argv[0], status);
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const char* fresh = nullptr;
    if (argc > 2 && std::strcmp(argv[1], "--fresh") == 0) {
        fresh = argv[2];
        argc -= 2;
        argv += 2;
    }
    const int runs = argc > 2 ? std::atoi(argv[1]) : 0;
    if (runs < 1) {
        std::fprintf(stderr, "usage: rokbench_measure [--fresh FILE] RUNS COMMAND [ARGS...]\n");
        return 2;
    }
    Run warm_up;
    if (!run_once(argv + 2, fresh, warm_up)) return 1;
    std::vector<double> seconds;
    long peak_kib = 0;
    for (int i = 0; i < runs; ++i) {
        Run run;
        if (!run_once(argv + 2, fresh, run)) return 1;
        seconds.push_back(run.seconds);
        peak_kib = std::max(peak_kib, run.peak_kib);
    }
    std::sort(seconds.begin(), seconds.end());
    const std::size_t mid = seconds.size() / 2;
    const double median =
        seconds.size() % 2 != 0 ? seconds[mid] : (seconds[mid - 1] + seconds[mid]) / 2;
    std::printf("%.6f %.6f %.6f %ld\n", median, seconds.front(), seconds.back(), peak_kib);
    return 0;
}
