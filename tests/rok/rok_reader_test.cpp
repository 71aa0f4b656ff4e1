#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rok/rok.hpp"

namespace rokconv {
namespace {

std::string join(const std::vector<std::string>& lines, const std::string& eol) {
    std::string out;
    for (const std::string& line : lines)
        out += line + eol;
    return out;
}

int load(const std::string& text, Model& model) {
    return load_rok({reinterpret_cast<const unsigned char*>(text.data()), text.size()}, model);
}

std::vector<std::string> point(const std::string& x, const std::string& y, const std::string& z) {
    return {"9", "junk", "", "-1", "POINT", x, y, z};  // lines 1-5 are not used
}

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// a triangle over points 1-3, a fourth edge whose line flag is 0, and a two-entry palette
const std::vector<std::string> kHeader = {"ROKU4 rest of the magic line", "ignored", "POINT"};
const std::vector<std::string> kGeometry =
    kHeader + point("1.5", "-2", "3d1") + point("0", "1e0", "0.25") + point("-0", "7", "8") +
    std::vector<std::string>{"LINE0", "1", "2", "0", "1", "3", "1", "0",    "1",  // edges 1, 2
                             "2",     "3", "0", "1", "1", "3", "5", "0",          // edges 3, 4
                             "FACE0", "3", "1", "0", "1", "3", "2", "END00"};
const std::vector<std::string> kPalette = {"PALC0", "2",  "x",  "255", "255", "255",
                                           "0",     "0",  "0",  "x",   "10",  "20",
                                           "30",    "40", "50", "60",  "x",   "ENDP0"};

TEST(LoadRok, FillsEveryTableInFileOrder) {
    Model m;
    ASSERT_EQ(load(join(kGeometry + kPalette +
                            std::vector<std::string>{"LINE2", "4", "0", "1", "0", "1", "0", "0",
                                                     "0", "ENDL2"},
                        "\n"),
                   m),
              0);
    ASSERT_EQ(m.points.size(), 3u);
    EXPECT_EQ(m.points[0].x, 1.5);
    EXPECT_EQ(m.points[0].y, -2.0);
    EXPECT_EQ(m.points[0].z, 30.0);
    EXPECT_EQ(m.points[1].y, 1.0);
    EXPECT_EQ(m.points[2].z, 8.0);

    ASSERT_EQ(m.edges.size(), 4u);
    EXPECT_EQ(m.edges[1].first, 3);
    EXPECT_EQ(m.edges[1].second, 1);
    EXPECT_EQ(m.edges[1].line_flag, 1);
    EXPECT_EQ(m.edges[3].line_flag, 0);

    // the face, then a line over edge 4 (flag 0); edge 1 has flag 1 and gives nothing
    ASSERT_EQ(m.polygons.size(), 2u);
    EXPECT_EQ(m.polygons[0].edge_count, 3);
    EXPECT_EQ(m.polygons[0].colour, 1);
    const std::uint32_t* refs = polygon_edges(m, m.polygons[0]);
    EXPECT_EQ(std::vector<std::uint32_t>(refs, refs + 3), (std::vector<std::uint32_t>{0, 2, 1}));
    EXPECT_EQ(m.polygons[1].edge_count, 1);
    EXPECT_EQ(m.polygons[1].colour, 1);
    EXPECT_EQ(polygon_edges(m, m.polygons[1])[0], 3u);

    ASSERT_EQ(m.palette_count, 2);
    EXPECT_EQ(m.palette[0].c[0], 255);
    EXPECT_EQ(m.palette[0].c[5], 0);
    EXPECT_EQ(m.palette[1].c[2], 30);
    EXPECT_EQ(m.palette[1].c[5], 60);
}

TEST(LoadRok, RecognisesTheMagicOnlyAtItsPlace) {
    const std::string body = "\nPOINT\n0\n0\n0\n0\n0\n1\n2\n3\nLINE0\n";
    std::string preamble(128, 'p');
    preamble[0] = '\0';
    struct Case {
        std::string text;
        int result;
        std::size_t points;
    };
    const Case cases[] = {
        {"ROKU4" + body, 0, 1},
        {preamble + "ROKU4" + body, 0, 1},
        {preamble + "ROKU5" + body, -1, 0},
        {"\0ROKU4" + body, -1, 0},  // the preamble is 128 bytes
        {"xROKU4" + body, -1, 0},
        {"rokU4" + body, -1, 0},
        {"ROKU", -1, 0},
        {"", -1, 0},
        {std::string(1, '\0'), -1, 0},
        {preamble + "ROK", -1, 0},
        {"ROKU4", 0, 0},
        {"ROKU4 no point line\nLINE0\n", 0, 0},
    };
    for (const Case& c : cases) {
        Model m;
        EXPECT_EQ(load(c.text, m), c.result) << c.text.size();
        EXPECT_EQ(m.points.size(), c.points) << c.text.size();
    }
}

// A file whose last line ends in CR LF gives one more, empty line; a loop that has not met its
// closing keyword takes it as a record of zeros.
TEST(LoadRok, EmptyLastLineOfACrLfFileOpensARecord) {
    struct Case {
        std::vector<std::string> lines;
        std::size_t points, edges, polygons;  // with CR LF; LF and CR ends add no record
    };
    const Case cases[] = {
        {{"ROKU4", "POINT"}, 1, 0, 0},
        {{"ROKU4", "POINT", "LINE0"}, 0, 1, 0},
        {{"ROKU4", "POINT", "LINE0", "FACE0"}, 0, 0, 1},
        {kGeometry, 3, 4, 1},                                      // all blocks closed
        {kGeometry + std::vector<std::string>{"LINE2"}, 3, 4, 1},  // edge 0 names nothing
    };
    for (const Case& c : cases) {
        const bool unclosed = c.lines.size() <= 4;
        Model crlf;
        ASSERT_EQ(load(join(c.lines, "\r\n"), crlf), 0);
        EXPECT_EQ(crlf.points.size(), c.points);
        EXPECT_EQ(crlf.edges.size(), c.edges);
        EXPECT_EQ(crlf.polygons.size(), c.polygons);
        if (unclosed) {
            for (const Point& p : crlf.points)
                EXPECT_EQ(p.x + p.y + p.z, 0.0);
            for (const Edge& e : crlf.edges)
                EXPECT_EQ(e.first + e.second + e.line_flag, 0);
            for (const Polygon& f : crlf.polygons)
                EXPECT_EQ(f.edge_count + f.colour, 0);
        }
        for (const char* eol : {"\n", "\r"}) {
            Model other;
            ASSERT_EQ(load(join(c.lines, eol), other), 0);
            EXPECT_EQ(other.points.size(), unclosed ? 0 : c.points) << eol;
            EXPECT_EQ(other.edges.size(), unclosed ? 0 : c.edges) << eol;
            EXPECT_EQ(other.polygons.size(), unclosed ? 0 : c.polygons) << eol;
        }
    }
}

TEST(LoadRok, LineEndStylesReadAlike) {
    const std::vector<std::string> lines = kGeometry + kPalette;
    Model lf;
    ASSERT_EQ(load(join(lines, "\n"), lf), 0);
    for (const char* eol : {"\r\n", "\n\r", "\r"}) {
        Model m;
        ASSERT_EQ(load(join(lines, eol), m), 0);
        EXPECT_EQ(m.points.size(), lf.points.size()) << eol;
        EXPECT_EQ(m.edges.size(), lf.edges.size()) << eol;
        EXPECT_EQ(m.polygons.size(), lf.polygons.size()) << eol;
        EXPECT_EQ(m.edge_refs, lf.edge_refs) << eol;
        EXPECT_EQ(m.palette_count, lf.palette_count) << eol;
    }
}

TEST(LoadRok, RecordCutShortIsCompletedFromTheLastLine) {
    // single LF at the end: eof is set with "1.5" in the buffer, which the missing lines repeat
    Model lf;
    ASSERT_EQ(load("ROKU4\nPOINT\n0\n0\n0\n0\n0\n1.5\n", lf), 0);
    ASSERT_EQ(lf.points.size(), 1u);
    EXPECT_EQ(lf.points[0].y, 1.5);
    EXPECT_EQ(lf.points[0].z, 1.5);

    // CR LF at the end: the next read gives an empty line, so the missing lines are 0
    Model crlf;
    ASSERT_EQ(load("ROKU4\r\nPOINT\r\n0\r\n0\r\n0\r\n0\r\n0\r\n1.5\r\n", crlf), 0);
    ASSERT_EQ(crlf.points.size(), 1u);
    EXPECT_EQ(crlf.points[0].x, 1.5);
    EXPECT_EQ(crlf.points[0].y, 0.0);
}

TEST(LoadRok, PaletteBlocks) {
    auto palette_of = [](const std::vector<std::string>& trailing) {
        Model m;
        EXPECT_EQ(load(join(kGeometry + trailing, "\n"), m), 0);
        return m;
    };
    // a second palette replaces the first
    Model twice = palette_of(kPalette + std::vector<std::string>{"PALC0", "1", "x", "1", "2", "3",
                                                                 "4", "5", "6", "x", "ENDP0"});
    ASSERT_EQ(twice.palette_count, 1);
    EXPECT_EQ(twice.palette[0].c[0], 1);

    // count 0 still discards one line, then skips to ENDP0: the LINE2 block inside is not read
    Model empty = palette_of({"PALC0", "0", "LINE2", "4", "0", "0", "0", "ENDL2", "ENDP0"});
    EXPECT_EQ(empty.palette_count, 0);
    EXPECT_EQ(empty.polygons.size(), 1u);

    // count 3, file ends after the first entry: the count stays, the rest repeats the last line
    Model cut = palette_of({"PALC0", "3", "x", "1", "2", "3", "4", "5", "6", "9"});
    ASSERT_EQ(cut.palette_count, 3);
    ASSERT_EQ(usable_palette(cut), 3);
    EXPECT_EQ(cut.palette[0].c[5], 6);
    for (int k : {1, 2}) {
        for (int c : cut.palette[k].c)
            EXPECT_EQ(c, 9);
    }

    Model negative = palette_of({"PALC0", "-4", "x", "ENDP0"});
    EXPECT_EQ(negative.palette_count, -4);
    EXPECT_EQ(usable_palette(negative), 0);
}

TEST(LoadRok, TrailingBlocksInAnyOrder) {
    Model m;
    const std::vector<std::string> trailing = {
        "ENDP0", "junk",  "BAKC0", "LINE2", "4",     "0",     "0",     "0", "ENDB0",  // skipped
        "LIT00", "PALC0", "ENDL0", "VIEW0", "ENDL2", "ENDV0",                         // skipped
        "LINE2", "4",     "0",     "7",     "0",     "ENDL2", "LINE2", "4", "0",     "8", "0",
        "ENDL2",  // two lines
        "PALC0", "1",     "x",     "1",     "1",     "1",     "1",     "1", "1",     "x", "ENDP0"};
    ASSERT_EQ(load(join(kGeometry + trailing, "\n"), m), 0);
    ASSERT_EQ(m.polygons.size(), 3u);
    EXPECT_EQ(m.polygons[1].colour, 7);
    EXPECT_EQ(m.polygons[2].colour, 8);
    EXPECT_EQ(m.palette_count, 1);
}

TEST(LoadRok, LineFlagKeepsItsLow16Bits) {
    Model m;
    const std::vector<std::string> lines = {
        "ROKU4", "POINT", "LINE0", "1",      "2", "0", "65536",  // flag 0: usable
        "1",     "2",     "0",     "65537",                      // flag 1
        "1",     "2",     "0",     "-65536",                     // flag 0
        "FACE0", "END00", "LINE2", "1",      "0", "3", "0",     "2",
        "0",     "3",     "0",     "3",      "0", "3", "0"};
    ASSERT_EQ(load(join(lines, "\n"), m), 0);
    ASSERT_EQ(m.polygons.size(), 2u);
    EXPECT_EQ(polygon_edges(m, m.polygons[0])[0], 0u);
    EXPECT_EQ(polygon_edges(m, m.polygons[1])[0], 2u);
    EXPECT_EQ(m.edges[1].line_flag, 1);
}

// Damaged records are read in full, so the records after them are still found, and are then
// left out; no reference outside the edge table is stored.
TEST(LoadRok, LeavesOutRecordsAnOutputPolygonCannotHold) {
    const std::vector<std::vector<std::string>> damaged = {
        {"3", "0", "0", "1", "0", "2"},  // edge 0
        {"3", "0", "0", "1", "5", "2"},  // past the four edges
        {"2", "0", "0", "-1", "2"},      // negative
        {"-2", "0", "0"},                // negative count: no edge lines follow
        {"65536", "0", "0"},             // more edges than a polygon holds ...
    };
    for (const auto& face : damaged) {
        std::vector<std::string> lines = kGeometry;
        lines.pop_back();  // END00
        lines = lines + face;
        if (face[0] == "65536") {
            for (int i = 0; i < 65536; ++i)
                lines.push_back("1");  // ... all of them valid
        }
        lines = lines + std::vector<std::string>{"2", "5", "0", "3", "1",  "END00", "LINE2",
                                                 "0", "0", "1", "0", "99", "0",     "1",
                                                 "0", "4", "0", "2", "0",  "ENDL2"};
        Model m;
        ASSERT_EQ(load(join(lines, "\n"), m), 0);
        // the good face before and after, then the one good line
        ASSERT_EQ(m.polygons.size(), 3u) << face[0];
        EXPECT_EQ(m.polygons[1].colour, 5);
        EXPECT_EQ(m.polygons[2].colour, 2);
        for (std::uint32_t ref : m.edge_refs)
            EXPECT_LT(ref, m.edges.size());
    }
}

TEST(LoadRok, HugeCountsInATinyFileFinishAtOnce) {
    Model face;
    ASSERT_EQ(load("ROKU4\nPOINT\nLINE0\n1\n2\n0\n0\nFACE0\n2147483647\n0\n0\n1\n1\n", face), 0);
    EXPECT_TRUE(face.polygons.empty());
    EXPECT_TRUE(face.edge_refs.empty());

    // a face that fits is completed from the repeated last line
    Model small;
    ASSERT_EQ(load("ROKU4\nPOINT\nLINE0\n1\n2\n0\n0\nFACE0\n60000\n0\n0\n1\n", small), 0);
    ASSERT_EQ(small.polygons.size(), 1u);
    EXPECT_EQ(small.edge_refs.size(), 60000u);

    Model palette;
    ASSERT_EQ(load("ROKU4\nPOINT\nLINE0\nFACE0\nEND00\nPALC0\n2147483647\nx\n1\n2\n3\n4\n5\n6\n7\n",
                   palette),
              0);
    EXPECT_EQ(palette.palette_count, 2147483647);
    ASSERT_EQ(palette.palette.size(), static_cast<std::size_t>(kColourSlots));
    EXPECT_EQ(palette.palette[0].c[5], 6);
    EXPECT_EQ(palette.palette[15].c[0], 7);
}

TEST(LoadRok, EveryTruncationReadsSafely) {
    const std::string full = join(kGeometry + kPalette, "\r\n");
    Model whole;
    ASSERT_EQ(load(full, whole), 0);
    for (std::size_t n = 0; n <= full.size(); ++n) {
        Model m;
        ASSERT_EQ(load(full.substr(0, n), m), n < 5 ? -1 : 0) << n;
        EXPECT_LE(m.points.size(), whole.points.size() + 1) << n;
        EXPECT_LE(m.polygons.size(), whole.polygons.size() + 1) << n;
        for (std::uint32_t ref : m.edge_refs)
            EXPECT_LT(ref, m.edges.size()) << n;
    }
}

}  // namespace
}  // namespace rokconv
