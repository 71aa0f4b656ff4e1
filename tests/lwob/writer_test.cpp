#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "lwob/iff_walk.hpp"
#include "lwob/lwob.hpp"

namespace rokconv {
namespace {

using Bytes = std::vector<unsigned char>;

Bytes tag(const char* t) {
    return Bytes(t, t + 4);
}
Bytes u2(std::uint32_t v) {
    return {static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)};
}
Bytes u4(std::uint32_t v) {
    return {static_cast<unsigned char>(v >> 24), static_cast<unsigned char>(v >> 16),
            static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)};
}
Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// edges as (first, second) point numbers; faces as 1-based edge numbers with a colour
struct Face {
    std::vector<std::uint32_t> edges;
    std::int32_t colour;
};

Model make_model(const std::vector<std::pair<int, int>>& edges, const std::vector<Face>& faces,
                 std::int32_t palette_count = 0) {
    Model m;
    for (auto [a, b] : edges)
        m.edges.push_back(Edge{a, b, 0});
    for (const Face& f : faces) {
        Polygon p;
        p.first_ref = m.edge_refs.size();
        p.edge_count = static_cast<std::int32_t>(f.edges.size());
        p.colour = f.colour;
        for (std::uint32_t e : f.edges)
            m.edge_refs.push_back(e - 1);
        m.polygons.push_back(p);
    }
    m.palette_count = palette_count;
    m.palette.assign(static_cast<std::size_t>(std::clamp(palette_count, 0, kColourSlots)), {});
    return m;
}

Bytes save(const Model& m) {
    ByteSink out;
    EXPECT_EQ(save_lwob(m, out), 0);
    std::string error;
    EXPECT_TRUE(check_lwob(out, error)) << error;
    return out;
}

Bytes chunk_data(const Bytes& file, const char* name) {
    const auto chunks = form_chunks(file);
    for (const IffChunk& c : chunks) {
        if (c.tag == name)
            return Bytes(file.begin() + c.offset, file.begin() + c.offset + c.length);
    }
    return {};
}

TEST(SaveLwob, EmptyModelIs36Bytes) {
    EXPECT_EQ(save(Model{}), cat({tag("FORM"), u4(28), tag("LWOB"), tag("SRFS"), u4(0), tag("PNTS"),
                                  u4(0), tag("POLS"), u4(0)}));
}

TEST(SaveLwob, PolygonsFollowTheirEdgeRings) {
    struct Case {
        const char* name;
        std::vector<std::pair<int, int>> edges;
        Bytes pols;
    };
    const Case cases[] = {
        {"triangle", {{1, 2}, {3, 1}, {2, 3}}, cat({u2(3), u2(0), u2(1), u2(2), u2(1)})},
        {"triangle walked backwards",
         {{2, 1}, {2, 3}, {3, 1}},
         cat({u2(3), u2(1), u2(0), u2(2), u2(1)})},
        {"open chain", {{1, 2}, {2, 3}, {3, 4}}, cat({u2(3), u2(0), u2(1), u2(2), u2(1)})},
        // no edge meets the joint: the walk resumes at the lowest edge not yet visited
        {"broken ring", {{1, 2}, {3, 4}, {5, 6}}, cat({u2(3), u2(0), u2(2), u2(4), u2(1)})},
        {"point past 65536",
         {{70000, 1}, {1, 70000}},
         cat({u2(2), u2(69999 & 0xFFFF), u2(0), u2(1)})},
    };
    for (const Case& c : cases) {
        std::vector<std::uint32_t> all(c.edges.size());
        for (std::uint32_t k = 0; k < all.size(); ++k)
            all[k] = k + 1;
        EXPECT_EQ(chunk_data(save(make_model(c.edges, {{all, 0}})), "POLS"), c.pols) << c.name;
    }
}

TEST(SaveLwob, LinesAndEmptyPolygons) {
    Model m = make_model({{9, 9}, {4, 7}}, {{{2}, 0}, {{}, 0}});
    EXPECT_EQ(chunk_data(save(m), "POLS"), cat({u2(2), u2(3), u2(6), u2(1), u2(0), u2(1)}));
}

