#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "obj/float_text.hpp"

namespace rokconv {
namespace {

using Limits = std::numeric_limits<float>;

// put_shortest's text where to_chars's differs, else empty; the bytes past the room are checked
// to be untouched
struct Texts {
    char ours[kShortestRoom + 8];
    char theirs[kShortestRoom];
};
std::string difference(float value, Texts& t) {
    std::memset(t.ours + kShortestRoom, '#', 8);
    const char* end = put_shortest(t.ours, value);
    const char* their_end = std::to_chars(t.theirs, t.theirs + kShortestRoom, value).ptr;
    const std::string_view a(t.ours, static_cast<std::size_t>(end - t.ours));
    const std::string_view b(t.theirs, static_cast<std::size_t>(their_end - t.theirs));
    char bits[16];
    std::snprintf(bits, sizeof bits, "%08x", std::bit_cast<std::uint32_t>(value));
    if (end > t.ours + kShortestRoom || std::string_view(t.ours + kShortestRoom, 8) != "########")
        return std::string(bits) + ": written past the room";
    if (a != b) return std::string(bits) + ": " + std::string(a) + ", to_chars " + std::string(b);
    return {};
}

// checks each value, and reports the first few that differ
void expect_as_to_chars(const std::vector<float>& values) {
    Texts t;
    int reported = 0;
    std::size_t differ = 0;
    for (const float v : values) {
        if (std::string d = difference(v, t); !d.empty()) {
            ++differ;
            if (reported++ < 10) ADD_FAILURE() << d;
        }
    }
    EXPECT_EQ(differ, 0u) << "of " << values.size();
}

void with_neighbours(std::vector<float>& values, float v) {
    values.push_back(v);
    values.push_back(std::nextafter(v, 0.0f));
    values.push_back(std::nextafter(v, Limits::infinity()));
    values.push_back(-v);
}

// zeros, the limits, infinities and NaNs with either sign and any payload, the powers of ten and
// of two around the switch between fixed and scientific (the shorter notation, fixed on a tie,
// an exponent of two digits at least) and past 2^24, where a fixed integer is written exact, and
// floats near them
TEST(PutShortest, EdgesAsToChars) {
    std::vector<float> values = {
        0.125f,     -3.5f,   12.345678f,  1024.0f,         0.1f,         0.3f, 1e6f,
        -999999.9f, 1.5e-7f, 16777217.0f, 123456790528.0f, 8589973504.0f};
    // and each of these with its sign turned
    for (const float v : {0.0f, Limits::infinity(), Limits::quiet_NaN(), Limits::signaling_NaN(),
                          std::bit_cast<float>(0xffffffffu), std::bit_cast<float>(0x7f800001u)})
        values.insert(values.end(), {v, -v});
    for (const float v : {Limits::min(), Limits::max(), Limits::denorm_min(), Limits::epsilon(),
                          std::bit_cast<float>(0x007fffffu), std::bit_cast<float>(0x00000003u)})
        with_neighbours(values, v);
    for (int e = -45; e <= 38; ++e) {
        const float power = std::strtof(("1e" + std::to_string(e)).c_str(), nullptr);
        for (const float times : {1.0f, 1.2f, 1.25f, 9.999999f, 1.2345678f, 1.23456789f})
            with_neighbours(values, power * times);
    }
    for (int e = -149; e <= 127; ++e)
        with_neighbours(values, std::ldexp(1.0f, e));
    for (std::uint32_t i = 0; i < 100; ++i)
        with_neighbours(values, std::ldexp(1.0f, 24) + 2.0f * i);
    expect_as_to_chars(values);
}

// Coordinates as models have them: short decimals, eighths, integers, and the floats near 2^24;
// and bit patterns spread over all 2^32 by an odd stride, which meets every exponent, sign and
// NaN, and many floats that take nine digits.
TEST(PutShortest, CoordinatesAndSpreadBitPatternsAsToChars) {
    std::vector<float> values;
    for (int i = -300000; i <= 300000; ++i) {
        values.push_back(static_cast<float>(i) / 1000.0f);
        values.push_back(static_cast<float>(i) / 8.0f);
        values.push_back(static_cast<float>(i) * 61.0f);
    }
    for (std::uint32_t i = 0; i < 3000000; ++i)
        values.push_back(std::bit_cast<float>(i * 0x9e3779b1u));
    expect_as_to_chars(values);
}

}  // namespace
}  // namespace rokconv
