#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include "rok/rok.hpp"

namespace rokconv {
namespace {

std::span<const unsigned char> bytes_of(const std::string& s) {
    return {reinterpret_cast<const unsigned char*>(s.data()), s.size()};
}

// what one text_line call gives: the line (or "<null>" for a null result, with the buffer as it
// was left) and the end-of-file indicator after it
std::vector<std::string> read_calls(const std::string& input, int calls) {
    ByteStream stream = byte_stream(bytes_of(input));
    char buffer[kLineCapacity] = {};
    std::vector<std::string> out;
    for (int i = 0; i < calls; ++i) {
        const char* got = text_line(buffer, kLineCapacity, stream);
        std::string line = got ? std::string(buffer) : "<null:" + std::string(buffer) + ">";
        out.push_back(line + (stream.eof ? "|eof" : ""));
    }
    return out;
}

struct LineCase {
    const char* name;
    std::string input;
    int calls;
    std::vector<std::string> expected;
};

void PrintTo(const LineCase& c, std::ostream* os) {
    *os << c.name;
}

class TextLine : public ::testing::TestWithParam<LineCase> {};

TEST_P(TextLine, DeliversLinesAndEndOfFile) {
    const LineCase& c = GetParam();
    EXPECT_EQ(read_calls(c.input, c.calls), c.expected);
}

const std::string k79(79, 'x');
const std::string k100 = std::string(79, 'a') + std::string(21, 'b');

INSTANTIATE_TEST_SUITE_P(
    Cases, TextLine,
    ::testing::Values(
        LineCase{"CrLf", "POINT\r\nNEXT\r\n", 2, {"POINT", "NEXT"}},
        LineCase{"LfCr", "POINT\n\rNEXT", 2, {"POINT", "NEXT|eof"}},
        LineCase{"LoneCr", "A\rB\r", 3, {"A", "B|eof", "<null:B>|eof"}},
        LineCase{"DoubleLfGivesEmptyLine", "A\n\nB", 3, {"A", "", "B|eof"}},
        LineCase{"DoubleCrGivesEmptyLine", "A\r\rB", 3, {"A", "", "B|eof"}},
        LineCase{"CrLfCrIsPairThenLone", "A\r\n\rB", 3, {"A", "", "B|eof"}},
        LineCase{"NoFinalTerminatorSetsEof", "X\nENDL2", 3, {"X", "ENDL2|eof", "<null:ENDL2>|eof"}},
        // a pair at the very end is consumed without a look-ahead, so eof stays clear
        LineCase{
            "FinalCrLfLeavesEofClear", "7\r\n", 4, {"7", "|eof", "<null:>|eof", "<null:>|eof"}},
        LineCase{"FinalLfCrLeavesEofClear", "7\n\r", 2, {"7", "|eof"}},
        LineCase{"FinalLoneLfSetsEof", "7\n", 3, {"7|eof", "<null:7>|eof", "<null:7>|eof"}},
        LineCase{"EmptyInput", "", 2, {"|eof", "<null:>|eof"}},
        LineCase{"Exactly79ThenCrLf", k79 + "\r\nY", 3, {k79, "", "Y|eof"}},
        LineCase{"Exactly79AtEnd", k79, 2, {k79, "|eof"}},
        LineCase{"LongLineSplits",
                 k100 + "\n",
                 2,
                 {std::string(79, 'a'), std::string(21, 'b') + "|eof"}},
        LineCase{"TwiceSplit", k79 + k79 + "\n", 3, {k79, k79, "|eof"}},
        LineCase{"BytesKeptAsIs", " POINT \t\n", 1, {" POINT \t|eof"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TextLine, NullResultLeavesBufferUntouched) {
    const std::string input = "7\n";
    ByteStream stream = byte_stream(bytes_of(input));
    char buffer[kLineCapacity];
    ASSERT_NE(text_line(buffer, kLineCapacity, stream), nullptr);
    std::memset(buffer + 2, 'z', sizeof buffer - 2);  // bytes past the terminator too
    char before[kLineCapacity];
    std::memcpy(before, buffer, sizeof buffer);
    EXPECT_EQ(text_line(buffer, kLineCapacity, stream), nullptr);
    EXPECT_EQ(std::memcmp(before, buffer, sizeof buffer), 0);
}

TEST(ByteStream, ReadAndSkipBehaveLikeAFileStream) {
    const std::string input = "abcdefgh";
    ByteStream stream = byte_stream(bytes_of(input));
    unsigned char out[8];
    EXPECT_EQ(stream_read(stream, out, 5), 5u);
    EXPECT_FALSE(stream.eof);  // a read that is satisfied does not look further
    EXPECT_EQ(stream_read(stream, out, 5), 3u);
    EXPECT_TRUE(stream.eof);
    stream_skip(stream, 100);  // past the end, as a seek may go
    EXPECT_FALSE(stream.eof);
    EXPECT_EQ(stream_read(stream, out, 1), 0u);
    EXPECT_TRUE(stream.eof);
    char line[kLineCapacity] = "kept";
    EXPECT_EQ(text_line(line, kLineCapacity, stream), nullptr);
}

struct IntCase {
    const char* text;
    std::int32_t value;
};

TEST(LineInt, ConvertsLikeADecimalScanThatWraps) {
    const IntCase cases[] = {
        {"42", 42},
        {"  \t\v\f\r-17", -17},
        {"+8", 8},
        {"12abc", 12},
        {"", 0},
        {"-", 0},
        {"abc", 0},
        {" + 5", 0},
        {"2147483647", 2147483647},
        {"2147483648", std::numeric_limits<std::int32_t>::min()},
        {"4294967297", 1},
        {"-4294967295", 1},
        {"99999999999999999999", 1661992959},
        {"0x10", 0},
        {"1.9", 1},
    };
    for (const IntCase& c : cases)
        EXPECT_EQ(line_int(c.text), c.value) << '"' << c.text << '"';
}

struct RealCase {
    const char* text;
    double value;
};

TEST(LineReal, ReadsTheDecimalFormOnly) {
    const double inf = std::numeric_limits<double>::infinity();
    const RealCase cases[] = {
        {"1.5", 1.5},
        {"  -2.25", -2.25},
        {"+3", 3.0},
        {"1.5d2", 150.0},
        {"1.5D-1", 0.15},
        {"2e3", 2000.0},
        {"2E+3", 2000.0},
        {".5", 0.5},
        {"5.", 5.0},
        {"1e", 1.0},
        {"1d+", 1.0},
        {"7.25xyz", 7.25},
        {"", 0.0},
        {"-", 0.0},
        {".", 0.0},
        {"inf", 0.0},
        {"nan", 0.0},
        {"0x1p3", 0.0},
        {"1,5", 1.0},
        {"1e400", inf},
        {"-1d400", -inf},
        {"1e-400", 0.0},
        {"4.9406564584124654e-324", 4.9406564584124654e-324},
        {"0.1", 0.1},
        // halfway between two doubles: correct rounding goes to the even one
        {"9007199254740993", 9007199254740992.0},
        {"1.00000000000000011102230246251565404236316680908203125", 1.0},
    };
    for (const RealCase& c : cases)
        EXPECT_EQ(line_real(c.text), c.value) << '"' << c.text << '"';
}

TEST(LineReal, KeepsTheSignOfZero) {
    EXPECT_TRUE(std::signbit(line_real("-0")));
    EXPECT_TRUE(std::signbit(line_real("-0.0e5")));
    EXPECT_FALSE(std::signbit(line_real("-")));  // no number: plain 0.0
    EXPECT_FALSE(std::signbit(line_real("0")));
}

TEST(LineReal, DoesNotOverrunLongText) {
    const std::string digits(300, '1');
    EXPECT_DOUBLE_EQ(line_real((digits + "d-299").c_str()), 1.1111111111111112);
}

}  // namespace
}  // namespace rokconv
