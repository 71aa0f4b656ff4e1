#include <gtest/gtest.h>

#include <vector>

#include "models.hpp"
#include "rokconv/report.hpp"

namespace rokconv {
namespace {

// four points; edge 7 and 8 reach point 9, past the table
const std::vector<Edge> kEdges = {{1, 2}, {2, 3}, {3, 1}, {3, 4}, {1, 2},
                                  {2, 1}, {1, 9}, {9, 2}, {4, 4}};
const std::vector<Point> kPoints(4);

TEST(Examine, RingsAndPointsOfEachFace) {
    const struct {
        std::vector<std::uint32_t> face;  // 1-based edge numbers
        bool open, outside;
    } cases[] = {
        {{1, 2, 3}, false, false},
        {{3, 1, 2}, false, false},    // listed out of order, some edges walked backwards
        {{1, 2, 4}, true, false},     // a chain that does not come back
        {{1, 2, 3, 5}, true, false},  // a triangle and an edge again
        {{1, 2, 3, 9}, true, false},  // the walk goes round without the loop at point 4
        {{1, 6}, false, false},       // two edges there and back close
        {{1, 2}, true, false},
        {{2}, false, false},  // one edge is drawn as a line
        {{}, true, false},    // no edges, no ring
        {{7}, false, true},
        {{7, 8, 1}, false, true},
    };
    for (const auto& c : cases) {
        const Model m = model_of(kPoints, kEdges, {c.face});
        const Findings f = examine(m);
        SCOPED_TRACE(testing::PrintToString(c.face));
        EXPECT_EQ(f.faces_open_ring.count, c.open ? 1u : 0u);
        EXPECT_EQ(f.faces_point_outside.count, c.outside ? 1u : 0u);
        EXPECT_EQ(f.faces_open_ring.first_line + f.faces_point_outside.first_line, 0u);
        EXPECT_TRUE(f.complete);
    }
}

// Colours without a surface, lines reaching past the points, and each first line from the
// report; a model inconsistent with its own tables is counted, not read past.
TEST(Examine, CountsWithTheReportsLines) {
    Model m = model_of(kPoints, kEdges, {{1, 2, 3}, {1, 2}, {1, 2, 3}, {7}, {1, 2}},
                       {{0, 1}, {6, 0}, {8, 4}});
    const std::int32_t colours[] = {0, 3, -2, 20, 0};
    for (std::size_t i = 0; i < m.polygons.size(); ++i)
        m.polygons[i].colour = colours[i];
    LoadReport report;
    report.face_line = {10, 20, 30, 40, 50};
    report.line_line = {60, 70, 80};

    const Findings f = examine(m, &report);
    EXPECT_EQ(f.faces_open_ring, (Tally{2, 20}));
    EXPECT_EQ(f.faces_no_surface, (Tally{3, 20}));
    EXPECT_EQ(f.faces_point_outside, (Tally{1, 40}));
    EXPECT_EQ(f.lines_no_surface, (Tally{2, 60}));
    EXPECT_EQ(f.lines_point_outside, (Tally{1, 70}));
    EXPECT_EQ(f.colours, (std::vector<std::int32_t>{-2, 0, 1, 3, 4, 20}));
    EXPECT_EQ(examine(m).faces_no_surface, (Tally{3, 0}));

    m.edge_refs[m.polygons[3].first_ref] = 99;  // face 4, of one edge, names one past the table
    m.polygons[2].first_ref = 1000;             // face 3 lists past the references
    m.polygons[4].edge_count = -1;              // face 5 has a count no file gives
    m.lines[2].edge = 99;                       // line 3 names an edge past the table
    const Findings bad = examine(m, &report);
    EXPECT_EQ(bad.faces_open_ring, (Tally{4, 20}));
    EXPECT_EQ(bad.faces_point_outside, (Tally{3, 30}));
    EXPECT_EQ(bad.lines_point_outside, (Tally{2, 70}));
}

}  // namespace
}  // namespace rokconv
