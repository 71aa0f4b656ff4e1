#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "fuzz/harness.hpp"
#include "lwob/lwob.hpp"

namespace rokconv {
namespace {

using Bytes = std::vector<unsigned char>;

// U2 values and 4-byte tags, as the file holds them
Bytes b(std::initializer_list<std::uint32_t> u2s, std::string tags = "") {
    Bytes out(tags.begin(), tags.end());
    for (std::uint32_t v : u2s)
        put_u2(out, v);
    return out;
}

Bytes operator+(Bytes a, const Bytes& z) {
    a.insert(a.end(), z.begin(), z.end());
    return a;
}

// edges as (first, second) point numbers; each polygon lists 1-based edge numbers
Model make_model(const std::vector<std::pair<int, int>>& edges,
                 const std::vector<std::pair<std::vector<std::uint32_t>, int>>& polygons,
                 std::int32_t palette_count = 0) {
    Model m;
    for (auto [first, second] : edges)
        m.edges.push_back(Edge{first, second, 0});
    for (const auto& [refs, colour] : polygons) {
        m.polygons.push_back(
            Polygon{m.edge_refs.size(), static_cast<std::int32_t>(refs.size()), colour});
        for (std::uint32_t e : refs)
            m.edge_refs.push_back(e - 1);
    }
    m.palette_count = palette_count;
    m.palette.resize(static_cast<std::size_t>(std::clamp(palette_count, 0, kColourSlots)));
    return m;
}

// the whole file, checked against the model by the fuzzer's harness; or one chunk's data
Bytes save(const Model& m, const char* chunk = nullptr) {
    rokfuzz::Conversion c;
    c.model = m;
    c.saved = save_lwob(m, c.lwob);
    EXPECT_EQ(rokfuzz::check(c), "");
    // a sink that already holds bytes gets the same file after them
    Bytes after = b({0x1234}, "ABC");
    const Bytes before = after;
    EXPECT_EQ(save_lwob(m, after), c.saved);
    EXPECT_EQ(after, before + c.lwob);
    const Bytes& out = c.lwob;
    if (!chunk) return out;
    for (std::size_t at = 12; at + 8 <= out.size();) {
        const std::size_t length = std::size_t{out[at + 4]} << 24 | std::size_t{out[at + 5]} << 16 |
                                   std::size_t{out[at + 6]} << 8 | out[at + 7];
        if (std::equal(chunk, chunk + 4, out.begin() + static_cast<std::ptrdiff_t>(at))) {
            return Bytes(out.begin() + static_cast<std::ptrdiff_t>(at + 8),
                         out.begin() + static_cast<std::ptrdiff_t>(at + 8 + length));
        }
        at += 8 + length;
    }
    return {};
}

TEST(SaveLwob, EmptyModelIs36Bytes) {
    EXPECT_EQ(save(Model{}), b({0, 28}, "FORM") + b({}, "LWOB") + b({0, 0}, "SRFS") +
                                 b({0, 0}, "PNTS") + b({0, 0}, "POLS"));
}

TEST(SaveLwob, PolygonsFollowTheirEdgeRings) {
    const struct {
        std::vector<std::pair<int, int>> edges;
        Bytes pols;
    } cases[] = {
        {{{1, 2}, {3, 1}, {2, 3}}, b({3, 0, 1, 2, 1})},
        {{{2, 1}, {2, 3}, {3, 1}}, b({3, 1, 0, 2, 1})},  // walked backwards
        {{{1, 2}, {2, 3}, {3, 4}}, b({3, 0, 1, 2, 1})},  // an open chain
        // no edge meets the joint: the walk resumes at the lowest edge not yet visited
        {{{1, 2}, {3, 4}, {5, 6}}, b({3, 0, 2, 4, 1})},
        {{{70000, 1}, {1, 70000}}, b({2, 69999 & 0xFFFF, 0, 1})},
    };
    for (const auto& c : cases) {
        std::vector<std::uint32_t> all(c.edges.size());
        for (std::uint32_t k = 0; k < all.size(); ++k)
            all[k] = k + 1;
        EXPECT_EQ(save(make_model(c.edges, {{all, 0}}), "POLS"), c.pols) << c.edges.size();
    }
    // a line over edge (4, 7), then a polygon of no edges
    EXPECT_EQ(save(make_model({{9, 9}, {4, 7}}, {{{2}, 0}, {{}, 0}}), "POLS"),
              b({2, 3, 6, 1, 0, 1}));
}

TEST(SaveLwob, SurfacesAreNumberedInColourOrder) {
    // colours 5 and 2 used in that order; 20 and -1 have no slot and share the next number
    const std::vector<std::pair<int, int>> edge = {{1, 2}};
    const std::vector<std::pair<std::vector<std::uint32_t>, int>> lines = {
        {{1}, 5}, {{1}, 2}, {{1}, 20}, {{1}, -1}};
    const Bytes pols = b({2, 0, 1, 2, 2, 0, 1, 1, 2, 0, 1, 3, 2, 0, 1, 3});
    const struct {
        std::int32_t palette;
        Bytes srfs;
        std::size_t size;
    } cases[] = {{6, b({0}, "ROK2") + b({0}, "ROK5"), 12 + 20 + 8 + 40 + 2 * 74},
                 // colour 5 has no palette entry: it keeps its number, with no name or SURF
                 {3, b({0}, "ROK2"), 12 + 14 + 8 + 40 + 74},
                 {-2, {}, 12 + 8 + 8 + 40}};
    for (const auto& c : cases) {
        const Model m = make_model(edge, lines, c.palette);
        EXPECT_EQ(save(m, "POLS"), pols);
        EXPECT_EQ(save(m, "SRFS"), c.srfs);
        EXPECT_EQ(save(m).size(), c.size);
    }
}

TEST(SaveLwob, PointsAreScaledAndMirroredInDoubleThenRounded) {
    Model m;
    m.points = {{1.5, -2.0, 0.1}, {0.0, 0.0, -0.0}, {1e-45, 1e38, -1e39}};
    // 12, 16, 0.8f; y 0 gives -0; 8e-45 rounds to six times the least subnormal, not eight
    EXPECT_EQ(save(m, "PNTS"), b({0x4140, 0, 0x4180, 0, 0x3F4C, 0xCCCD, 0, 0, 0x8000, 0, 0x8000, 0,
                                  0, 6, 0xFF80, 0, 0xFF80, 0}));
}

TEST(SurfaceChunk, ColourAndSpecularLevel) {
    Chunk form, child;
    ASSERT_EQ(write_surface(form, child, 3, PaletteEntry{{255, 255, 255, 0, 0, 0}}), 0);
    EXPECT_EQ(form.buffer, b({0, 0x42}, "SURF") + b({0x524F, 0x4B33, 0}) +
                               b({4, 0x7F7F, 0x7F00}, "COLR") + b({2, 0x0104}, "FLAG") +
                               b({4, 0x3F46, 0xD3F2}, "SMAN") + b({2, 256}, "DIFF") +
                               b({2, 0}, "TRAN") + b({2, 64}, "SPEC") + b({2, 0}, "GLOS"));
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
        ASSERT_EQ(write_surface(surf, sub, 0, c.entry), 0);
        Bytes got(surf.buffer.begin() + 20, surf.buffer.begin() + 24);
        got.insert(got.end(), surf.buffer.begin() + 64, surf.buffer.begin() + 66);
        EXPECT_EQ(got, c.colr_spec) << c.entry.c[0];
    }
}

// The search as first written: for each joint, the lowest k other than the current edge whose
// first or second point is the joint, the first point tested first.
Bytes reference_ring(const std::vector<Edge>& e) {
    std::vector<bool> visited(e.size(), false);
    std::size_t current = 0, written = 0;
    bool forward = true;
    Bytes out;
    while (written++ < e.size()) {
        visited[current] = true;
        put_u2(out, static_cast<std::uint32_t>(forward ? e[current].first : e[current].second) - 1);
        const std::int32_t joint = forward ? e[current].second : e[current].first;
        std::size_t k = 0;
        while (k < e.size() && (k == current || (e[k].first != joint && e[k].second != joint)))
            ++k;
        forward = k == e.size() || e[k].first == joint;
        if (k == e.size())
            k = static_cast<std::size_t>(std::find(visited.begin(), visited.end(), false) -
                                         visited.begin());
        current = k % e.size();
    }
    return out;
}

TEST(RingWalk, AgreesWithTheDirectSearch) {
    std::mt19937 rng(12345);
    auto check = [](const std::vector<Edge>& edges) {
        Model m;
        m.edges = edges;
        for (std::uint32_t k = 0; k < edges.size(); ++k)
            m.edge_refs.push_back(k);
        Bytes out;
        append_ring(out, m, Polygon{0, static_cast<std::int32_t>(edges.size()), 0});
        return out == reference_ring(edges);
    };
    // rings over scattered point numbers, edges shuffled and some reversed
    for (std::uint32_t n : {3u, 16u, 17u, 100u, 1000u}) {
        std::vector<Edge> edges;
        for (std::uint32_t i = 0; i < n; ++i) {
            const auto a = static_cast<std::int32_t>(i * 7919 % 65521 + 1);
            const auto b = static_cast<std::int32_t>((i + 1) % n * 7919 % 65521 + 1);
            edges.push_back(rng() % 2 ? Edge{a, b, 0} : Edge{b, a, 0});
        }
        std::shuffle(edges.begin(), edges.end(), rng);
        EXPECT_TRUE(check(edges)) << n;
    }
    // few distinct points: lists that branch, repeat, break and loop back
    for (int trial = 0; trial < 3000; ++trial) {
        std::vector<Edge> edges(1 + rng() % 60);
        const auto spread = static_cast<std::int32_t>(1 + rng() % 12);
        for (Edge& e : edges)
            e = Edge{static_cast<std::int32_t>(rng() % spread) - 2,
                     static_cast<std::int32_t>(rng() % spread) - 2, 0};
        ASSERT_TRUE(check(edges)) << trial;
    }
}

// the search over four edges at a compare finds the edges the one-at-a-time search finds
template <std::uint32_t W>
void expect_same_joint_masks(std::mt19937& rng) {
    for (int trial = 0; trial < 2000; ++trial) {
        std::int32_t first[W];
        std::int32_t second[W];
        const auto spread = static_cast<std::uint32_t>(1 + rng() % 6);
        for (std::uint32_t k = 0; k < W; ++k) {
            first[k] = static_cast<std::int32_t>(rng() % spread) - 3;
            second[k] = static_cast<std::int32_t>(rng() % spread) - 3;
        }
        const auto point = static_cast<std::int32_t>(rng() % spread) - 3;
        std::uint32_t starts[2], ends[2];
        detail::joint_masks<W>(first, second, point, starts[0], ends[0]);
        detail::joint_masks_portable<W>(first, second, point, starts[1], ends[1]);
        ASSERT_EQ(starts[0], starts[1]) << W << ", trial " << trial;
        ASSERT_EQ(ends[0], ends[1]) << W << ", trial " << trial;
    }
}

TEST(RingWalk, JointMasksAgreeWithThePortableSearch) {
    std::mt19937 rng(7);
    expect_same_joint_masks<4>(rng);
    expect_same_joint_masks<16>(rng);
}

}  // namespace
}  // namespace rokconv
