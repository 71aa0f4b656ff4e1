// Damaged models from the generator: cut short, with counts no file can meet, with edge
// numbers outside the edge table. Each must convert to a sound LWOB holding what the file
// still says.
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "model_sizes.hpp"

namespace rokgen {

// readable line-end styles in test failures
void PrintTo(const Style& style, std::ostream* out) {
    const char* names[] = {"crlf", "lf", "lfcr", "cr"};
    *out << names[static_cast<int>(style.eol)] << (style.preamble ? "+preamble" : "");
}

}  // namespace rokgen

namespace {

using rokfuzz_test::as_expected;
using rokfuzz_test::convert;

const rokgen::Style kStyles[] = {
    {rokgen::Eol::lf, false}, {rokgen::Eol::crlf, false}, {rokgen::Eol::lfcr, false},
    {rokgen::Eol::cr, false}, {rokgen::Eol::crlf, true},
};

std::string describe(const rokgen::Style& style) {
    return ::testing::PrintToString(style);
}

TEST(Damaged, ConvertsWhatTheFileStillSays) {
    for (const rokgen::Damage damage : rokgen::damages()) {
        for (const rokgen::Style& style : kStyles) {
            for (std::uint64_t seed : {1, 2, 3}) {
                const rokgen::Damaged d = rokgen::make_damaged(damage, seed, style);
                EXPECT_TRUE(as_expected(convert(d.text), d.expect))
                    << rokgen::damage_name(damage) << ", " << describe(style) << ", seed " << seed;
            }
        }
    }
}

// Every cut of a small grid, from no bytes to all of them, with each line end: the counts of
// the blocks the cut leaves whole are exact, the block it splits keeps the records begun before
// it, and the blocks after it are empty.
TEST(Truncated, EveryCutOfASmallGrid) {
    const rokgen::Mesh mesh = rokgen::make_grid(9, 11);
    for (const rokgen::Style& style : kStyles) {
        std::string text;
        rokgen::Layout layout;
        rokgen::write_rok(text, mesh, style, &layout);
        ASSERT_GT(layout.lines.starts.size(), 1u) << "the grid should have LINE2 records";
        for (std::size_t cut = 0; cut <= text.size(); ++cut) {
            const rokfuzz::Conversion c = convert(text.substr(0, cut));
            ASSERT_TRUE(as_expected(c, rokgen::expect_truncated(layout, cut)))
                << describe(style) << ", cut at byte " << cut << " of " << text.size();
        }
    }
}

// The reader sizes its tables from the input size the source tells it. Whatever that is, the
// true size, none, one far below or beyond the input (a file that changed while read), the
// model and the output are those of the whole-buffer read. (A size beyond what memory can
// reserve makes the reservation fail, and the tables then grow step by step; a sanitizer
// build would stop at such a request rather than fail it, so it is not made here.)
TEST(ClaimedSize, LeavesTheModelAsTheFileSaysIt) {
    std::string text;
    rokgen::write_rok(text, rokgen::make_grid(4200, 3), {rokgen::Eol::crlf, false});
    for (const std::size_t cut : {text.size(), text.size() / 2}) {
        const std::span<const unsigned char> rok(
            reinterpret_cast<const unsigned char*>(text.data()), cut);
        const rokfuzz::Conversion whole = convert(text.substr(0, cut));
        ASSERT_GT(whole.model.points.size(), 1000u);
        for (const std::uint64_t claimed :
             {std::uint64_t{0}, std::uint64_t{text.size()}, std::uint64_t{text.size() / 50},
              std::uint64_t{text.size()} * 10}) {
            rokconv::Model m;
            ASSERT_EQ(rokfuzz::load_windowed(rok, 4096, m, claimed), rokconv::LoadStatus::ok)
                << claimed;
            std::vector<unsigned char> lwob;
            ASSERT_EQ(rokconv::save_lwob(m, lwob), rokconv::SaveStatus::ok);
            EXPECT_TRUE(lwob == whole.lwob) << "cut " << cut << ", claimed size " << claimed;
        }
    }
}

}  // namespace

// A file read in two parts at once: the second thread's guess of where the points end, the
// first line "LINE0" at the start of a line, is taken only where they do end there. A "LINE0"
// inside a point record, or a closing line that begins within a line split for its length,
// leaves the rest to be read in order; either way the model is the one read in order.
TEST(SplitRead, TakesTheRestOnlyWhereThePointsEnd) {
    const std::string point = "0|1|2|3|4|1.5|2.5|3.5|";
    // two edges, a face, and a block of lines that a window does not hold
    std::string rest = "|1|2|0|0|2|1|0|0|FACE0|2|0|0|1|2|END00|VIEW0";
    for (int i = 0; i < 100; ++i)
        rest += "|0";
    rest += "|ENDV0";
    const std::string digits(79, '7');
    const struct {
        const char* name;
        std::string text;
        bool split;  // whether the rest is read by the other thread
    } cases[] = {
        {"plain", point + point + "LINE0" + rest, true},
        {"a record's third line", "0|1|LINE0|3|4|1|2|3|" + point + "LINE0" + rest, false},
        {"after a split line", point + "0|1|2|3|4|1|2|" + digits + "LINE0|1|LINE0|0|0" + rest,
         false},
        {"with a zero byte", point + std::string("LINE0\0x", 7) + rest, true},
        {"at the end", point + "LINE0", false},
    };
    for (const auto& c : cases) {
        for (const std::string eol : {"\n", "\r\n", "\n\r", "\r"}) {
            std::string text;
            for (const char ch : "ROKU4|POINT|" + c.text)
                text += ch == '|' ? eol : std::string(1, ch);
            text += eol;
            const std::span<const unsigned char> bytes(
                reinterpret_cast<const unsigned char*>(text.data()), text.size());
            rokconv::Model whole;
            ASSERT_EQ(rokconv::load_rok(bytes, whole), rokconv::LoadStatus::ok);
            rokfuzz::MemoryInput memory{bytes};
            const rokconv::RokInput input{&memory, &rokfuzz::MemoryInput::read, nullptr,
                                          text.size(), &rokfuzz::MemoryInput::read_at};
            rokconv::Model split;
            ASSERT_EQ(rokconv::load_rok_windowed(input, rokfuzz::kSmallWindow, 0, split),
                      rokconv::LoadStatus::ok);
            const std::string where = c.name + (", eol " + std::to_string(eol.size()));
            EXPECT_TRUE(rokfuzz::same_model(split, whole)) << where;
            // read in order, the caller's read takes it all; else it stops a window after the
            // points
            EXPECT_EQ(memory.pos < text.size(), c.split) << where;
        }
    }
}