TEST(SaveLwob, SurfacesAreNumberedInColourOrder) {
    // colours 5 and 2 used, in that order; 20 and -1 have no slot
    const std::vector<std::pair<int, int>> edges = {{1, 2}};
    const std::vector<Face> faces = {{{1}, 5}, {{1}, 2}, {{1}, 20}, {{1}, -1}, {{1}, 5}};
    const Bytes pols = cat({u2(2), u2(0), u2(1), u2(2), u2(2), u2(0), u2(1), u2(1), u2(2), u2(0),
                            u2(1), u2(3), u2(2), u2(0), u2(1), u2(3), u2(2), u2(0), u2(1), u2(2)});
    const Bytes names = cat({tag("ROK2"), u2(0), tag("ROK5"), u2(0)});

    const Bytes with_palette = save(make_model(edges, faces, 6));
    EXPECT_EQ(chunk_data(with_palette, "POLS"), pols);
    EXPECT_EQ(chunk_data(with_palette, "SRFS"), names);
    std::vector<std::string> surfs;
    for (const IffChunk& c : form_chunks(with_palette)) {
        if (c.tag == "SURF")
            surfs.emplace_back(reinterpret_cast<const char*>(&with_palette[c.offset]));
    }
    EXPECT_EQ(surfs, (std::vector<std::string>{"ROK2", "ROK5"}));

    // colour 5 has no palette entry: its number stays, but it gets no name and no SURF
    const Bytes short_palette = save(make_model(edges, faces, 3));
    EXPECT_EQ(chunk_data(short_palette, "POLS"), pols);
    EXPECT_EQ(chunk_data(short_palette, "SRFS"), cat({tag("ROK2"), u2(0)}));

    const Bytes no_palette = save(make_model(edges, faces, 0));
    EXPECT_EQ(chunk_data(no_palette, "POLS"), pols);
    EXPECT_TRUE(chunk_data(no_palette, "SRFS").empty());
    for (const IffChunk& c : form_chunks(no_palette))
        EXPECT_NE(c.tag, "SURF");
}

TEST(SaveLwob, PointsAreScaledAndMirroredInDoubleThenRounded) {
    Model m;
    m.points = {{1.5, -2.0, 0.1}, {0.0, 0.0, -0.0}, {1e-45, 1e38, -1e39}};
    const Bytes expected = cat({u4(0x41400000), u4(0x41800000), u4(0x3F4CCCCD),  // 12, 16, 0.8f
                                u4(0), u4(0x80000000), u4(0x80000000),           // y 0 gives -0
                                // 8e-45 rounds to six times the least subnormal, not eight
                                u4(6), u4(0xFF800000), u4(0xFF800000)});
    EXPECT_EQ(chunk_data(save(m), "PNTS"), expected);
}

TEST(SurfaceChunk, MatchesTheWholeLayout) {
    Chunk form;
    Chunk child;
    ASSERT_EQ(write_surface(form, child, 3, PaletteEntry{{255, 255, 255, 0, 0, 0}}), 0);
    const Bytes expected = {
        0x53, 0x55, 0x52, 0x46, 0x00, 0x00, 0x00, 0x42, 0x52, 0x4F, 0x4B, 0x33, 0x00, 0x00, 0x43,
        0x4F, 0x4C, 0x52, 0x00, 0x04, 0x7F, 0x7F, 0x7F, 0x00, 0x46, 0x4C, 0x41, 0x47, 0x00, 0x02,
        0x01, 0x04, 0x53, 0x4D, 0x41, 0x4E, 0x00, 0x04, 0x3F, 0x46, 0xD3, 0xF2, 0x44, 0x49, 0x46,
        0x46, 0x00, 0x02, 0x01, 0x00, 0x54, 0x52, 0x41, 0x4E, 0x00, 0x02, 0x00, 0x00, 0x53, 0x50,
        0x45, 0x43, 0x00, 0x02, 0x00, 0x40, 0x47, 0x4C, 0x4F, 0x53, 0x00, 0x02, 0x00, 0x00};
    EXPECT_EQ(form.buffer, expected);
}

