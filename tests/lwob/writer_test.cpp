#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "harness.hpp"
#include "lwob/writer.hpp"
#include "models.hpp"

namespace rokconv {
namespace {

using Bytes = std::vector<unsigned char>;

// the whole file, checked against the model by the fuzzer's harness; or one chunk's data
Bytes save(const Model& m, const char* chunk = nullptr) {
    rokfuzz::Conversion c;
    c.model = m;
    c.saved = save_lwob(m, to_bytes(c.lwob));
    EXPECT_EQ(c.saved, SaveStatus::ok);
    EXPECT_EQ(rokfuzz::check(c), "");
    // a sink that already holds bytes gets the same file after them
    Bytes after = {'A', 'B', 'C', 0x12, 0x34}, before = after;
    EXPECT_EQ(save_lwob(m, to_bytes(after)), SaveStatus::ok);
    before.insert(before.end(), c.lwob.begin(), c.lwob.end());
    EXPECT_EQ(after, before);
    if (!chunk) return c.lwob;
    for (rokfuzz::Cursor in{c.lwob, 12}; !in.failed && in.pos < c.lwob.size();) {
        const std::string_view tag = in.tag();
        const std::uint32_t length = in.u4();
        const auto at = c.lwob.begin() + static_cast<std::ptrdiff_t>(in.pos);
        if (in.take(length) && tag == chunk) return Bytes(at, at + length);
    }
    return {};
}

// Whole files and chunks, byte for byte (the harness in save() holds the rest of the file).
TEST(SaveLwob, Golden) {
    Model points;
    points.points = {{1.5, -2.0, 0.1}, {0.0, 0.0, -0.0}, {1e-45, 1e38, -1e39}};
    // colours 5 and 2 used in that order; 20 and -1 have no slot and share the next number
    auto coloured = [](std::int32_t palette) {
        Model m = model_of({}, {{1, 2}}, {{1}, {1}}, {Line{0, 20}, Line{0, -1}});
        m.faces[0].colour = 5;
        m.faces[1].colour = 2;
        m.palette_count = palette;
        m.palette.assign(static_cast<std::size_t>(std::max(palette, 0)), {});
        return m;
    };
    const struct {
        const char* chunk;  // or the whole file
        Model model;
        Bytes bytes;
    } cases[] = {
        {nullptr, Model{}, {'F', 'O', 'R', 'M', 0,   0,   0,   28,  'L', 'W', 'O', 'B',
                            'S', 'R', 'F', 'S', 0,   0,   0,   0,   'P', 'N', 'T', 'S',
                            0,   0,   0,   0,   'P', 'O', 'L', 'S', 0,   0,   0,   0}},
        // points scaled and mirrored in double, then rounded: 12, 16, 0.8f; y 0 gives -0; 8e-45
        // rounds to six times the least subnormal, not eight
        {"PNTS", points, {0x41, 0x40, 0, 0, 0x41, 0x80, 0, 0, 0x3F, 0x4C, 0xCC, 0xCD,
                          0,    0,    0, 0, 0x80, 0,    0, 0, 0x80, 0,    0,    0,
                          0,    0,    0, 6, 0xFF, 0x80, 0, 0, 0xFF, 0x80, 0,    0}},
        // each polygon: the count, the ring's point numbers less one, then its surface; a ring
        // walked backwards; a U2 keeps the low 16 bits; a face of one edge (4, 7), a line over it,
        // then a face of no edges
        {"POLS",
         model_of({}, {{2, 1}, {2, 3}, {3, 1}}, {{1, 2, 3}}),
         {0, 3, 0, 1, 0, 0, 0, 2, 0, 1}},
        {"POLS", model_of({}, {{70000, 1}, {1, 70000}}, {{1, 2}}), {0, 2, 0x11, 0x6F, 0, 0, 0, 1}},
        {"POLS",
         model_of({}, {{9, 9}, {4, 7}}, {{2}, {}}, {Line{1, 0}}),
         {0, 2, 0, 3, 0, 6, 0, 1, 0, 0, 0, 1, 0, 2, 0, 3, 0, 6, 0, 1}},
        // surfaces in colour order, and the names of the used colours; colour 5 past the palette
        // keeps its number, with no name or SURF
        {"POLS", coloured(6), {0, 2, 0, 0, 0, 1, 0, 2, 0, 2, 0, 0, 0, 1, 0, 1,
                               0, 2, 0, 0, 0, 1, 0, 3, 0, 2, 0, 0, 0, 1, 0, 3}},
        {"SRFS", coloured(6), {'R', 'O', 'K', '2', 0, 0, 'R', 'O', 'K', '5', 0, 0}},
        {"SRFS", coloured(3), {'R', 'O', 'K', '2', 0, 0}},
        {"SRFS", coloured(-2), {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(save(c.model, c.chunk), c.bytes) << "case " << &c - cases;
}

TEST(SurfaceChunk, ColourAndSpecularLevel) {
    Chunk form, child;
    ASSERT_TRUE(write_surface(form, child, 3, PaletteEntry{{255, 255, 255, 0, 0, 0}}));
    EXPECT_EQ(
        form.buffer,
        (Bytes{'S',  'U',  'R', 'F',  0,    0,    0,    0x42, 'R',  'O',  'K',  '3',  0,   0,   'C',
               'O',  'L',  'R', 0,    4,    0x7F, 0x7F, 0x7F, 0,    'F',  'L',  'A',  'G', 0,   2,
               0x01, 0x04, 'S', 'M',  'A',  'N',  0,    4,    0x3F, 0x46, 0xD3, 0xF2, 'D', 'I', 'F',
               'F',  0,    2,   0x01, 0x00, 'T',  'R',  'A',  'N',  0,    2,    0,    0,   'S', 'P',
               'E',  'C',  0,   2,    0,    64,   'G',  'L',  'O',  'S',  0,    2,    0,   0}));
    const struct {
        PaletteEntry entry;
        Bytes colr_spec;  // R G B 0, then the specular level as U2
    } cases[] = {
        {{{200, 100, 50, 100, 50, 25}}, {150, 75, 37, 0, 0, 11}},
        {{{128, 64, 32, 64, 32, 16}}, {96, 48, 24, 0, 0, 6}},
        {{{10, 20, 30, 10, 20, 30}}, {10, 20, 30, 0, 0, 0}},
        {{{0, 0, 0, 10, 10, 10}}, {5, 5, 5, 0, 0, 0}},
        {{{255, 255, 255, 255, 255, 254}}, {255, 255, 254, 0, 0, 64}},
        // out of range: no headroom left, so the full level rather than a division by zero
        {{{255, 255, 256, 255, 255, 254}}, {255, 255, 255, 0, 0, 64}},
        {{{1000, 1000, 1000, 0, 0, 0}}, {0xF4, 0xF4, 0xF4, 0, 0, 64}},
        {{{2147483647, 2147483647, 2147483647, -2147483647 - 1, 0, 0}}, {0, 0xFF, 0xFF, 0, 0, 64}},
        {{{-3, 0, 0, 0, 0, 0}}, {0xFF, 0, 0, 0, 0, 0}},  // truncated toward zero
    };
    for (const auto& c : cases) {
        Chunk surf, sub;
        ASSERT_TRUE(write_surface(surf, sub, 0, c.entry));
        Bytes got(surf.buffer.begin() + 20, surf.buffer.begin() + 24);
        got.insert(got.end(), surf.buffer.begin() + 64, surf.buffer.begin() + 66);
        EXPECT_EQ(got, c.colr_spec) << c.entry.c[0];
    }
}

// A face of 65,535 edges is the largest a polygon holds: all of its vertices are written. A
// model the writer must refuse leaves out as it was.
TEST(SaveLwob, LargestFaceAndWhatItRefuses) {
    std::vector<Edge> edges;
    std::vector<std::uint32_t> all;
    for (std::int32_t k = 1; k <= 65535; ++k) {
        edges.push_back({k, k % 65535 + 1});
        all.push_back(static_cast<std::uint32_t>(k));
    }
    const Bytes pols = save(model_of({}, edges, {all}), "POLS");
    ASSERT_EQ(pols.size(), 4u + 2u * 65535u);
    EXPECT_EQ(Bytes(pols.begin(), pols.begin() + 6), (Bytes{0xFF, 0xFF, 0, 0, 0, 1}));
    EXPECT_EQ(Bytes(pols.end() - 4, pols.end()), (Bytes{0xFF, 0xFE, 0, 1}));

    const struct {
        const char* what;
        void (*spoil)(Model&);
        SaveStatus status;
    } cases[] = {
        {"a face past the references", [](Model& m) { m.faces[0].first_ref = 1; },
         SaveStatus::invalid_model},
        {"a negative edge count", [](Model& m) { m.faces[0].edge_count = -1; },
         SaveStatus::invalid_model},
        {"an edge past the table", [](Model& m) { m.edge_refs[0] = 9; }, SaveStatus::invalid_model},
        {"a line past the edges",
         [](Model& m) {
             m.lines.push_back(Line{2, 0});
         },
         SaveStatus::invalid_model},
        {"a one-edge face past the edges",
         [](Model& m) {
             m.faces.push_back(Face{2, 1, 0});
             m.edge_refs.push_back(5);
         },
         SaveStatus::invalid_model},
        {"65,536 edges",
         [](Model& m) {
             m.edge_refs.assign(65536, 0);
             m.faces[0].edge_count = 65536;
         },
         SaveStatus::too_large},
    };
    for (const auto& c : cases) {
        Model m = model_of({}, {{1, 2}, {2, 1}}, {{1, 2}});
        c.spoil(m);
        Bytes out = {'k', 'e', 'e', 'p'};
        EXPECT_EQ(save_lwob(m, to_bytes(out)), c.status) << c.what;
        EXPECT_EQ(out, (Bytes{'k', 'e', 'e', 'p'})) << c.what;
    }
}

// Vertex numbers past 16 bits wrap, and the faces and lines where they do are counted; the
// file is the same whether they are counted or not.
TEST(SaveLwob, CountsTheVertexNumbersThatWrap) {
    // faces: 1-2, 65536-65537 (vertex 65536 wraps to 0); lines: 65537-1, 1-2
    const Model m = model_of(std::vector<Point>(65537),
                             {{1, 2}, {2, 1}, {65536, 65537}, {65537, 65536}, {65537, 1}},
                             {{1, 2}, {3, 4}}, {Line{4, 0}, Line{0, 0}});
    LeftOut wrapped;
    Bytes counted;
    const LoadReport lines = numbered_lines(m);
    ASSERT_EQ(save_lwob(m, to_bytes(counted), {1, &lines}, &wrapped), SaveStatus::ok);
    EXPECT_EQ(counted, save(m));
    // count and first of each, written or only counted
    LeftOut only_counted;
    ASSERT_EQ(count_left_out(m, Format::lwo, only_counted, {1, &lines}), SaveStatus::ok);
    for (const LeftOut& w : {wrapped, only_counted}) {
        EXPECT_EQ(w.faces_point_past_65536, (Tally{1, 101}));
        EXPECT_EQ(w.lines_point_past_65536, (Tally{1, 200}));
    }
    EXPECT_EQ(save(m, "POLS"), (Bytes{0, 2, 0, 0, 0, 1, 0, 1, 0, 2, 0xFF, 0xFF, 0, 0, 0, 1,
                                      0, 2, 0, 0, 0, 0, 0, 1, 0, 2, 0,    0,    0, 1, 0, 1}));
}

Bytes read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Every bundled example converted and held byte for byte against the object committed beside it.
TEST(Golden, ExamplesConvertToTheirCommittedObjects) {
    int compared = 0;
    for (const auto& entry : std::filesystem::directory_iterator(ROKCONV_EXAMPLES)) {
        if (entry.path().extension() != ".rok") continue;
        std::filesystem::path golden = entry.path();
        golden.replace_extension(".LWO");
        const Bytes expected = read_file(golden);
        ASSERT_FALSE(expected.empty()) << golden;
        Model model;
        ASSERT_EQ(load_rok(read_file(entry.path()), model), LoadStatus::ok) << entry.path();
        EXPECT_TRUE(save(model) == expected) << entry.path() << " differs from " << golden;
        ++compared;
    }
    EXPECT_GE(compared, 4);
}

}  // namespace
}  // namespace rokconv
