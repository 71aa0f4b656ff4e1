#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "models.hpp"
#include "rokconv/obj.hpp"

namespace rokconv {
namespace {

std::string text(const std::vector<unsigned char>& bytes) {
    return {bytes.begin(), bytes.end()};
}

// Z negated and the ring reversed: the triangle keeps its shape and its front, which now runs
// counter-clockwise, so its normal points along +Z.
TEST(SaveObj, OneTriangleInTheRightHandedFrame) {
    const Model m =
        model_of({{0, 0, 0.25}, {1, 0, 0.25}, {0, 1, 0.25}}, {{1, 2}, {2, 3}, {3, 1}}, {{1, 2, 3}});
    std::vector<unsigned char> obj, mtl;
    ASSERT_EQ(save_obj(m, to_bytes(obj, &mtl, "t.mtl")), SaveStatus::ok);
    EXPECT_EQ(text(obj),
              "# rokconv\nmtllib t.mtl\nv 0 -0 -2\nv 8 -0 -2\nv 0 -8 -2\nvn 0 0 1\n"
              "usemtl ROK0\nf 3//1 2//1 1//1\n");
    EXPECT_EQ(text(mtl), "# rokconv\nnewmtl ROK0\nKd 1 0 0\nKs 0 0 0\nNs 4\nd 1\nillum 2\n");
}

// Damaged parts are left out and counted; two-point faces and lines are line elements, under
// the default material where their colour has no palette entry.
TEST(SaveObj, LeavesOutWhatNoFileCanHold) {
    // rings 1 2 9 (past the table) and 1 2 4 (at infinity once scaled), a face of one edge
    // and one of none; lines over edges 1, 6 and 4
    Model m = model_of({{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1e39, 0, 0}},
                       {{1, 2}, {2, 3}, {3, 1}, {2, 9}, {9, 1}, {2, 4}, {4, 1}},
                       {{1, 4, 5}, {1, 6, 7}, {1}, {}}, {Line{0, 3}, Line{5, 0}, Line{3, 0}});
    LeftOut omitted;
    std::vector<unsigned char> obj, mtl;
    const LoadReport lines = numbered_lines(m);
    ASSERT_EQ(save_obj(m, to_bytes(obj, &mtl, "t.mtl"), {1, &lines}, &omitted), SaveStatus::ok);
    EXPECT_EQ(text(obj),
              "# rokconv\nmtllib t.mtl\nv 0 -0 -0\nv 8 -0 -0\nv 0 -8 -0\n"
              "usemtl ROK0\nl 2 1\nusemtl default\nl 1 2\n");
    // each one of its kind, placed at its record's line; the same when only counted
    LeftOut counted;
    ASSERT_EQ(count_left_out(m, Format::obj, counted, {1, &lines}), SaveStatus::ok);
    for (const LeftOut& o : {omitted, counted}) {
        EXPECT_EQ(
            std::vector<Tally>({o.faces_point_outside, o.faces_not_finite, o.faces_without_area,
                                o.lines_point_outside, o.lines_not_finite}),
            (std::vector<Tally>{{1, 100}, {1, 101}, {1, 103}, {1, 202}, {1, 201}}));
    }
    EXPECT_NE(text(mtl).find("newmtl default\nKd 0.8 0.8 0.8\n"), std::string::npos);
}

// A model large enough to be written on several threads: triangles apart from each other, every
// other one flat (all sharing one normal) and the rest each tilted its own way. Its normals are
// numbered in order of first use across all the pieces of text, each written once, whichever
// thread numbers them and whichever writes their lines.
TEST(SaveObj, NormalsNumberedInOrderOfUseOnThreads) {
    std::vector<Point> points;  // 20,000 triangles, 60,000 points
    std::vector<Edge> edges;
    std::vector<std::vector<std::uint32_t>> faces;
    for (std::uint32_t i = 0; i < 20000; ++i) {
        const double x = i, tilt = i % 2 == 0 ? 0.0 : 0.001 * i;
        points.insert(points.end(), {Point{x, 0, 0}, Point{x + 1, 0, 0}, Point{x, 1, tilt}});
        const auto p = static_cast<std::int32_t>(3 * i + 1);
        edges.insert(edges.end(), {Edge{p, p + 1, 0}, Edge{p + 1, p + 2, 0}, Edge{p + 2, p, 0}});
        faces.push_back({3 * i + 1, 3 * i + 2, 3 * i + 3});
    }
    std::vector<unsigned char> obj, mtl;
    ASSERT_EQ(save_obj(model_of(points, edges, faces), to_bytes(obj, &mtl, "t.mtl")),
              SaveStatus::ok);
    std::map<std::string, std::size_t> count;  // of each kind of line
    std::set<std::string> normals;
    std::vector<unsigned> used, expected;  // each face's normal, 0 where its corners differ
    std::istringstream lines(text(obj));
    for (std::string line; std::getline(lines, line);) {
        ++count[line.substr(0, line.find(' '))];
        if (line.starts_with("vn ")) normals.insert(line);
        unsigned v[3], n[3];
        if (std::sscanf(line.c_str(), "f %u//%u %u//%u %u//%u", &v[0], &n[0], &v[1], &n[1], &v[2],
                        &n[2]) == 6)
            used.push_back(n[0] == n[1] && n[1] == n[2] ? n[0] : 0);
    }
    EXPECT_EQ(count["v"], 60000u);
    EXPECT_EQ(count["vn"], 10001u);
    EXPECT_EQ(normals.size(), 10001u);
    for (std::uint32_t i = 0; i < 20000; ++i)
        expected.push_back(i % 2 == 0 ? 1 : 2 + i / 2);
    EXPECT_EQ(used, expected);
}

}  // namespace
}  // namespace rokconv
