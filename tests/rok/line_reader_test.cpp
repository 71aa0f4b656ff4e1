#include <gtest/gtest.h>

#include <bit>
#include <random>
#include <string>
#include <vector>

#include "rok/line_reader.hpp"

namespace rokconv {
namespace {

// Each text_line call as "line", "line|eof" when the indicator is set after it, or
// "<null:buffer>" for a null result, with what the buffer still holds.
std::vector<std::string> read_calls(const std::string& input, std::size_t calls) {
    ByteStream stream =
        byte_stream({reinterpret_cast<const unsigned char*>(input.data()), input.size()});
    char buffer[kLineCapacity] = {};
    std::vector<std::string> out;
    while (out.size() < calls) {
        const bool got = text_line(buffer, kLineCapacity, stream) != nullptr;
        out.push_back((got ? std::string(buffer) : "<null:" + std::string(buffer) + ">") +
                      (stream.eof ? "|eof" : ""));
    }
    return out;
}

TEST(TextLine, DeliversLinesAndEndOfFile) {
    const std::string x79(79, 'x');
    const struct {
        std::string input;
        std::vector<std::string> calls;
    } cases[] = {
        {"POINT\r\nNEXT\r\n", {"POINT", "NEXT"}},
        {"POINT\n\rNEXT", {"POINT", "NEXT|eof"}},
        {"A\rB\r", {"A", "B|eof", "<null:B>|eof"}},
        {"A\n\nB", {"A", "", "B|eof"}},
        {"A\r\rB", {"A", "", "B|eof"}},
        {"A\r\n\rB", {"A", "", "B|eof"}},
        {"X\nENDL2", {"X", "ENDL2|eof", "<null:ENDL2>|eof"}},
        // a pair at the very end is consumed without a look-ahead, so eof stays clear
        {"7\r\n", {"7", "|eof", "<null:>|eof", "<null:>|eof"}},
        {"7\n\r", {"7", "|eof"}},
        {"7\n", {"7|eof", "<null:7>|eof", "<null:7>|eof"}},
        {"", {"|eof", "<null:>|eof"}},
        {x79 + "\r\nY", {x79, "", "Y|eof"}},
        {x79, {x79, "|eof"}},
        {std::string(79, 'a') + std::string(21, 'b') + "\n",
         {std::string(79, 'a'), std::string(21, 'b') + "|eof"}},
        {x79 + x79 + "\n", {x79, x79, "|eof"}},
        {" POINT \t\n", {" POINT \t|eof"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(read_calls(c.input, c.calls.size()), c.calls) << c.input;
}

// The 64-byte line map finds the lines next_line reads, on text dense in terminators of every
// kind, and both ways of finding the terminators agree.
TEST(LineMap, FindsTheLinesTheLineReaderReads) {
    std::mt19937 rng(7);
    const std::string alphabet = "\r\n\r\n\r\n1-.x";
    for (int trial = 0; trial < 20000; ++trial) {
        std::string text(64 + 16, '\0');
        for (char& c : text)
            c = alphabet[rng() % (trial % 2 == 0 ? alphabet.size() : 6)];
        const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
        std::uint64_t cr;
        std::uint64_t lf;
        std::uint64_t cr_portable;
        std::uint64_t lf_portable;
        detail::terminator_bits(bytes, cr, lf);
        detail::terminator_bits_portable(bytes, cr_portable, lf_portable);
        ASSERT_EQ(cr, cr_portable) << trial;
        ASSERT_EQ(lf, lf_portable) << trial;

        const detail::LineMap map = detail::map_lines(bytes);
        ByteStream stream = byte_stream({bytes, text.size()});
        std::uint64_t ends = map.ends;
        while (ends != 0) {
            const int e = std::countr_zero(ends);
            ends &= ends - 1;
            const std::size_t start = stream.pos;
            std::string_view line;
            ASSERT_TRUE(next_line(stream, line));
            ASSERT_EQ(line, text.substr(start, static_cast<std::size_t>(e) - start)) << trial;
            ASSERT_EQ(stream.pos, static_cast<std::size_t>(e) + 1 + ((map.pairs >> (e + 1)) & 1))
                << trial;
        }
        // and it leaves out no line that ends before byte 63 or a run of three terminators
        std::size_t limit = 63;
        for (std::size_t i = 2; i < 64 && limit == 63; ++i) {
            if (text.find_first_not_of("\r\n", i - 2) > i) limit = i - 1;
        }
        EXPECT_GE(text.find_first_of("\r\n", stream.pos), limit) << trial;
    }
}

}  // namespace
}  // namespace rokconv
