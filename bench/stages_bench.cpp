// Per-stage figures for the in-memory conversion: load_rok and save_lwob on generated models.
// Bytes per second are counted over the ROK text in both stages, so the two add up to the
// end-to-end rate (less the file reading and writing).
#include <benchmark/benchmark.h>

#include <map>
#include <span>
#include <string>
#include <vector>

#include "rokconv/rokconv.hpp"
#include "rokgen.hpp"

namespace {

enum Shape : std::int64_t { kGrid = 0, kRing = 1 };

const std::string& model_text(Shape shape, std::size_t size) {
    static std::map<std::pair<Shape, std::size_t>, std::string> cache;
    std::string& text = cache[{shape, size}];
    if (text.empty()) {
        rokgen::write_rok(text,
                          shape == kGrid ? rokgen::make_grid(size, 1) : rokgen::make_ring(size, 1));
    }
    return text;
}

std::span<const unsigned char> bytes_of(const std::string& text) {
    return {reinterpret_cast<const unsigned char*>(text.data()), text.size()};
}

void load_rok(benchmark::State& state) {
    const std::string& text =
        model_text(static_cast<Shape>(state.range(0)), static_cast<std::size_t>(state.range(1)));
    for (auto _ : state) {
        rokconv::Model model;
        if (rokconv::load_rok(bytes_of(text), model) != rokconv::LoadStatus::ok)
            state.SkipWithError("not read");
        benchmark::DoNotOptimize(model.points.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}

void save_lwob(benchmark::State& state) {
    const std::string& text =
        model_text(static_cast<Shape>(state.range(0)), static_cast<std::size_t>(state.range(1)));
    rokconv::Model model;
    if (rokconv::load_rok(bytes_of(text), model) != rokconv::LoadStatus::ok)
        state.SkipWithError("not read");
    for (auto _ : state) {
        std::vector<unsigned char> out;
        if (rokconv::save_lwob(model, rokconv::to_bytes(out)) != rokconv::SaveStatus::ok)
            state.SkipWithError("not written");
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}

// grids of 100,000 and 1,000,000 points, and the ring of 65535 edges
void models(benchmark::internal::Benchmark* b) {
    b->ArgNames({"ring", "size"});
    b->Args({kGrid, 100000})->Args({kGrid, 1000000})->Args({kRing, 65535});
    b->Unit(benchmark::kMillisecond);
}

BENCHMARK(load_rok)->Apply(models);
BENCHMARK(save_lwob)->Apply(models);

}  // namespace

BENCHMARK_MAIN();