TEST(SurfaceChunk, ColourAndSpecularLevel) {
    struct Case {
        PaletteEntry entry;
        Bytes colr;
        std::uint32_t spec;
    };
    const Case cases[] = {
        {{{255, 255, 255, 0, 0, 0}}, {127, 127, 127, 0}, 64},
        {{{200, 100, 50, 100, 50, 25}}, {150, 75, 37, 0}, 11},
        {{{128, 64, 32, 64, 32, 16}}, {96, 48, 24, 0}, 6},
        {{{10, 20, 30, 10, 20, 30}}, {10, 20, 30, 0}, 0},
        {{{0, 0, 0, 10, 10, 10}}, {5, 5, 5, 0}, 0},
        {{{255, 255, 255, 255, 255, 254}}, {255, 255, 254, 0}, 64},
        // out of range: no headroom left; the level is full rather than a division by zero
        {{{1000, 1000, 1000, 0, 0, 0}}, {0xF4, 0xF4, 0xF4, 0}, 64},
        {{{255, 255, 256, 255, 255, 254}}, {255, 255, 255, 0}, 64},
        // a huge component neither overflows nor divides by zero
        {{{2147483647, 2147483647, 2147483647, -2147483647 - 1, 0, 0}}, {0, 0xFF, 0xFF, 0}, 64},
        // negative components: the divisions truncate toward zero
        {{{-3, 0, 0, 0, 0, 0}}, {0xFF, 0, 0, 0}, 0},
    };
    for (const Case& c : cases) {
        Chunk form;
        Chunk child;
        ASSERT_EQ(write_surface(form, child, 0, c.entry), 0);
        const Bytes& b = form.buffer;
        ASSERT_EQ(b.size(), 8u + 66u);
        EXPECT_EQ(Bytes(b.begin() + 20, b.begin() + 24), c.colr) << c.entry.c[0];
        EXPECT_EQ(Bytes(b.begin() + 64, b.begin() + 66), u2(c.spec)) << c.entry.c[0];
    }
}

TEST(SurfaceName, IsPaddedToEvenLength) {
    for (int i : {0, 9, 10, 15, 123}) {
        Bytes out;
        append_surface_name(out, i);
        const std::string name = "ROK" + std::to_string(i);
        EXPECT_EQ(out.size(), (name.size() + 2) / 2 * 2) << i;
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.data())), name);
    }
}

// The search as first written: for each joint, the lowest k other than the current edge whose
// first or second point is the joint, the first point tested first.
std::vector<std::uint32_t> reference_ring(const std::vector<Edge>& e) {
    const std::size_t n = e.size();
    std::vector<std::uint32_t> out;
    std::vector<bool> visited(n, false);
    std::size_t current = 0;
    bool forward = true;
    while (out.size() < n) {
        visited[current] = true;
        out.push_back(
            static_cast<std::uint32_t>((forward ? e[current].first : e[current].second) - 1) &
            0xFFFF);
        const std::int32_t joint = forward ? e[current].second : e[current].first;
        std::size_t k = 0;
        for (; k < n; ++k) {
            if (k == current) continue;
            if (e[k].first == joint) {
                forward = true;
                break;
            }
            if (e[k].second == joint) {
                forward = false;
                break;
            }
        }
        if (k == n) {
            k = static_cast<std::size_t>(std::find(visited.begin(), visited.end(), false) -
                                         visited.begin());
            forward = true;
            if (k == n) k = 0;  // only after the last vertex
        }
        current = k;
    }
    return out;
}

