#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <ostream>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "rok/numbers.hpp"
#include "rokconv/rok.hpp"
#include "util/compat.hpp"

namespace rokconv {
namespace {

// A ROK file written with '|' between lines, each line then ended by eol.
LoadStatus load(const std::string& lines, Model& model, const std::string& eol = "\n") {
    std::string text;
    for (char c : lines)
        text += c == '|' ? eol : std::string(1, c);
    text += eol;
    return load_rok({reinterpret_cast<const unsigned char*>(text.data()), text.size()}, model);
}

constexpr LoadStatus kOk = LoadStatus::ok;
constexpr LoadStatus kNotRok = LoadStatus::not_rok;

}  // namespace

// readable records in failures
void PrintTo(const Point& p, std::ostream* out) {
    *out << "(" << p.x << ", " << p.y << ", " << p.z << ")";
}
void PrintTo(const Edge& e, std::ostream* out) {
    *out << "(" << e.first << ", " << e.second << ", flag " << e.line_flag << ")";
}
void PrintTo(const Line& l, std::ostream* out) {
    *out << "(edge " << l.edge << ", colour " << l.colour << ")";
}

namespace {

std::vector<std::array<std::int32_t, 6>> palette(const Model& m) {
    std::vector<std::array<std::int32_t, 6>> out;
    for (const PaletteEntry& e : usable_palette(m))
        out.push_back({e.c[0], e.c[1], e.c[2], e.c[3], e.c[4], e.c[5]});
    return out;
}

// three points (lines 1-5 of a record are not used, even "POINT"), four edges, one face
const std::string kGeometry =
    "ROKU4 rest of the magic line|ignored|POINT|9|x||-1|POINT|1.5|-2|3d1||||||0|1e0|0.25|||||"
    "|-0|7|8|LINE0|1|2|0|1|3|1|0|1|2|3|0|1|1|3|5|65536|FACE0|3|1|0|1|3|2|END00";
const std::string kPalette = "|PALC0|2|x|255|255|255|0|0|0|x|10|20|30|40|50|60|x|ENDP0";

std::vector<std::uint32_t> refs(const Model& m, std::size_t polygon) {
    const auto r = face_edges(m, m.faces[polygon]);
    return {r.begin(), r.end()};
}

TEST(LoadRok, FillsEveryTableInFileOrderWithAnyLineEnd) {
    for (const char* eol : {"\n", "\r\n", "\n\r", "\r"}) {
        Model m;
        // the line over edge 4 (flag 65536, so 0) is kept, the one over edge 1 (flag 1) is not
        ASSERT_EQ(load(kGeometry + kPalette + "|LINE2|4|0|6|0|1|0|0|0|ENDL2", m, eol), kOk);
        EXPECT_EQ(m.points, (std::vector<Point>{{1.5, -2, 30}, {0, 1, 0.25}, {-0.0, 7, 8}}));
        EXPECT_EQ(m.edges, (std::vector<Edge>{{1, 2, 1}, {3, 1, 1}, {2, 3, 1}, {1, 3, 0}}));
        ASSERT_EQ(m.faces.size(), 1u);
        EXPECT_EQ(refs(m, 0), (std::vector<std::uint32_t>{0, 2, 1}));
        EXPECT_EQ(m.faces[0].colour, 1);
        EXPECT_EQ(m.lines, (std::vector<Line>{{3, 6}}));
        ASSERT_EQ(m.palette_count, 2);
        EXPECT_EQ(palette(m), (std::vector<std::array<std::int32_t, 6>>{{255, 255, 255, 0, 0, 0},
                                                                        {10, 20, 30, 40, 50, 60}}));
    }
}

TEST(LoadRok, RecognisesTheMagicOnlyAtItsPlace) {
    const std::string body = "|POINT|0|0|0|0|0|1|2|3|LINE0";
    const std::string preamble = std::string(1, '\0') + std::string(127, 'p');
    const struct {
        std::string text;
        LoadStatus result;
    } cases[] = {{"ROKU4" + body, kOk},
                 {preamble + "ROKU4" + body, kOk},
                 {preamble + "ROKU5" + body, kNotRok},
                 {std::string(1, '\0') + "ROKU4" + body, kNotRok},
                 {"xROKU4" + body, kNotRok},
                 {"ROKU", kNotRok},
                 {preamble + "ROK", kNotRok},
                 {"ROKU4", kOk}};
    for (const auto& c : cases) {
        Model m;
        EXPECT_EQ(load(c.text, m), c.result) << c.text.size();
        const bool point = c.result == kOk && c.text.size() > 5;
        EXPECT_EQ(m.points.size(), point ? 1u : 0u);
        if (point) {
            EXPECT_EQ(m.points[0], (Point{1, 2, 3}));
        }
    }
    Model empty;
    EXPECT_EQ(load_rok(std::span<const unsigned char>{}, empty), kNotRok);
}

// After a final CR LF the indicator is still clear, so the loop that is running reads one more,
// empty line; one that has not met its closing keyword takes it as a record of zeros. A final
// LF adds nothing.
TEST(LoadRok, EmptyLineAfterAFinalCrLfOpensARecord) {
    const struct {
        std::string lines;
        std::size_t points, edges, faces;  // with CR LF ends
    } cases[] = {{"ROKU4|POINT", 1, 0, 0},
                 {"ROKU4|POINT|LINE0", 0, 1, 0},
                 {"ROKU4|POINT|LINE0|FACE0", 0, 0, 1},
                 {kGeometry + "|LINE2", 3, 4, 1}};  // edge 0 names nothing
    for (const auto& c : cases) {
        Model crlf, lf;
        ASSERT_EQ(load(c.lines, crlf, "\r\n"), kOk);
        ASSERT_EQ(load(c.lines, lf, "\n"), kOk);
        const bool closed = c.faces == 1 && c.points > 0;
        EXPECT_EQ(crlf.points.size(), c.points) << c.lines;
        EXPECT_EQ(crlf.edges.size(), c.edges) << c.lines;
        EXPECT_EQ(crlf.faces.size(), c.faces) << c.lines;
        EXPECT_TRUE(crlf.lines.empty()) << c.lines;
        EXPECT_EQ(lf.points.size(), closed ? 3u : 0u) << c.lines;
        EXPECT_EQ(lf.edges.size(), closed ? 4u : 0u) << c.lines;
        EXPECT_EQ(lf.faces.size(), closed ? 1u : 0u) << c.lines;
        if (!closed) {
            for (const Point& p : crlf.points)
                EXPECT_EQ(p, (Point{0, 0, 0}));
            for (const Edge& e : crlf.edges)
                EXPECT_EQ(e, (Edge{0, 0, 0}));
            for (const Face& f : crlf.faces)
                EXPECT_TRUE(f.edge_count == 0 && f.colour == 0);
        }
    }
    // a record cut short repeats the last line after a single LF, and reads 0 after CR LF
    Model lf, crlf;
    ASSERT_EQ(load("ROKU4|POINT||||||1.5", lf), kOk);
    ASSERT_EQ(load("ROKU4|POINT||||||1.5", crlf, "\r\n"), kOk);
    EXPECT_EQ(lf.points, (std::vector<Point>{{1.5, 1.5, 1.5}}));
    EXPECT_EQ(crlf.points, (std::vector<Point>{{1.5, 0, 0}}));
}

TEST(LoadRok, TrailingBlocks) {
    Model m;
    ASSERT_EQ(load(kGeometry + kPalette +
                       "|ENDP0|junk|BAKC0|LINE2|4|0|0|0|ENDB0|LIT00|PALC0|ENDL0|VIEW0|ENDL2|ENDV0"
                       "|PALC0|1|x|1|2|3|4|5|6|x|ENDP0|LINE2|4|0|8|0|ENDL2"
                       // count 0 still discards one line, then skips to ENDP0
                       "|PALC0|0|LINE2|4|0|0|0|ENDL2|ENDP0",
                   m),
              kOk);
    EXPECT_EQ(m.lines, (std::vector<Line>{{3, 8}}));
    EXPECT_EQ(m.palette_count, 0);
    EXPECT_TRUE(palette(m).empty());

    // count 3, the file ends after the first entry: the count stays, the rest repeats "9"
    Model cut;
    ASSERT_EQ(load(kGeometry + "|PALC0|3|x|1|2|3|4|5|6|9", cut), kOk);
    EXPECT_EQ(palette(cut), (std::vector<std::array<std::int32_t, 6>>{
                                {1, 2, 3, 4, 5, 6}, {9, 9, 9, 9, 9, 9}, {9, 9, 9, 9, 9, 9}}));
}

// Damaged records are read in full, so the records after them are found, and then left out.
// A count past the end of the file is settled from the last line, which every further read
// would repeat.
TEST(LoadRok, DamagedRecords) {
    const std::string edge = "ROKU4|POINT|LINE0|1|2|0|0|FACE0|";
    Model bad, huge, palette_end;
    // faces over edges 0, 1 and 7 of a table of one, then LINE2 over edges 0 and 1
    ASSERT_EQ(load(edge + "2|0|0|0|1|1|3|0|7|1|4|0|1|END00|LINE2|0|0|1|0|1|0|2|0", bad), kOk);
    ASSERT_EQ(bad.faces.size(), 1u);
    EXPECT_EQ(refs(bad, 0), (std::vector<std::uint32_t>{0}));
    EXPECT_EQ(bad.faces[0].colour, 4);
    EXPECT_EQ(bad.lines, (std::vector<Line>{{0, 2}}));
    ASSERT_EQ(load(edge + "2147483647|0|0|1|1", huge), kOk);
    EXPECT_TRUE(huge.faces.empty() && huge.edge_refs.empty());
    ASSERT_EQ(load(edge + "END00|PALC0|2147483647|x|1|2|3|4|5|6|7", palette_end), kOk);
    EXPECT_EQ(palette_end.palette_count, 2147483647);
    auto entries = palette(palette_end);
    ASSERT_EQ(entries.size(), static_cast<std::size_t>(kPaletteEntries));
    EXPECT_EQ(entries[0], (std::array<std::int32_t, 6>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(entries[15], (std::array<std::int32_t, 6>{7, 7, 7, 7, 7, 7}));
}

// A face holds at most 65,535 edges, whether they are all in the file or settled from its last
// line; one more, or a negative count, is read past and left out, and the next face is kept.
TEST(LoadRok, FaceEdgeCountBounds) {
    for (const bool listed : {true, false}) {
        for (const std::int32_t n : {65535, 65536, -1}) {
            if (n < 0 && !listed) continue;  // its "1" would open the next face
            std::string text =
                "ROKU4\nPOINT\nLINE0\n1\n2\n0\n0\nFACE0\n" + std::to_string(n) + "\n3\n0\n";
            for (std::int32_t i = 0; listed && i < n; ++i)
                text += "1\n";
            if (listed) text += "1\n5\n0\n1\nEND00\n";  // a one-edge face after it
            if (!listed) text += "1\n";                 // the rest repeats this line
            Model m;
            ASSERT_EQ(
                load_rok({reinterpret_cast<const unsigned char*>(text.data()), text.size()}, m),
                kOk);
            const bool kept = n == kMaxFaceEdges;
            ASSERT_EQ(m.faces.size(), (kept ? 1u : 0u) + (listed ? 1u : 0u)) << n;
            EXPECT_EQ(m.edge_refs.size(), (kept ? 65535u : 0u) + (listed ? 1u : 0u)) << n;
            if (kept) {
                EXPECT_EQ(m.faces[0].edge_count, 65535);
            }
            if (listed) {
                EXPECT_EQ(m.faces.back().colour, 5) << n;
            }
        }
    }
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
                  kOk);
        ASSERT_EQ(m.points.size(), 3000u);
        ASSERT_EQ(m.edges.size(), 3000u);
        for (std::size_t i = 0; i < m.points.size(); ++i) {
            const double xyz[] = {m.points[i].x, m.points[i].y, m.points[i].z};
            for (std::size_t axis = 0; axis < 3; ++axis) {
                const std::string& line = reals[3 * i + axis];
                EXPECT_EQ(compat::bit_cast<std::uint64_t>(xyz[axis]),
                          compat::bit_cast<std::uint64_t>(line_real(line)))
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
