#include <gtest/gtest.h>

#include <vector>

#include "models.hpp"
#include "rokconv/report.hpp"

namespace rokconv {
namespace {

Findings examined(const Model& m, const LoadReport* report = nullptr) {
    Findings f;
    EXPECT_EQ(examine(m, f, report), ExamineStatus::ok);
    return f;
}

// four points; edge 7 and 8 reach point 9, past the table
const std::vector<Edge> kEdges = {{1, 2}, {2, 3}, {3, 1}, {3, 4}, {1, 2}, {2, 1},
                                  {1, 9}, {9, 2}, {4, 4}, {3, 1}, {1, 3}};
const std::vector<Point> kPoints(4);

// Which faces are open rings and which name points outside (the ring walk itself is the ring
// tests' matter): a ring listed out of order, a chain, a face of one edge (drawn as a line),
// one of no edges (no ring), and two reaching point 9.
TEST(Examine, RingsAndPointsOfEachFace) {
    const struct {
        std::vector<std::uint32_t> face;  // 1-based edge numbers
        bool open, outside;
    } cases[] = {
        {{3, 1, 2}, false, false}, {{1, 2, 4}, true, false}, {{2}, false, false},
        {{}, true, false},         {{7}, false, true},       {{7, 8, 1}, false, true},
    };
    for (const auto& c : cases) {
        const Model m = model_of(kPoints, kEdges, {c.face});
        const Findings f = examined(m);
        SCOPED_TRACE(testing::PrintToString(c.face));
        EXPECT_EQ(f.faces_open_ring.count, c.open ? 1u : 0u);
        EXPECT_EQ(f.faces_point_outside.count, c.outside ? 1u : 0u);
        EXPECT_EQ(f.faces_open_ring.first_line + f.faces_point_outside.first_line, 0u);
    }
}

// Colours without a surface, lines reaching past the points, and each first line from the
// report; a model inconsistent with its own tables is counted, not read past.
TEST(Examine, CountsWithTheReportsLines) {
    Model m = model_of(kPoints, kEdges, {{1, 2, 3}, {1, 2}, {1, 2, 3}, {7}, {1, 2}},
                       {{0, 1}, {6, 0}, {8, 4}});
    const std::int32_t colours[] = {0, 3, -2, 20, 0};
    for (std::size_t i = 0; i < m.faces.size(); ++i)
        m.faces[i].colour = colours[i];
    LoadReport report;
    report.face_line = {10, 20, 30, 40, 50};
    report.line_line = {60, 70, 80};

    const Findings f = examined(m, &report);
    EXPECT_EQ(f.faces_open_ring, (Tally{2, 20}));
    EXPECT_EQ(f.faces_no_surface, (Tally{3, 20}));
    EXPECT_EQ(f.faces_point_outside, (Tally{1, 40}));
    EXPECT_EQ(f.lines_no_surface, (Tally{2, 60}));
    EXPECT_EQ(f.lines_point_outside, (Tally{1, 70}));
    EXPECT_EQ(f.colours, (std::vector<std::int32_t>{-2, 0, 1, 3, 4, 20}));
    EXPECT_EQ(examined(m).faces_no_surface, (Tally{3, 0}));

    m.edge_refs[m.faces[3].first_ref] = 99;  // face 4, of one edge, names one past the table
    m.faces[2].first_ref = 1000;             // face 3 lists past the references
    m.faces[4].edge_count = -1;              // face 5 has a count no file gives
    m.lines[2].edge = 99;                    // line 3 names an edge past the table
    const Findings bad = examined(m, &report);
    EXPECT_EQ(bad.faces_open_ring, (Tally{4, 20}));
    EXPECT_EQ(bad.faces_point_outside, (Tally{3, 30}));
    EXPECT_EQ(bad.lines_point_outside, (Tally{2, 70}));
}

// A model large enough to be examined in ranges side by side: what each range finds is put
// together in order, the first line of each kind the earliest in the file.
TEST(Examine, LargeModelInRanges) {
    // 30,000 faces over 60,002 points, at lines 1000 on
    std::vector<std::vector<std::uint32_t>> faces(30000, {1, 2, 3});
    faces[29993] = faces[10000] = {1, 2};  // open, late and earlier, in another range
    faces[29998] = {4};                    // reaching past the points
    Model m = model_of(std::vector<Point>(60002), {{1, 2}, {2, 3}, {3, 1}, {1, 99'999'999}}, faces);
    m.faces[29999].colour = 40;
    m.faces[5].colour = 3;
    LoadReport report;
    for (std::size_t i = 0; i < faces.size(); ++i)
        report.face_line.push_back(1000 + i);
    const Findings f = examined(m, &report);
    EXPECT_EQ(f.faces_open_ring, (Tally{2, 11000}));
    EXPECT_EQ(f.faces_point_outside, (Tally{1, 30998}));
    EXPECT_EQ(f.faces_no_surface, (Tally{2, 1005}));  // colours 3 and 40: the palette has only 0
    EXPECT_EQ(f.colours, (std::vector<std::int32_t>{0, 3, 40}));
}

}  // namespace
}  // namespace rokconv
