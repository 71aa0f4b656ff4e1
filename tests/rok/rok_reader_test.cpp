#include <gtest/gtest.h>

#include <bit>
#include <random>
#include <string>
#include <vector>

#include "rok/rok.hpp"

namespace rokconv {
namespace {

// A ROK file written with '|' between lines, each line then ended by eol.
int load(const std::string& lines, Model& model, const std::string& eol = "\n") {
    std::string text;
    for (char c : lines)
        text += c == '|' ? eol : std::string(1, c);
    text += eol;
    return load_rok({reinterpret_cast<const unsigned char*>(text.data()), text.size()}, model);
}

// three points (lines 1-5 of a record are not used, even "POINT"), four edges, one face
const std::string kGeometry =
    "ROKU4 rest of the magic line|ignored|POINT|9|x||-1|POINT|1.5|-2|3d1||||||0|1e0|0.25|||||"
    "|-0|7|8|LINE0|1|2|0|1|3|1|0|1|2|3|0|1|1|3|5|65536|FACE0|3|1|0|1|3|2|END00";
const std::string kPalette = "|PALC0|2|x|255|255|255|0|0|0|x|10|20|30|40|50|60|x|ENDP0";

std::vector<std::uint32_t> refs(const Model& m, std::size_t polygon) {
    const std::uint32_t* r = polygon_edges(m, m.polygons[polygon]);
    return {r, r + m.polygons[polygon].edge_count};
}

TEST(LoadRok, FillsEveryTableInFileOrderWithAnyLineEnd) {
    for (const char* eol : {"\n", "\r\n", "\n\r", "\r"}) {
        Model m;
        // the line over edge 4 (flag 65536, so 0) is kept, the one over edge 1 (flag 1) is not
        ASSERT_EQ(load(kGeometry + kPalette + "|LINE2|4|0|6|0|1|0|0|0|ENDL2", m, eol), 0);
        ASSERT_EQ(m.points.size(), 3u);
        EXPECT_EQ(m.points[0].x + m.points[0].y + m.points[0].z, 29.5);
        EXPECT_EQ(m.points[1].y + m.points[2].z, 9.0);
        ASSERT_EQ(m.edges.size(), 4u);
        EXPECT_EQ(m.edges[1].first * 10 + m.edges[1].second, 31);
        EXPECT_EQ(m.edges[1].line_flag, 1);
        EXPECT_EQ(m.edges[3].line_flag, 0);
        ASSERT_EQ(m.polygons.size(), 2u);
        EXPECT_EQ(refs(m, 0), (std::vector<std::uint32_t>{0, 2, 1}));
        EXPECT_EQ(m.polygons[0].colour, 1);
        EXPECT_EQ(refs(m, 1), (std::vector<std::uint32_t>{3}));
        EXPECT_EQ(m.polygons[1].colour, 6);
        ASSERT_EQ(m.palette_count, 2);
        EXPECT_EQ(m.palette[0].c[0] + m.palette[0].c[5], 255);
        EXPECT_EQ(m.palette[1].c[2] + m.palette[1].c[3], 70);
    }
}

TEST(LoadRok, RecognisesTheMagicOnlyAtItsPlace) {
    const std::string body = "|POINT|0|0|0|0|0|1|2|3|LINE0";
    const std::string preamble = std::string(1, '\0') + std::string(127, 'p');
    const struct {
        std::string text;
        int result;
    } cases[] = {{"ROKU4" + body, 0},
                 {preamble + "ROKU4" + body, 0},
                 {preamble + "ROKU5" + body, -1},
                 {std::string(1, '\0') + "ROKU4" + body, -1},
                 {"xROKU4" + body, -1},
                 {"ROKU", -1},
                 {preamble + "ROK", -1},
                 {"ROKU4", 0}};
    for (const auto& c : cases) {
        Model m;
        EXPECT_EQ(load(c.text, m), c.result) << c.text.size();
        EXPECT_EQ(m.points.size(), c.result == 0 && c.text.size() > 5 ? 1u : 0u) << c.text.size();
    }
    Model empty;
    EXPECT_EQ(load_rok({}, empty), -1);
}

// After a final CR LF the indicator is still clear, so the loop that is running reads one more,
// empty line; one that has not met its closing keyword takes it as a record of zeros.
TEST(LoadRok, EmptyLineAfterAFinalCrLfOpensARecord) {
    const struct {
        std::string lines;
        std::size_t points, edges, polygons;  // with CR LF ends; a final LF adds nothing
    } cases[] = {{"ROKU4|POINT", 1, 0, 0},
                 {"ROKU4|POINT|LINE0", 0, 1, 0},
                 {"ROKU4|POINT|LINE0|FACE0", 0, 0, 1},
                 {kGeometry + "|LINE2", 3, 4, 1}};  // edge 0 names nothing
    for (const auto& c : cases) {
        Model crlf, lf;
        ASSERT_EQ(load(c.lines, crlf, "\r\n"), 0);
        ASSERT_EQ(load(c.lines, lf, "\n"), 0);
        EXPECT_EQ(crlf.points.size() * 100 + crlf.edges.size() * 10 + crlf.polygons.size(),
                  c.points * 100 + c.edges * 10 + c.polygons);
        const bool closed = c.lines.size() > 30;
        EXPECT_EQ(lf.points.size() + lf.edges.size() + lf.polygons.size(), closed ? 8u : 0u);
        if (!closed) {
            for (const Point& p : crlf.points)
                EXPECT_EQ(p.x + p.y + p.z, 0.0);
            for (const Edge& e : crlf.edges)
                EXPECT_EQ(e.first + e.second + e.line_flag, 0);
            for (const Polygon& f : crlf.polygons)
                EXPECT_EQ(f.edge_count + f.colour, 0);
        }
    }
    // a record cut short repeats the last line after a single LF, and reads 0 after CR LF
    Model lf, crlf;
    ASSERT_EQ(load("ROKU4|POINT||||||1.5", lf), 0);
    ASSERT_EQ(load("ROKU4|POINT||||||1.5", crlf, "\r\n"), 0);
    EXPECT_EQ(lf.points.at(0).z, 1.5);
    EXPECT_EQ(crlf.points.at(0).y, 0.0);
}

TEST(LoadRok, TrailingBlocks) {
    Model m;
    ASSERT_EQ(load(kGeometry + kPalette +
                       "|ENDP0|junk|BAKC0|LINE2|4|0|0|0|ENDB0|LIT00|PALC0|ENDL0|VIEW0|ENDL2|ENDV0"
                       "|PALC0|1|x|1|2|3|4|5|6|x|ENDP0|LINE2|4|0|8|0|ENDL2"
                       // count 0 still discards one line, then skips to ENDP0
                       "|PALC0|0|LINE2|4|0|0|0|ENDL2|ENDP0",
                   m),
              0);
    ASSERT_EQ(m.polygons.size(), 2u);
    EXPECT_EQ(m.polygons[1].colour, 8);
    EXPECT_EQ(m.palette_count, 0);

    // count 3, the file ends after the first entry: the count stays, the rest repeats "9"
    Model cut;
    ASSERT_EQ(load(kGeometry + "|PALC0|3|x|1|2|3|4|5|6|9", cut), 0);
    ASSERT_EQ(usable_palette(cut), 3);
    EXPECT_EQ(cut.palette[0].c[5], 6);
    EXPECT_EQ(cut.palette[1].c[0] + cut.palette[2].c[5], 18);
}

// Damaged records are read in full, so the records after them are found, and then left out.
// A count past the end of the file is settled from the last line, which every further read
// would repeat.
TEST(LoadRok, DamagedRecords) {
    const std::string edge = "ROKU4|POINT|LINE0|1|2|0|0|FACE0|";
    Model bad, huge, fits, palette;
    ASSERT_EQ(load(edge + "2|0|0|0|1|1|7|0|1|END00|LINE2|0|0|1|0|1|0|2|0", bad), 0);
    EXPECT_EQ(bad.polygons.size(), 2u);
    EXPECT_EQ(bad.edge_refs, (std::vector<std::uint32_t>{0, 0}));
    ASSERT_EQ(load(edge + "2147483647|0|0|1|1", huge), 0);
    EXPECT_TRUE(huge.polygons.empty() && huge.edge_refs.empty());
    ASSERT_EQ(load(edge + "60000|0|0|1", fits), 0);
    EXPECT_EQ(fits.edge_refs, std::vector<std::uint32_t>(60000, 0));
    ASSERT_EQ(load(edge + "END00|PALC0|2147483647|x|1|2|3|4|5|6|7", palette), 0);
    EXPECT_EQ(palette.palette_count, 2147483647);
    ASSERT_EQ(palette.palette.size(), static_cast<std::size_t>(kColourSlots));
    EXPECT_EQ(palette.palette[0].c[5] * 10 + palette.palette[15].c[0], 67);
}

// Points and edges hold whatever their number lines convert to through line_real and line_int,
// whether a line is plain ("-12.5") or not (" +1e3", "1.2.3", twenty digits), wherever it falls
// in the file and with any line end.
TEST(LoadRok, RecordsHoldWhatTheConversionsGive) {
    std::mt19937 rng(3);
    const std::string digits = "0123456789";
    auto number = [&](bool real) {
        std::string text = rng() % 2 ? "-" : "";
        for (std::size_t n = rng() % (rng() % 4 == 0 ? 20 : 9); n > 0; --n)
            text += digits[rng() % 10];
        if (real && rng() % 4 != 0) {
            text += '.';
            for (std::size_t n = rng() % (rng() % 4 == 0 ? 12 : 8); n > 0; --n)
                text += digits[rng() % 10];
        }
        if (rng() % 8 == 0) text.insert(rng() % (text.size() + 1), 1, " +.eDx"[rng() % 6]);
        return text;
    };
    for (const char* eol : {"\n", "\r\n", "\r"}) {
        std::vector<std::string> reals;
        std::vector<std::string> ints;
        std::string text = std::string("ROKU4") + eol + "POINT" + eol;
        for (int i = 0; i < 3000; ++i) {
            text += std::string("1") + eol + "2" + eol + "3" + eol + "4" + eol + "5" + eol;
            for (int axis = 0; axis < 3; ++axis)
                text += reals.emplace_back(number(true)) + eol;
        }
        text += std::string("LINE0") + eol;
        for (int i = 0; i < 3000; ++i) {
            for (int field = 0; field < 4; ++field)
                text += (field == 2 ? "x" : ints.emplace_back(number(false))) + eol;
        }
        text += std::string("FACE0") + eol;
        Model m;
        ASSERT_EQ(load_rok({reinterpret_cast<const unsigned char*>(text.data()), text.size()}, m),
                  0);
        ASSERT_EQ(m.points.size(), 3000u);
        ASSERT_EQ(m.edges.size(), 3000u);
        for (std::size_t i = 0; i < m.points.size(); ++i) {
            const double xyz[] = {m.points[i].x, m.points[i].y, m.points[i].z};
            for (std::size_t axis = 0; axis < 3; ++axis) {
                const std::string& line = reals[3 * i + axis];
                EXPECT_EQ(std::bit_cast<std::uint64_t>(xyz[axis]),
                          std::bit_cast<std::uint64_t>(line_real(line)))
                    << line;
            }
        }
        for (std::size_t i = 0; i < m.edges.size(); ++i) {
            const Edge& e = m.edges[i];
            EXPECT_EQ(e.first, line_int(ints[3 * i])) << ints[3 * i];
            EXPECT_EQ(e.second, line_int(ints[3 * i + 1])) << ints[3 * i + 1];
            EXPECT_EQ(e.line_flag, static_cast<std::int16_t>(line_int(ints[3 * i + 2])))
                << ints[3 * i + 2];
        }
    }
}

}  // namespace
}  // namespace rokconv
