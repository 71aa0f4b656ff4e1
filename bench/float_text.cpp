// rokbench_floats: put_shortest, the OBJ writer's float text, against std::to_chars.
//   usage: rokbench_floats [--all] [ROUNDS]
//   --all   checks the text of every one of the 2^32 floats, on two threads, and prints the
//           count of those that differ (status 1 if any); some two minutes in a Release build
//   else    ns per float for each, the best of ROUNDS (default 9) over 3,000,000 coordinates of
//           four kinds, and whether their texts agree
#include <algorithm>
#include <bit>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "obj/float_text.hpp"

namespace {

constexpr std::size_t kRoom = rokconv::kShortestRoom;

bool same(float value, bool print) {
    char ours[kRoom], theirs[kRoom];
    const char* end = rokconv::put_shortest(ours, value);
    const char* their_end = std::to_chars(theirs, theirs + kRoom, value).ptr;
    const std::string_view a(ours, static_cast<std::size_t>(end - ours));
    const std::string_view b(theirs, static_cast<std::size_t>(their_end - theirs));
    if (a == b) return true;
    if (print)
        std::printf("%08x: %.*s, to_chars %.*s\n", std::bit_cast<std::uint32_t>(value),
                    static_cast<int>(a.size()), a.data(), static_cast<int>(b.size()), b.data());
    return false;
}

int check_all() {
    std::uint64_t differ[2] = {0, 0};
    auto half = [&](int which) {
        const std::uint64_t from = std::uint64_t{static_cast<std::uint64_t>(which)} << 31;
        for (std::uint64_t bits = from; bits < from + (std::uint64_t{1} << 31); ++bits)
            if (!same(std::bit_cast<float>(static_cast<std::uint32_t>(bits)), differ[which] < 10))
                ++differ[which];
    };
    std::thread other(half, 1);
    half(0);
    other.join();
    std::printf("%llu of 2^32 floats differ from std::to_chars\n",
                static_cast<unsigned long long>(differ[0] + differ[1]));
    return differ[0] + differ[1] == 0 ? 0 : 1;
}

template <class Put>
double ns_per_float(const std::vector<float>& values, std::vector<char>& out, Put put) {
    const auto start = std::chrono::steady_clock::now();
    char* at = out.data();
    for (const float v : values) {
        at = put(at, v);
        *at++ = ' ';
    }
    const std::chrono::duration<double, std::nano> took = std::chrono::steady_clock::now() - start;
    return took.count() / static_cast<double>(values.size());
}

std::vector<std::pair<std::string, std::vector<float>>> coordinates() {
    constexpr int kCount = 3000000;
    std::mt19937_64 random(7);
    std::vector<std::pair<std::string, std::vector<float>>> sets;
    // a rough sheet of 1000 x 1000 points in millionths, 0.25 apart, times 8 as the OBJ writer
    // scales them
    std::vector<float> sheet;
    std::uniform_int_distribution<std::int64_t> nudge(-20000, 20000), height(-200000, 200000);
    for (std::int64_t row = 0; row < 1000; ++row) {
        for (std::int64_t column = 0; column < 1000; ++column) {
            for (const std::int64_t at : {column * 250000 - 124875000 + nudge(random),
                                          row * 250000 - 124875000 + nudge(random), height(random)})
                sheet.push_back(static_cast<float>(static_cast<double>(at) * 8e-6));
        }
    }
    sets.emplace_back("sheet, 8e-6 steps", std::move(sheet));
    std::vector<float> thousandths, uniform, eighths;
    std::uniform_int_distribution<int> milli(-1000000, 1000000), eighth(-80000, 80000);
    std::uniform_real_distribution<float> any(-1e6f, 1e6f);
    for (int i = 0; i < kCount; ++i) {
        thousandths.push_back(static_cast<float>(milli(random)) / 1000.0f);
        uniform.push_back(any(random));
        eighths.push_back(static_cast<float>(eighth(random)) / 8.0f);
    }
    sets.emplace_back("x.yyy within 1000", std::move(thousandths));
    sets.emplace_back("uniform within 1e6", std::move(uniform));
    sets.emplace_back("eighths within 1e4", std::move(eighths));
    return sets;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "--all") == 0) return check_all();
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
    std::vector<char> out(3000000 * (kRoom + 1));
    std::printf("%-20s %14s %14s %7s %s\n", "coordinates", "put_shortest", "std::to_chars", "ratio",
                "texts");
    int status = 0;
    for (const auto& [name, values] : coordinates()) {
        double ours = 1e30, theirs = 1e30;
        for (int round = 0; round < rounds; ++round) {
            ours = std::min(ours, ns_per_float(values, out, [](char* at, float v) {
                                return rokconv::put_shortest(at, v);
                            }));
            theirs = std::min(theirs, ns_per_float(values, out, [](char* at, float v) {
                                  return std::to_chars(at, at + kRoom, v).ptr;
                              }));
        }
        const bool agree =
            std::all_of(values.begin(), values.end(), [](float v) { return same(v, true); });
        status |= agree ? 0 : 1;
        std::printf("%-20s %11.2f ns %11.2f ns %6.2fx %s\n", name.c_str(), ours, theirs,
                    theirs / ours, agree ? "same" : "DIFFER");
    }
    return status;
}
