#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "model/ring_walk.hpp"
#include "rokconv/ring.hpp"

namespace rokconv {
namespace {

// The search as first written: for each joint, the lowest k other than the current edge whose
// first or second point is the joint, the first point tested first; where there is none, the
// lowest edge not yet visited, taken forward. Closed unless the walk resumes or comes back to an
// edge, or its last edge ends elsewhere than the first began.
std::vector<std::int32_t> reference_ring(const std::vector<Edge>& e, bool& closed) {
    std::vector<bool> visited(e.size(), false);
    std::size_t current = 0;
    bool forward = true;
    std::vector<std::int32_t> out;
    closed = !e.empty();
    while (out.size() < e.size()) {
        visited[current] = true;
        out.push_back(forward ? e[current].first : e[current].second);
        const std::int32_t joint = forward ? e[current].second : e[current].first;
        if (out.size() == e.size()) closed = closed && joint == e[0].first;
        std::size_t k = 0;
        while (k < e.size() && (k == current || (e[k].first != joint && e[k].second != joint)))
            ++k;
        forward = k == e.size() || e[k].first == joint;
        if (out.size() < e.size()) closed = closed && k < e.size() && !visited[k];
        if (k == e.size())
            k = static_cast<std::size_t>(std::find(visited.begin(), visited.end(), false) -
                                         visited.begin());
        current = k % e.size();
    }
    return out;
}

// a model of one face over the given edges, listed in order
Model one_face(const std::vector<Edge>& edges) {
    Model m;
    m.edges = edges;
    for (std::uint32_t k = 0; k < edges.size(); ++k)
        m.edge_refs.push_back(k);
    m.faces.push_back(Face{0, static_cast<std::int32_t>(edges.size()), 0});
    return m;
}

// the face's ring, and whether the walk found it closed
std::vector<std::int32_t> ring_of(const Model& m, bool& closed) {
    std::vector<std::int32_t> ring(static_cast<std::size_t>(m.faces[0].edge_count));
    EXPECT_TRUE(face_ring(m, m.faces[0], ring));
    EXPECT_TRUE(walk_ring(
        m, m.faces[0], [](std::int32_t) {}, &closed));
    return ring;
}

TEST(FaceRing, FollowsTheEdges) {
    const struct {
        std::vector<Edge> edges;
        std::vector<std::int32_t> ring;
        bool closed;
    } cases[] = {
        {{{1, 2}, {3, 1}, {2, 3}}, {1, 2, 3}, true},
        {{{2, 1}, {2, 3}, {3, 1}}, {2, 1, 3}, true},   // walked backwards
        {{{1, 2}, {2, 3}, {3, 4}}, {1, 2, 3}, false},  // an open chain
        // no edge meets the joint: the walk resumes at the lowest edge not yet visited
        {{{1, 2}, {3, 4}, {5, 6}}, {1, 3, 5}, false},
        {{{70000, 1}, {1, 70000}}, {70000, 1}, true},  // full point numbers, there and back
        {{{4, 7}}, {4}, false},
        {{}, {}, false},
        // the walk comes back to edge 1 and never walks the last two, though it ends where it
        // began
        {{{1, 2}, {2, 1}, {1, 3}, {3, 1}}, {1, 2, 1, 2}, false},
        // it resumes, and its last edge ends where it began
        {{{1, 2}, {3, 1}}, {1, 3}, false},
    };
    for (const auto& c : cases) {
        bool closed = !c.closed;
        EXPECT_EQ(ring_of(one_face(c.edges), closed), c.ring) << c.edges.size();
        EXPECT_EQ(closed, c.closed) << c.edges.size();
    }
}

// The fast paths (four edges at a compare up to 16 edges, a point index beyond) give the ring
// the plain search gives.
TEST(FaceRing, AgreesWithTheDirectSearch) {
    std::mt19937 rng(12345);
    std::vector<std::vector<Edge>> faces;
    // rings over scattered point numbers, edges shuffled and some reversed
    for (std::uint32_t n : {3u, 4u, 5u, 16u, 17u, 100u, 1000u}) {
        std::vector<Edge>& edges = faces.emplace_back();
        for (std::uint32_t i = 0; i < n; ++i) {
            const auto a = static_cast<std::int32_t>(i * 7919 % 65521 + 1);
            const auto b = static_cast<std::int32_t>((i + 1) % n * 7919 % 65521 + 1);
            edges.push_back(rng() % 2 ? Edge{a, b, 0} : Edge{b, a, 0});
        }
        std::shuffle(edges.begin(), edges.end(), rng);
    }
    // few distinct points: lists that branch, repeat, break and loop back
    for (int trial = 0; trial < 3000; ++trial) {
        std::vector<Edge>& edges = faces.emplace_back(1 + rng() % 60);
        const auto spread = static_cast<std::int32_t>(1 + rng() % 12);
        for (Edge& e : edges)
            e = Edge{static_cast<std::int32_t>(rng() % spread) - 2,
                     static_cast<std::int32_t>(rng() % spread) - 2, 0};
    }
    for (std::size_t f = 0; f < faces.size(); ++f) {
        bool closed = false, reference_closed = true;
        ASSERT_EQ(ring_of(one_face(faces[f]), closed), reference_ring(faces[f], reference_closed))
            << f;
        ASSERT_EQ(closed, reference_closed) << f;
    }
}

// A model built by hand may be inconsistent: the ring is refused rather than read out of bounds.
TEST(FaceRing, RefusesWhatDoesNotFit) {
    Model m = one_face({{1, 2}, {2, 3}, {3, 1}});
    std::vector<std::int32_t> ring(3, -7);
    std::vector<std::int32_t> short_ring(2, -7);
    EXPECT_FALSE(face_ring(m, m.faces[0], short_ring));
    m.edge_refs[2] = 3;  // past the edge table
    EXPECT_FALSE(face_ring(m, m.faces[0], ring));
    m.edge_refs.pop_back();  // past the reference table
    EXPECT_FALSE(face_ring(m, m.faces[0], ring));
    m.faces[0].edge_count = -1;
    EXPECT_FALSE(face_ring(m, m.faces[0], {}));
    EXPECT_EQ(ring, std::vector<std::int32_t>(3, -7));
}

}  // namespace
}  // namespace rokconv
