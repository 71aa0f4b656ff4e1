#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "models.hpp"
#include "rokconv/stl.hpp"

namespace rokconv {
namespace {

using Bytes = std::vector<unsigned char>;

Bytes stl_of(const Model& m, LeftOut* left_out = nullptr) {
    Bytes out;
    const LoadReport lines = numbered_lines(m);
    EXPECT_EQ(save_stl(m, to_bytes(out), {1, &lines}, left_out), SaveStatus::ok);
    return out;
}

// One triangle, whole: the header, the count, the facet's normal and corners turned to Z up
// from glTF's frame, where the ring runs backwards, and no attributes.
TEST(SaveStl, OneTriangleByteForByte) {
    const Bytes stl = stl_of(model_of({{0, 0, 0.25}, {1, 0, 0.25}, {0, 1, 0.25}},
                                      {{1, 2}, {2, 3}, {3, 1}}, {{1, 2, 3}}));
    Bytes expected(80, 0);
    const char name[] = "binary STL written by rokconv";
    std::memcpy(expected.data(), name, sizeof name - 1);
    const Bytes facet = {
        0x01, 0x00, 0x00, 0x00,                                                  // one facet
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80, 0xBF, 0x00, 0x00, 0x00, 0x00,  // normal 0 -1 0
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x40, 0x00, 0x00, 0x00, 0xC1,  // 0 2 -8
        0x00, 0x00, 0x00, 0x41, 0x00, 0x00, 0x00, 0x40, 0x00, 0x00, 0x00, 0x80,  // 8 2 -0
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x40, 0x00, 0x00, 0x00, 0x80,  // 0 2 -0
        0x00, 0x00};
    expected.insert(expected.end(), facet.begin(), facet.end());
    EXPECT_EQ(stl, expected);
}

// Lines and two-point faces have no facets; a collinear face and one past the point table are
// left out as glTF leaves them out, and the lines glTF draws are counted as lines STL cannot
// hold, whether written or only counted.
TEST(SaveStl, LeavesOutLinesAndWhatGltfLeavesOut) {
    // a square, a collinear triangle, a two-point face, a face past the table; lines over the
    // square's edge 1, and over edge 6, past the table
    const Model m =
        model_of({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {2, 0, 0}},
                 {{1, 2}, {2, 3}, {3, 4}, {4, 1}, {2, 5}, {5, 9}, {5, 1}, {9, 2}},
                 {{1, 2, 3, 4}, {1, 5, 7}, {1}, {5, 6, 8}}, {Line{5, 0}, Line{0, 0}, Line{0, 0}});
    LeftOut written;
    const Bytes stl = stl_of(m, &written);
    ASSERT_EQ(stl.size(), 84u + 2 * 50u);
    EXPECT_EQ(stl[80], 2);
    LeftOut counted;
    const LoadReport lines = numbered_lines(m);
    ASSERT_EQ(count_left_out(m, Format::stl, counted, {1, &lines}), SaveStatus::ok);
    for (const LeftOut& o : {written, counted}) {
        EXPECT_EQ(o.faces_without_area, (Tally{2, 101}));
        EXPECT_EQ(o.faces_point_outside, (Tally{1, 103}));
        EXPECT_EQ(o.lines_point_outside, (Tally{1, 200}));
        EXPECT_EQ(o.lines_not_held, (Tally{2, 201}));
    }
}

}  // namespace
}  // namespace rokconv
