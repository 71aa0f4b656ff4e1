// rokbench_convert FILE RUNS: reads FILE once, then RUNS times loads it from memory and writes it
// as glb into memory on one thread, as the page's worker does; prints the median milliseconds and
// the glb's size.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "rokconv/format.hpp"
#include "rokconv/rok.hpp"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: rokbench_convert FILE RUNS\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::vector<unsigned char> bytes(std::istreambuf_iterator<char>(in), {});
    const int runs = std::max(std::atoi(argv[2]), 1);
    std::vector<double> times;
    std::size_t size = 0;
    for (int run = 0; run < runs; ++run) {
        const auto start = std::chrono::steady_clock::now();
        rokconv::Model model;
        rokconv::LoadReport report;
        rokconv::LoadOptions load;
        load.threads = 1;
        load.report = &report;
        std::vector<unsigned char> glb;
        rokconv::SaveOptions save;
        save.threads = 1;
        save.report = &report;
        if (rokconv::load_rok(bytes, model, load) != rokconv::LoadStatus::ok ||
            rokconv::save(model, rokconv::Format::glb, rokconv::to_bytes(glb), save) !=
                rokconv::SaveStatus::ok) {
            std::fprintf(stderr, "rokbench_convert: %s did not convert\n", argv[1]);
            return 1;
        }
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
        size = glb.size();
    }
    std::nth_element(times.begin(), times.begin() + runs / 2, times.end());
    std::printf("%.1f %zu\n", times[runs / 2], size);
}
