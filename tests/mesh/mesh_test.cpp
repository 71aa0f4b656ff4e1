#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <numbers>
#include <random>
#include <tuple>
#include <vector>

#include "mesh/mesh.hpp"

namespace rokconv {
namespace {

using Ring = std::vector<Vec3>;
using Tris = std::vector<std::uint32_t>;

struct V {
    double x, y, z;
    V operator+(V b) const { return {x + b.x, y + b.y, z + b.z}; }
    V operator-(V b) const { return {x - b.x, y - b.y, z - b.z}; }
    V operator*(double s) const { return {x * s, y * s, z * s}; }
    double dot(V b) const { return x * b.x + y * b.y + z * b.z; }
    V cross(V b) const { return {y * b.z - z * b.y, z * b.x - x * b.z, x * b.y - y * b.x}; }
};
V v(const Vec3& a) {
    return {a.x, a.y, a.z};
}
V twice_area(const Ring& r) {
    V s{0, 0, 0};
    for (std::size_t i = 0; i < r.size(); ++i) {
        s = s + v(r[i]).cross(v(r[(i + 1) % r.size()]));
    }
    return s;
}
Ring on_grid(std::initializer_list<int> xy) {  // x y x y ...
    Ring r;
    for (auto p = xy.begin(); p != xy.end(); p += 2)
        r.push_back({static_cast<float>(p[0]), static_cast<float>(p[1]), 0});
    return r;
}
// the fan from the first point, less the triangles without area
Tris fan_of(const Ring& r) {
    Tris f;
    for (std::uint32_t i = 1; i + 1 < r.size(); ++i) {
        const V c = (v(r[i]) - v(r[0])).cross(v(r[i + 1]) - v(r[0]));
        if (c.dot(c) != 0) f.insert(f.end(), {0, i, i + 1});
    }
    return f;
}

// The triangles cover the ring exactly: each runs the ring's way round in the plane of its
// normal's largest axis, and their edges sum to the ring's (an inner edge used once each way,
// points repeated in a row taken as one), so for a simple ring they tile it.
void expect_cover(const Ring& r, const Tris& t) {
    const V n = twice_area(r);
    const double an[3] = {std::abs(n.x), std::abs(n.y), std::abs(n.z)};
    const int k = static_cast<int>(std::max_element(an, an + 3) - an);
    auto along = [&](V a) { return (k == 0 ? a.x * n.x : k == 1 ? a.y * n.y : a.z * n.z) / an[k]; };
    std::map<std::tuple<float, float, float>, std::uint32_t> first;
    for (auto i = static_cast<std::uint32_t>(r.size()); i-- > 0;)
        first[{r[i].x, r[i].y, r[i].z}] = i;
    std::map<std::pair<std::uint32_t, std::uint32_t>, int> edges;
    auto add = [&](std::uint32_t a, std::uint32_t b, int count) {
        a = first[{r[a].x, r[a].y, r[a].z}];
        b = first[{r[b].x, r[b].y, r[b].z}];
        if (a != b) (a < b ? edges[{a, b}] : edges[{b, a}]) += a < b ? count : -count;
    };
    for (std::uint32_t i = 0; i < r.size(); ++i)
        add(i, (i + 1) % r.size(), -1);
    double sum = 0;
    for (std::size_t j = 0; j < t.size(); j += 3) {
        const V a = v(r[t[j]]);
        const double s = along((v(r[t[j + 1]]) - a).cross(v(r[t[j + 2]]) - a));
        EXPECT_GT(s, 0) << "triangle " << j / 3;
        sum += s;
        for (int e = 0; e < 3; ++e)
            add(t[j + e], t[j + (e + 1) % 3], 1);
    }
    EXPECT_NEAR(sum, an[k], 1e-4 * an[k]);
    for (const auto& [edge, count] : edges)
        EXPECT_EQ(count, 0) << edge.first << "-" << edge.second;
}

std::size_t triangle_count(const Ring& r) {
    Tris t;
    EXPECT_TRUE(triangulate_ring(r, t));
    expect_cover(r, t);
    return t.size() / 3;
}

TEST(FaceNormal, UnitOrZero) {
    const std::pair<Ring, V> cases[] = {
        {{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}, {0, 0, 1}},
        {{{0, 0, 0}, {0, 1, 0}, {1, 1, 0}, {1, 0, 0}}, {0, 0, -1}},
        {{{0, 0, 0}, {0, 2, 0}, {0, 2, 2}}, {1, 0, 0}},
        {{{1e-6f, 0, 0}, {2e-6f, 0, 0}, {1e-6f, 1e-6f, 0}}, {0, 0, 1}},  // tiny, near the origin
        {{{1, 1, 1}, {1.00001f, 1, 1}, {1, 1.00001f, 1}}, {0, 0, 1}},    // tiny, further out
        {{{0, 0, 0}, {1, 1, 1}, {3, 3, 3}, {2, 2, 2}}, {0, 0, 0}},       // on one line
        {{{5, 5, 5}, {5, 5, 5}, {5, 5, 5}}, {0, 0, 0}},
        {{{0, 0, 0}, {1, 0, 0}}, {0, 0, 0}},
    };
    for (const auto& [ring, normal] : cases) {
        const V n = v(face_normal(ring));
        EXPECT_LT((n - normal).dot(n - normal), 1e-12) << n.x << " " << n.y << " " << n.z;
    }
    // points on a line, each rounded to float, at scales from small to large, some far from the
    // origin for their size: no area
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> u(-1, 1);
    for (int trial = 0; trial < 2000; ++trial) {
        const double scale = std::pow(10.0, trial % 13 - 6);
        const V o{u(rng) * scale, u(rng) * scale, u(rng) * scale};
        const double size = scale * std::pow(10.0, -(trial % 4));
        const V d{u(rng) * size, u(rng) * size, u(rng) * size};
        Ring r;
        for (int k = 0; k < 3 + trial % 6; ++k) {
            const double s = u(rng);
            r.push_back({static_cast<float>(o.x + s * d.x), static_cast<float>(o.y + s * d.y),
                         static_cast<float>(o.z + s * d.z)});
        }
        ASSERT_EQ(v(face_normal(r)).dot(v(face_normal(r))), 0) << trial;
        Tris t{9};
        ASSERT_FALSE(triangulate_ring(r, t));
        ASSERT_EQ(t, Tris{9});
    }
}

// The interior angles of a simple ring add up to (n - 2) half turns, reflex corners included;
// a ring's corners, found together in blocks, are each what corner_angle gives alone.
TEST(CornerAngles, SumToTheRingsTurns) {
    for (std::size_t n = 3; n <= 40; ++n) {
        Ring ring;
        for (std::size_t k = 0; k < n; ++k) {
            // a star where n is even, its inner corners turning back
            const double r = n % 2 == 0 && k % 2 == 1 ? 0.4 : 1.0;
            const double a =
                2.0 * std::numbers::pi * static_cast<double>(k) / static_cast<double>(n);
            ring.push_back(
                {static_cast<float>(r * std::cos(a)), static_cast<float>(r * std::sin(a)), 0.5f});
        }
        const Vec3 normal = face_normal(ring);
        std::vector<float> angles(n);
        corner_angles(ring, normal, angles);
        double sum = 0.0;
        for (std::size_t k = 0; k < n; ++k) {
            EXPECT_EQ(angles[k],
                      corner_angle(ring[(k + n - 1) % n], ring[k], ring[(k + 1) % n], normal))
                << n << " corners, corner " << k;
            sum += angles[k];
        }
        EXPECT_NEAR(sum, static_cast<double>(n - 2) * std::numbers::pi, 1e-5) << n << " corners";
        if (n % 2 == 0 && n >= 8) {
            EXPECT_GT(angles[1], std::numbers::pi) << n << " corners";
        }
    }
}

TEST(Triangulate, HandChecked) {
    EXPECT_EQ(triangle_count({{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}}), 2u);
    // an L in the xz plane, concave at point 3; then from point 1, which does not see it all,
    // with points repeated in a row
    const Ring l = {{0, 0, 0}, {0, 0, 2}, {1, 0, 2}, {1, 0, 1}, {2, 0, 1}, {2, 0, 0}};
    EXPECT_EQ(triangle_count(l), 4u);
    EXPECT_EQ(triangle_count({l[1], l[2], l[2], l[3], l[4], l[4], l[4], l[5], l[0], l[1]}), 4u);
    // point 2, which turns right, lies on the diagonal cutting off point 0: no ear there
    EXPECT_EQ(triangle_count(on_grid({0, 1, 0, 0, 1, 1, 2, 0, 2, 2})), 3u);
    // far from flat: the projection brings points together that lie apart, so the ring is
    // fanned in space and loses none of them
    Tris folded;
    EXPECT_TRUE(triangulate_ring(Ring{{16, -16, -16}, {0, -8, 0}, {8, -8, 0}, {8, 0, 0}, {0, 0, 0}},
                                 folded));
    EXPECT_EQ(folded, (Tris{0, 1, 2, 0, 2, 3, 0, 3, 4}));

    const Ring fans[] = {
        on_grid({0, 0, 4, 2, 4, 0, 0, 4}),              // a bow tie whose loops differ in area
        on_grid({0, 0, 2, 0, 4, 0, 4, 4, 2, 0, 0, 4}),  // triangles touching
        // found at random: the sweep sees the crossing only as an edge between leaves it, and
        // the repetition of (4, 0) only by sorting the points
        on_grid({0, 3, 1, 3, 2, 2, 1, 0, 3, 2, 3, 1, 4, 0, 5, 1, 6, 0,
                 6, 2, 5, 4, 6, 6, 5, 5, 1, 4, 4, 4, 0, 6, 1, 5, 0, 5}),
        on_grid({0, 4, 0, 3, 1, 3, 2, 3, 1, 2, 1, 1, 4, 0, 3, 1, 4, 1, 4,
                 0, 5, 2, 6, 0, 5, 3, 7, 5, 5, 6, 4, 7, 4, 6, 3, 6, 1, 6}),
    };
    for (const Ring& r : fans) {
        Tris t;
        EXPECT_TRUE(triangulate_ring(r, t));
        EXPECT_EQ(t, fan_of(r)) << r.size();
    }
    EXPECT_EQ(fan_of(fans[1]), (Tris{0, 2, 3, 0, 3, 4, 0, 4, 5}));
}

// Star-shaped rings with random radii in random planes, either way round; large ones too.
TEST(Triangulate, RandomSimpleRings) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> u(-1, 1);
    for (int trial = 0; trial < 300; ++trial) {
        const std::size_t n = trial < 290 ? 3 + rng() % 60 : 1000 + rng() % 3000;
        const V a{u(rng), u(rng), u(rng)};
        const V b = a.cross({u(rng), u(rng), u(rng)});
        const double la = std::sqrt(a.dot(a));
        const double lb = std::sqrt(b.dot(b)) * (trial % 2 ? 1 : -1);
        const V o{u(rng) * 10, u(rng) * 10, u(rng) * 10};
        Ring r;
        for (std::size_t k = 0; k < n; ++k) {
            const double t = 2 * std::numbers::pi * (k + 0.4 * u(rng)) / n;
            const double radius = 1.5 + u(rng);
            const V q = o + a * (radius * std::cos(t) / la) + b * (radius * std::sin(t) / lb);
            r.push_back(
                {static_cast<float>(q.x), static_cast<float>(q.y), static_cast<float>(q.z)});
        }
        ASSERT_EQ(triangle_count(r), n - 2) << trial;
    }
}

// Rings on small grids, many crossing or touching themselves: a ring that is simple (by testing
// every pair of edges in integers) is covered by n - 2 ears, any other cut into the fan.
TEST(Triangulate, SimpleOrFanOnAGrid) {
    std::mt19937 rng(5);
    int simple_count = 0;
    for (int trial = 0; trial < 6000; ++trial) {
        const auto grid = static_cast<long>(3 + rng() % 10);
        auto at = [&] { return std::array<long, 2>{long(rng() % grid), long(rng() % grid)}; };
        std::vector<std::array<long, 2>> p(4 + rng() % 57);
        std::generate(p.begin(), p.end(), at);
        const double c = grid / 2.0 + 0.1;  // off the lines through two grid points
        if (trial % 3)  // by angle round the centre: mostly simple, or one point off
            std::sort(p.begin(), p.end(), [c](auto a, auto b) {
                return std::atan2(a[1] - c, a[0] - c + 0.07) <
                       std::atan2(b[1] - c, b[0] - c + 0.07);
            });
        if (trial % 3 == 2) p[rng() % p.size()] = at();
        p.erase(std::unique(p.begin(), p.end()), p.end());
        while (p.size() > 1 && p.back() == p.front())
            p.pop_back();
        const auto m = p.size();
        auto turn = [&](std::size_t a, std::size_t b, std::size_t c) {
            const long s = (p[b][0] - p[a][0]) * (p[c][1] - p[a][1]) -
                           (p[b][1] - p[a][1]) * (p[c][0] - p[a][0]);
            return (s > 0) - (s < 0);
        };
        auto on = [&](std::size_t a, std::size_t b, std::size_t c) {  // c on segment ab
            return turn(a, b, c) == 0 && std::min(p[a][0], p[b][0]) <= p[c][0] &&
                   p[c][0] <= std::max(p[a][0], p[b][0]) && std::min(p[a][1], p[b][1]) <= p[c][1] &&
                   p[c][1] <= std::max(p[a][1], p[b][1]);
        };
        bool simple = true;
        for (std::size_t i = 0; i < m; ++i) {
            const std::size_t i1 = (i + 1) % m, i2 = (i + 2) % m;
            if (m > 3 && turn(i, i1, i2) == 0 && !on(i, i2, i1)) simple = false;  // turns back
            for (std::size_t j = i + 2; j < m; ++j) {
                const std::size_t j1 = (j + 1) % m;
                if (j1 != i && ((turn(i, i1, j) * turn(i, i1, j1) < 0 &&
                                 turn(j, j1, i) * turn(j, j1, i1) < 0) ||
                                on(i, i1, j) || on(i, i1, j1) || on(j, j1, i) || on(j, j1, i1)))
                    simple = false;
            }
        }
        Ring r;
        for (auto q : p)
            r.push_back({static_cast<float>(q[0]), 0, static_cast<float>(q[1])});
        Tris t;
        ASSERT_EQ(triangulate_ring(r, t), m >= 3 && twice_area(r).y != 0) << trial;
        if (t.empty()) continue;
        if (!simple) {
            ASSERT_EQ(t, fan_of(r)) << trial;
            continue;
        }
        ++simple_count;
        expect_cover(r, t);
        ASSERT_EQ(t.size(), 3 * (m - 2)) << trial;
    }
    EXPECT_GT(simple_count, 1500);
}

// smoothed normals of faces given as rings of point numbers, in group 0 unless given
std::vector<Vec3> smoothed(const std::vector<Vec3>& positions,
                           const std::vector<std::vector<std::uint32_t>>& rings, double degrees,
                           const std::vector<std::int32_t>& groups = {}) {
    std::vector<ShadedFace> faces;
    std::vector<std::uint32_t> points;
    for (std::size_t f = 0; f < rings.size(); ++f) {
        Ring ring;
        for (auto p : rings[f])
            ring.push_back(positions[p]);
        faces.push_back({static_cast<std::uint32_t>(points.size()),
                         static_cast<std::uint32_t>(ring.size()), groups.empty() ? 0 : groups[f],
                         face_normal(ring)});
        points.insert(points.end(), rings[f].begin(), rings[f].end());
    }
    return smooth_normals(faces, points, positions, degrees * std::numbers::pi / 180);
}

void expect_normal(const Vec3& got, V want) {
    const V d = v(got) - want * (1 / std::sqrt(want.dot(want)));
    EXPECT_LT(d.dot(d), 1e-12) << got.x << " " << got.y << " " << got.z;
}

TEST(SmoothNormals, FlatGridAndCube) {
    std::vector<Vec3> grid;  // 3 x 3 quads, each in its own ring of 4 out of 16 points
    std::vector<std::vector<std::uint32_t>> quads;
    for (std::uint32_t k = 0; k < 16; ++k)
        grid.push_back({float(k % 4), float(k / 4), 0});
    for (std::uint32_t k : {0, 1, 2, 4, 5, 6, 8, 9, 10})
        quads.push_back({k, k + 1, k + 5, k + 4});
    for (const Vec3& n : smoothed(grid, quads, 0))
        expect_normal(n, {0, 0, 1});

    std::vector<Vec3> corners;  // point k at (k & 1, k >> 1 & 1, k >> 2)
    for (std::uint32_t k = 0; k < 8; ++k)
        corners.push_back({float(k & 1), float(k >> 1 & 1), float(k >> 2)});
    const std::vector<std::vector<std::uint32_t>> cube = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4},
                                                          {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
    const V outward[] = {{0, 0, -1}, {0, 0, 1}, {0, -1, 0}, {0, 1, 0}, {-1, 0, 0}, {1, 0, 0}};
    const std::vector<Vec3> n = smoothed(corners, cube, 44.5);
    for (std::size_t c = 0; c < n.size(); ++c)
        expect_normal(n[c], outward[c / 4]);
    // at the angle exactly, the three faces at a corner smooth together
    const std::vector<Vec3> round = smoothed(corners, cube, 90);
    for (std::size_t c = 0; c < round.size(); ++c) {
        const Vec3 q = corners[cube[c / 4][c % 4]];
        expect_normal(round[c], {q.x - 0.5, q.y - 0.5, q.z - 0.5});
    }
}

// An L, concave at point 1, and a triangle hinged at 30 degrees along the x axis, and a face
// without area that takes no part: on the hinge the normals meet, weighted by each face's angle.
TEST(SmoothNormals, AngleWeightedAcrossAHinge) {
    const double s = 0.5, c = std::sqrt(3.0) / 2;  // sin and cos of 30 degrees
    Ring p = on_grid({0, 0, 1, 0, 1, -1, 2, -1, 2, 1, 0, 1});
    p.push_back({0.2f, float(-c), float(s)});
    const std::vector<std::vector<std::uint32_t>> faces = {
        {0, 1, 2, 3, 4, 5}, {1, 0, 6}, {1, 1, 4}};
    const V up{0, 0, 1}, tilted{0, s, c};
    auto at = [&](std::uint32_t corner, std::uint32_t a, std::uint32_t b) {  // angle a-corner-b
        const V x = v(p[a]) - v(p[corner]), y = v(p[b]) - v(p[corner]);
        return std::acos(x.dot(y) / std::sqrt(x.dot(x) * y.dot(y)));
    };
    const double w0 = at(0, 1, 6), w1 = at(1, 0, 6);  // the triangle's angles on the hinge
    const double pi = std::numbers::pi;
    const V at0 = up * (pi / 2) + tilted * w0;
    const V at1 = up * (3 * pi / 2) + tilted * w1;  // the L turns back at 1: three quarters

    std::vector<Vec3> n = smoothed(p, faces, 31);
    ASSERT_EQ(n.size(), 12u);
    expect_normal(n[0], at0);  // the L: 0 1 2 3 4 5
    expect_normal(n[1], at1);
    expect_normal(n[2], up);
    expect_normal(n[7], at0);  // the triangle: 1 0 6
    expect_normal(n[6], at1);
    expect_normal(n[8], tilted);
    for (std::size_t k = 9; k < 12; ++k)
        EXPECT_EQ(v(n[k]).dot(v(n[k])), 0);
    // beyond the angle, or in different groups: each face keeps its own normal
    for (const auto& [groups, degrees] : {std::pair{std::vector<std::int32_t>{0, 0, 0}, 29.0},
                                          std::pair{std::vector<std::int32_t>{0, 1, 0}, 90.0}}) {
        n = smoothed(p, faces, degrees, groups);
        for (std::size_t k = 0; k < 6; ++k)
            expect_normal(n[k], up);
        for (std::size_t k = 6; k < 9; ++k)
            expect_normal(n[k], tilted);
    }
}

// 64 faces round the apex of a cone, 5.625 degrees apart: at 30 degrees each corner at the apex
// takes the faces up to 7 either side (39.4 degrees of azimuth apart, 28 degrees in normal).
TEST(SmoothNormals, ManyFacesAtAPoint) {
    const std::uint32_t k = 64;
    std::vector<Vec3> p = {{0, 0, 1}};
    std::vector<std::vector<std::uint32_t>> faces;
    for (std::uint32_t i = 0; i < k; ++i) {
        const double t = 2 * std::numbers::pi * i / k;
        p.push_back({static_cast<float>(std::cos(t)), static_cast<float>(std::sin(t)), 0});
        faces.push_back({0, 1 + i, 1 + (i + 1) % k});
    }
    const std::vector<Vec3> n = smoothed(p, faces, 30);
    for (std::uint32_t i = 0; i < k; ++i) {
        V sum{0, 0, 0};
        for (std::uint32_t j = i + k - 7; j <= i + k + 7; ++j)
            sum = sum + v(face_normal(Ring{p[0], p[1 + j % k], p[1 + (j + 1) % k]}));
        expect_normal(n[3 * i], sum);
    }
}

}  // namespace
}  // namespace rokconv
