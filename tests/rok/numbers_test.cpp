#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <string>

#include "rok/numbers.hpp"
#include "util/compat.hpp"

namespace rokconv {
namespace {

TEST(LineInt, ScansDecimalAndWraps) {
    const struct {
        const char* text;
        std::int32_t value;
    } cases[] = {// clang-format off
        {"42", 42}, {"  \t\v\f\r-17", -17}, {"+8", 8}, {"12abc", 12}, {"", 0}, {"-", 0},
        {" + 5", 0}, {"0x10", 0}, {"1.9", 1}, {"2147483647", 2147483647},
        {"2147483648", std::numeric_limits<std::int32_t>::min()}, {"-4294967295", 1},
        {"99999999999999999999", 1661992959}};  // clang-format on
    for (const auto& c : cases)
        EXPECT_EQ(line_int(c.text), c.value) << c.text;
}

TEST(LineReal, ReadsTheDecimalFormOnlyCorrectlyRounded) {
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        std::string text;
        double value;
    } cases[] = {// clang-format off
        {"1.5", 1.5}, {"  -2.25", -2.25}, {"+3", 3.0}, {"1.5d2", 150.0}, {"1.5D-1", 0.15},
        {"2E+3", 2000.0}, {".5", 0.5}, {"5.", 5.0}, {"1e", 1.0}, {"1d+", 1.0}, {"7.25xyz", 7.25},
        {"", 0.0}, {"-", 0.0}, {".", 0.0}, {"inf", 0.0}, {"nan", 0.0}, {"0x1p3", 0.0},
        {"1,5", 1.0}, {"1e400", inf}, {"-1d400", -inf}, {"1e-400", 0.0}, {"0.1", 0.1},
        {"4.9406564584124654e-324", 4.9406564584124654e-324},
        {"9007199254740993", 9007199254740992.0},  // halfway: the even neighbour
        {std::string(300, '1') + "d-299", 1.1111111111111112}};  // past any line, with d
    // clang-format on
    for (const auto& c : cases)
        EXPECT_EQ(line_real(c.text.c_str()), c.value) << c.text;
    EXPECT_TRUE(std::signbit(line_real("-0")));
    EXPECT_FALSE(std::signbit(line_real("-")));  // no number: plain 0.0
}

// The plain conversions give what the general ones give, bit for bit: for plain lines, for lines
// that only look plain (nine digits, a second '.', a sign alone, a '+', a space), with digits
// behind the line for the word reads to pick up, and for a line that ends where the input does.
TEST(PlainNumbers, GiveWhatTheGeneralConversionsGive) {
    std::mt19937 rng(11);
    const std::string alphabet = "0123456789012345678901234567890123456789-.-.+ e";
    for (int trial = 0; trial < 300000; ++trial) {
        std::string line;
        for (std::size_t n = rng() % (trial % 3 == 0 ? 20 : 12); n > 0; --n)
            line += alphabet[rng() % alphabet.size()];
        // room behind it, as a line from a map has: the next lines' digits
        std::string roomy = line + "\n";
        while (roomy.size() < line.size() + 24)
            roomy += static_cast<char>('0' + rng() % 10);
        // the line alone on the heap, so that a read past it is a read past the input
        const auto alone = std::make_unique<char[]>(line.size() + 1);
        line.copy(alone.get(), line.size());
        const std::string_view at_end(alone.get(), line.size());
        const auto* end = reinterpret_cast<const unsigned char*>(alone.get() + line.size());

        const std::int32_t i = line_int(line);
        ASSERT_EQ(plain_int<true>({roomy.data(), line.size()}, nullptr), i) << line;
        ASSERT_EQ(plain_int(at_end, end), i) << line;
        const auto r = compat::bit_cast<std::uint64_t>(line_real(line));
        ASSERT_EQ(
            compat::bit_cast<std::uint64_t>(plain_real<true>({roomy.data(), line.size()}, nullptr)),
            r)
            << line;
        ASSERT_EQ(compat::bit_cast<std::uint64_t>(plain_real(at_end, end)), r) << line;
    }
}

}  // namespace
}  // namespace rokconv
