#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "rok/numbers.hpp"

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

}  // namespace
}  // namespace rokconv
