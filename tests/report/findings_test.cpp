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
        {{1, 10}, true, false},         // the walk resumes, and its last edge ends where it began
        {{1, 6, 11, 10}, true, false},  // it comes back to edge 1 and never walks 10 or 11
        {{2}, false, false},            // one edge is drawn as a line
        {{}, true, false},              // no edges, no ring
        {{7}, false, true},
        {{7, 8, 1}, false, true},
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

// Faces of more edges than are searched directly: a ring of 20, a chain of 19, the chain with its
// first edge again, and a face whose walk comes back to edges it has walked.
TEST(Examine, LargeRings) {
    std::vector<Edge> edges;
    std::vector<std::uint32_t> ring;
    for (std::int32_t i = 1; i <= 20; ++i) {
        edges.push_back(Edge{i, i % 20 + 1, 0});
        ring.push_back(static_cast<std::uint32_t>(i));
    }
    std::vector<std::uint32_t> chain(ring.begin(), ring.end() - 1);
    std::vector<std::uint32_t> again = chain;
    again.push_back(1);
    const Findings f =
        examined(model_of(std::vector<Point>(20), edges, {ring, chain, again, ring}));
    EXPECT_EQ(f.faces_open_ring.count, 2u);
    EXPECT_EQ(f.faces_point_outside.count, 0u);
    // 1-2 and back, then nine times 1-3 and back: the walk goes between 1 and 2 only
    std::vector<std::uint32_t> back_and_forth = {1, 2};
    for (int i = 0; i < 9; ++i)
        back_and_forth.insert(back_and_forth.end(), {3, 4});
    EXPECT_EQ(examined(model_of(std::vector<Point>(3), {{1, 2}, {2, 1}, {1, 3}, {3, 1}},
                                {back_and_forth}))
                  .faces_open_ring.count,
              1u);
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
    constexpr std::size_t kFaces = 30000;  // over 50,000 points
    std::vector<Point> points(2 * kFaces + 2);
    std::vector<Edge> edges = {{1, 2}, {2, 3}, {3, 1}, {1, 99'999'999}};
    std::vector<std::vector<std::uint32_t>> faces(kFaces, {1, 2, 3});
    faces[kFaces - 7] = {1, 2};  // open, late
    faces[kFaces / 3] = {1, 2};  // open, earlier, in another range
    faces[kFaces - 2] = {4};     // reaching past the points
    Model m = model_of(points, edges, faces);
    m.faces[kFaces - 1].colour = 40;
    m.faces[5].colour = 3;
    LoadReport report;
    for (std::size_t i = 0; i < kFaces; ++i)
        report.face_line.push_back(1000 + i);
    const Findings f = examined(m, &report);
    EXPECT_EQ(f.faces_open_ring.count, 2u);
    EXPECT_EQ(f.faces_open_ring.first_line, 1000 + kFaces / 3);
    EXPECT_EQ(f.faces_point_outside.count, 1u);
    EXPECT_EQ(f.faces_point_outside.first_line, 1000 + kFaces - 2);
    EXPECT_EQ(f.faces_no_surface.count, 2u);  // colours 3 and 40: the palette has only 0
    EXPECT_EQ(f.faces_no_surface.first_line, 1005u);
    EXPECT_EQ(f.colours, (std::vector<std::int32_t>{0, 3, 40}));
}

}  // namespace
}  // namespace rokconv
