// Damaged models from the generator: cut short, with counts no file can meet, with edge
// numbers outside the edge table. Each must convert to a sound LWOB holding what the file
// still says.
#include <gtest/gtest.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "model_sizes.hpp"

namespace {

using rokfuzz_test::as_expected;
using rokfuzz_test::convert;

const rokgen::Style kStyles[] = {
    {rokgen::Eol::lf, false}, {rokgen::Eol::crlf, false}, {rokgen::Eol::lfcr, false},
    {rokgen::Eol::cr, false}, {rokgen::Eol::crlf, true},
};

// a line-end style, readable in test failures
std::string describe(const rokgen::Style& style) {
    const char* names[] = {"crlf", "lf", "lfcr", "cr"};
    return names[static_cast<int>(style.eol)] + std::string(style.preamble ? "+preamble" : "");
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
            ASSERT_EQ(rokconv::save_lwob(m, rokconv::to_bytes(lwob)), rokconv::SaveStatus::ok);
            EXPECT_TRUE(lwob == whole.lwob) << "cut " << cut << ", claimed size " << claimed;
        }
    }
}

}  // namespace