std::vector<std::uint32_t> fast_ring(const std::vector<Edge>& edges) {
    Model m;
    m.edges = edges;
    Polygon p;
    p.edge_count = static_cast<std::int32_t>(edges.size());
    for (std::uint32_t k = 0; k < edges.size(); ++k)
        m.edge_refs.push_back(k);
    Bytes out;
    append_ring(out, m, p);
    std::vector<std::uint32_t> ring;
    for (std::size_t i = 0; i + 1 < out.size(); i += 2)
        ring.push_back(out[i] << 8 | out[i + 1]);
    return ring;
}

TEST(RingWalk, AgreesWithTheDirectSearchOnShuffledRings) {
    std::mt19937 rng(12345);
    for (std::uint32_t n : {3u, 4u, 7u, 16u, 17u, 100u, 1000u, 65535u}) {
        for (int trial = 0; trial < (n > 1000 ? 1 : 20); ++trial) {
            // a ring over randomly numbered points, edges shuffled and some reversed
            std::vector<std::int32_t> points(n);
            for (std::uint32_t i = 0; i < n; ++i)
                points[i] = static_cast<std::int32_t>(i * 7 + 1 + trial);
            std::shuffle(points.begin(), points.end(), rng);
            std::vector<Edge> edges;
            for (std::uint32_t i = 0; i < n; ++i) {
                Edge e{points[i], points[(i + 1) % n], 0};
                if (rng() % 2) std::swap(e.first, e.second);
                edges.push_back(e);
            }
            std::shuffle(edges.begin(), edges.end(), rng);
            const auto ring = fast_ring(edges);
            if (n > 1000) {
                // the reference is quadratic: check the ring itself instead
                std::vector<std::uint32_t> sorted = ring;
                std::sort(sorted.begin(), sorted.end());
                EXPECT_EQ(std::unique(sorted.begin(), sorted.end()), sorted.end());
                EXPECT_EQ(ring.size(), n);
                EXPECT_EQ(ring[0], static_cast<std::uint32_t>(edges[0].first - 1) & 0xFFFF);
            } else {
                EXPECT_EQ(ring, reference_ring(edges)) << n;
            }
        }
    }
}

TEST(RingWalk, AgreesWithTheDirectSearchOnArbitraryEdgeLists) {
    // few distinct points: rings that branch, repeat, break and loop back
    std::mt19937 rng(99);
    for (int trial = 0; trial < 2000; ++trial) {
        const std::uint32_t n = 1 + rng() % 40;
        const std::int32_t spread = 1 + static_cast<std::int32_t>(rng() % 12);
        std::vector<Edge> edges;
        for (std::uint32_t i = 0; i < n; ++i) {
            edges.push_back(Edge{static_cast<std::int32_t>(rng() % spread) - 2,
                                 static_cast<std::int32_t>(rng() % spread) - 2, 0});
        }
        ASSERT_EQ(fast_ring(edges), reference_ring(edges)) << trial;
    }
}

TEST(SaveLwob, GeneratedModelsAreWellFormed) {
    std::mt19937 rng(7);
    for (int trial = 0; trial < 200; ++trial) {
        Model m;
        m.points.resize(rng() % 50);
        std::vector<std::pair<int, int>> edges;
        for (int i = 0, n = 1 + static_cast<int>(rng() % 30); i < n; ++i) {
            edges.emplace_back(static_cast<int>(rng() % 60), static_cast<int>(rng() % 60));
        }
        std::vector<Face> faces;
        for (int i = 0, n = static_cast<int>(rng() % 20); i < n; ++i) {
            Face f{{}, static_cast<std::int32_t>(rng() % 20) - 2};
            for (int k = 0, c = static_cast<int>(rng() % 8); k < c; ++k) {
                f.edges.push_back(1 + rng() % edges.size());
            }
            faces.push_back(f);
        }
        Model model = make_model(edges, faces, static_cast<std::int32_t>(rng() % 24) - 4);
        model.points = m.points;
        const Bytes out = save(model);  // save checks the structure
        EXPECT_EQ(out.size() % 2, 0u);
    }
}

}  // namespace
}  // namespace rokconv
