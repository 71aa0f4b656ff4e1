// The load report: where a file was cut, what the reader left out, and the line of each record,
// with every line end and read whole or through a window.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "harness.hpp"
#include "rokgen.hpp"

namespace rokconv {
namespace {

// the lines joined by '|', each ended by eol, the last one too unless open
std::string rok_text(std::string_view lines, std::string_view eol, bool open = false) {
    std::string text;
    for (const char c : lines)
        text += c == '|' ? std::string(eol) : std::string(1, c);
    return open ? text : text + std::string(eol);
}

std::span<const unsigned char> bytes(const std::string& text) {
    return {reinterpret_cast<const unsigned char*>(text.data()), text.size()};
}

// the report whole and through a small window, which must agree
LoadReport report_of(const std::string& text, Model& m) {
    LoadReport whole;
    LoadReport windowed;
    Model w;
    EXPECT_EQ(load_rok(bytes(text), m, {.report = &whole}), LoadStatus::ok);
    EXPECT_EQ(rokfuzz::load_windowed(bytes(text), rokfuzz::kSmallWindow, w, windowed),
              LoadStatus::ok);
    EXPECT_TRUE(whole == windowed);
    return whole;
}

const char* const kEols[] = {"\n", "\r\n", "\n\r", "\r"};

// Faces and LINE2 records left out and kept, each with the line it begins on (numbers below
// are without a prefix). Long lines the reader splits, and line ends in a preamble, move them.
TEST(LoadReport, LeftOutAndKeptRecordsWithTheirLines) {
    const std::string body =
        "POINT|LINE0|1|2|0|0|2|1|0|1|FACE0"      // 2-12: edges 1 (1-2, flag 0) and 2 (2-1, flag 1)
        "|1|0|0|1|1|0|0|3|-1|0|0"                // 13 kept, 17 edge 3 outside, 21 count -1
        "|2|0|0|0|1|2|5|0|1|2|END00"             // 24 edge 0 outside, 29 kept, 34
        "|LINE2|9|0|1|0|2|0|1|0|1|0|3|0|ENDL2";  // 36 edge 9 outside, 40 flag 1, 44 kept, 48
    std::string preamble(128, 'p');
    preamble[0] = '\0';
    preamble.replace(10, 2, "\r\n");
    preamble[20] = '\n';
    preamble.replace(30, 2, "\r\r");
    preamble[127] = '\r';
    const struct {
        std::string before;  // before the first line
        std::string after_magic;
        std::uint64_t shift;
    } prefixes[] = {{"", "", 0},
                    {"", "|" + std::string(100, 'x') + "|" + std::string(79, 'y'), 2},
                    {preamble, "", 5}};
    for (const char* eol : kEols) {
        for (const auto& p : prefixes) {
            for (const bool open : {false, true}) {
                const std::string text =
                    p.before + rok_text("ROKU4" + p.after_magic + "|" + body, eol, open);
                SCOPED_TRACE(testing::Message() << "shift " << p.shift << ", open " << open
                                                << ", eol " << testing::PrintToString(eol));
                Model m;
                const LoadReport r = report_of(text, m);
                const std::uint64_t s = p.shift;
                EXPECT_EQ(r.lines, 48 + s);
                EXPECT_FALSE(r.cut_short);
                EXPECT_EQ(r.faces_edge_outside, (Tally{2, 17 + s}));
                EXPECT_EQ(r.faces_bad_count, (Tally{1, 21 + s}));
                EXPECT_EQ(r.lines_edge_outside, (Tally{1, 36 + s}));
                EXPECT_EQ(r.face_line, (std::vector<std::uint64_t>{13 + s, 29 + s}));
                EXPECT_EQ(r.line_line, (std::vector<std::uint64_t>{44 + s}));
                EXPECT_EQ(m.faces.size(), 2u);
            }
        }
    }
}

// A file is cut short when it ends before a block's closing keyword, in a record or between
// records; the cut is on its last line, whatever ends it.
TEST(LoadReport, CutShortInEachBlock) {
    const std::string faces = "ROKU4|POINT|LINE0|1|2|0|0|FACE0|1|0|0|1";
    const struct {
        std::string lines;
        bool cut;
        RokBlock block;
    } cases[] = {
        {"ROKU4", true, RokBlock::header},
        {"ROKU4|POINTS", true, RokBlock::header},
        {"ROKU4|POINT", true, RokBlock::points},
        {"ROKU4|POINT|0|0|0|0|0|1", true, RokBlock::points},
        {"ROKU4|POINT|LINE0|1|2", true, RokBlock::edges},
        {"ROKU4|POINT|LINE0|1|2|0|0|FACE0", true, RokBlock::faces},
        {faces + "|3|0|0|1", true, RokBlock::faces},
        {faces + "|END00", false, RokBlock::header},
        {faces + "|END00|PALC0|2|x|1|2|3|4|5|6|x", true, RokBlock::palette},  // count past the end
        {faces + "|END00|PALC0|0|x|ENDL2", true, RokBlock::palette},
        {faces + "|END00|PALC0|1|x|1|2|3|4|5|6|x|ENDP0", false, RokBlock::header},
        {faces + "|END00|BAKC0|ENDL0", true, RokBlock::background},
        {faces + "|END00|LIT00|ENDB0", true, RokBlock::light},
        {faces + "|END00|VIEW0|ENDL0", true, RokBlock::view},
        {faces + "|END00|LINE2|1|0|2", true, RokBlock::lines},
        {faces + "|END00|LINE2|1|0|2|0|ENDL2|BAKC0|ENDB0|VIEW0|ENDV0", false, RokBlock::header},
    };
    for (const char* eol : kEols) {
        for (const auto& c : cases) {
            for (const bool open : {false, true}) {
                const std::string text = rok_text(c.lines, eol, open);
                Model m;
                const LoadReport r = report_of(text, m);
                SCOPED_TRACE(c.lines + (open ? ", open" : "") + ", eol " +
                             testing::PrintToString(eol));
                EXPECT_EQ(r.lines, std::count(c.lines.begin(), c.lines.end(), '|') + 1u);
                EXPECT_EQ(r.cut_short, c.cut);
                EXPECT_EQ(r.cut_in, c.block);
                EXPECT_EQ(r.cut_line, c.cut ? r.lines : 0);
            }
        }
    }
}

// Every cut of a generated grid, with each line end: the file's lines are those the generator
// began before the cut, and each face or line kept from a whole record has the line the
// generator began it on.
// (The fuzz harness holds the window's report against the whole one for these cuts.)
TEST(LoadReport, RecordLinesAtEveryCutOfAGrid) {
    const rokgen::Mesh mesh = rokgen::make_grid(9, 11);
    for (const rokgen::Style style : {rokgen::Style{rokgen::Eol::lf, false},
                                      {rokgen::Eol::crlf, true},
                                      {rokgen::Eol::lfcr, false},
                                      {rokgen::Eol::cr, false}}) {
        std::string text;
        rokgen::Layout layout;
        rokgen::write_rok(text, mesh, style, &layout);
        for (std::size_t cut = layout.magic + 5; cut <= text.size(); ++cut) {
            const std::string head = text.substr(0, cut);
            Model m;
            LoadReport r;
            ASSERT_EQ(load_rok(bytes(head), m, {.report = &r}), LoadStatus::ok);
            // the lines begun before byte x, and the line byte x is on
            const std::vector<std::size_t>& ends = layout.line_ends;
            auto begun = [&](std::size_t x) {
                return 1 + static_cast<std::uint64_t>(
                               std::lower_bound(ends.begin(), ends.end(), x) - ends.begin());
            };
            auto line_at = [&](std::size_t x) {
                return 1 + static_cast<std::uint64_t>(
                               std::upper_bound(ends.begin(), ends.end(), x) - ends.begin());
            };
            ASSERT_EQ(r.lines, begun(cut)) << cut;
            auto whole_records = [&](const rokgen::Section& s, std::vector<std::uint64_t> got) {
                std::vector<std::uint64_t> want;
                for (std::size_t i = 0; i < s.starts.size() && s.ends[i] <= cut; ++i) {
                    if (s.adds_polygon[i]) want.push_back(line_at(s.starts[i]));
                }
                got.resize(std::min(got.size(), want.size()));
                EXPECT_EQ(got, want) << "cut at " << cut;
            };
            whole_records(layout.faces, r.face_line);
            whole_records(layout.lines, r.line_line);
        }
    }
}

}  // namespace
}  // namespace rokconv
