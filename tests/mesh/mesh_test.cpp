#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <numbers>
#include <numeric>
#include <random>
#include <set>
#include <tuple>
#include <vector>

#include "mesh/scene.hpp"

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

// the ring cut as the pipeline cuts it, given its face normal
bool cut(const Ring& r, Tris& t) {
    return triangulate_ring(r, face_normal(r), t);
}

std::size_t triangle_count(const Ring& r) {
    Tris t;
    EXPECT_TRUE(cut(r, t));
    expect_cover(r, t);
    return t.size() / 3;
}

// the interior angle at a corner, more than half a turn where it turns back against the normal
double angle_at(const Vec3& before, const Vec3& at, const Vec3& after, const Vec3& normal) {
    const V a = v(before) - v(at), b = v(after) - v(at);
    const double angle =
        std::acos(std::clamp(a.dot(b) / std::sqrt(a.dot(a) * b.dot(b)), -1.0, 1.0));
    return b.cross(a).dot(v(normal)) < 0 ? 2 * std::numbers::pi - angle : angle;
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
    }
}

TEST(Triangulate, HandChecked) {
    // an L in the xz plane, concave at (1, 1), from a point that does not see it all, with
    // points repeated in a row and the first again at the end
    const Ring l = {{0, 0, 0}, {0, 0, 2}, {1, 0, 2}, {1, 0, 1}, {2, 0, 1}, {2, 0, 0}};
    EXPECT_EQ(triangle_count({l[1], l[2], l[2], l[3], l[4], l[4], l[4], l[5], l[0], l[1]}), 4u);
    // far from flat: the projection brings points together that lie apart, so the ring is
    // fanned in space and loses none of them
    Tris folded;
    EXPECT_TRUE(cut(Ring{{16, -16, -16}, {0, -8, 0}, {8, -8, 0}, {8, 0, 0}, {0, 0, 0}}, folded));
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
        EXPECT_TRUE(cut(r, t));
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
            return turn(a, b, c) == 0 && (p[c][0] - p[a][0]) * (p[c][0] - p[b][0]) <= 0 &&
                   (p[c][1] - p[a][1]) * (p[c][1] - p[b][1]) <= 0;
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
        ASSERT_EQ(cut(r, t), m >= 3 && twice_area(r).y != 0) << trial;
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

// A cube's faces at 90 degrees, exactly the angle between them (within the rounding allowed
// for), smooth together: each corner's normal points away from the centre.
TEST(Smoother, CubeAtTheAngleBetweenItsFaces) {
    std::vector<Vec3> cube;  // point k at (k & 1, k >> 1 & 1, k >> 2)
    for (std::uint32_t k = 0; k < 8; ++k)
        cube.push_back({float(k & 1), float(k >> 1 & 1), float(k >> 2)});
    const std::uint32_t sides[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4},
                                       {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
    std::vector<std::vector<SmoothCorner>> at(8);  // as the scene's shading gives them
    for (std::uint32_t f = 0; f < 6; ++f) {
        const Ring ring = {cube[sides[f][0]], cube[sides[f][1]], cube[sides[f][2]],
                           cube[sides[f][3]]};
        float angles[4];
        corner_angles(ring, face_normal(ring), angles);
        for (std::uint32_t k = 0; k < 4; ++k)
            at[sides[f][k]].push_back({4 * f + k, 0, angles[k], face_normal(ring)});
    }
    std::vector<Vec3> n(24);
    Smoother smoother(std::numbers::pi / 2);
    for (auto& corners : at)
        smoother.point(corners, n);
    for (std::uint32_t c = 0; c < 24; ++c) {
        const Vec3 q = cube[sides[c / 4][c % 4]];  // (q - 0.5) / sqrt(3/4)
        const V d = v(n[c]) - V{q.x - 0.5, q.y - 0.5, q.z - 0.5} * (2 / std::sqrt(3.0));
        EXPECT_LT(d.dot(d), 1e-12) << c;
    }
}

// A scene of random faces of 2 to 20 distinct corners in four groups (materials), over some points
// at random places; over few points, many corners meet at each.
Scene random_faces(std::uint32_t points, std::size_t faces, unsigned seed) {
    std::mt19937 random(seed);
    Scene scene;
    std::uniform_real_distribution<float> place(-10.0f, 10.0f);
    for (std::uint32_t p = 0; p < points; ++p)
        scene.positions.push_back({place(random), place(random), place(random)});
    scene.point_corners.assign(points, 0);
    scene.face_start.push_back(0);
    std::vector<std::uint32_t> all(points);
    std::iota(all.begin(), all.end(), 0u);
    for (std::size_t f = 0; f < faces; ++f) {
        std::shuffle(all.begin(), all.end(), random);
        for (std::size_t k = 0; k < std::min<std::size_t>(points, 2 + random() % 19); ++k) {
            scene.corners.push_back(all[k]);
            ++scene.point_corners[all[k]];
        }
        scene.face_start.push_back(static_cast<std::uint32_t>(scene.corners.size()));
        scene.face_material.push_back(static_cast<std::int32_t>(random() % 4) - 1);
    }
    return scene;
}

// The scene's steps on random faces: each point's slots hold its corners in corner order with
// their faces and angles; then each corner's vertex has the normalised sum of the normals of the
// faces of its group at its point within 44.5 degrees of its own, each weighted by its angle (a
// face without a normal, of 2 corners, gets zero and adds to none), and a point has as many
// vertices as its corners have different normals.
TEST(Scene, PlacesShapesAndShadesTheCorners) {
    const double cos_limit = std::cos(44.5 * std::numbers::pi / 180) - 1e-6;
    for (const auto& [points, faces] : std::vector<std::pair<std::uint32_t, std::size_t>>{
             {1, 0}, {5, 1}, {3, 2}, {40, 9}, {6, 300}, {6000, 10000}}) {
        const Scene made = random_faces(points, faces, points + static_cast<unsigned>(faces));
        Scene scene = made;
        scene.threads = 2;  // past 4096 points, runs of points shaded side by side
        CornerSlots slots;
        const std::vector<std::uint32_t> slot_of = place_corners(scene, slots);
        shape_faces(scene, slots, slot_of);
        ASSERT_EQ(slot_of.size(), made.corners.size());
        ASSERT_EQ(slots.start.size(), points + 1);
        EXPECT_EQ(slots.start.back(), made.corners.size());
        std::vector<std::uint32_t> last(points, 0);  // the slot after p's last corner seen
        std::vector<std::vector<std::uint32_t>> at(points);
        std::vector<std::uint32_t> face(made.corners.size());
        std::vector<double> angle(made.corners.size(), 0.0);
        for (std::uint32_t f = 0; f < faces; ++f) {
            const std::uint32_t first = made.face_start[f], n = made.face_start[f + 1] - first;
            const Vec3& normal = scene.face_normal[f];
            auto ring = [&](std::uint32_t k) {
                return made.positions[made.corners[first + k % n]];
            };
            for (std::uint32_t k = 0; k < n; ++k) {
                const std::uint32_t c = first + k, p = made.corners[c], s = slot_of[c];
                if (v(normal).dot(v(normal)) != 0)
                    angle[c] = angle_at(ring(k + n - 1), ring(k), ring(k + 1), normal);
                EXPECT_EQ(slots.slots[s].ref, f);
                EXPECT_NEAR(slots.slots[s].angle, angle[c], 1e-6);
                EXPECT_EQ(s, std::max(last[p], slots.start[p])) << "corner " << c;
                last[p] = s + 1;
                at[p].push_back(c);
                face[c] = f;
            }
        }
        const Shading shading = shade(scene, slots);
        for (std::uint32_t p = 0; p < points; ++p) {
            std::set<std::tuple<float, float, float>> distinct;
            for (const std::uint32_t c : at[p]) {
                const V own = v(scene.face_normal[face[c]]);
                V sum{0, 0, 0};
                for (const std::uint32_t o : at[p]) {
                    if (made.face_material[face[o]] == made.face_material[face[c]] &&
                        own.dot(own) != 0 && own.dot(v(scene.face_normal[face[o]])) >= cos_limit)
                        sum = sum + v(scene.face_normal[face[o]]) * angle[o];
                }
                const std::uint32_t vertex = slots.slots[slot_of[c]].ref;
                ASSERT_TRUE(vertex >= shading.vertex_start[p] &&
                            vertex < shading.vertex_start[p + 1]);
                const Vec3 got = shading.vertex_normal[vertex];
                const V want = sum.dot(sum) > 0 ? sum * (1 / std::sqrt(sum.dot(sum))) : own;
                EXPECT_LT((v(got) - want).dot(v(got) - want), 1e-10) << "corner " << c;
                distinct.insert({got.x, got.y, got.z});
            }
            EXPECT_EQ(shading.vertex_start[p + 1] - shading.vertex_start[p], distinct.size());
        }
    }
}

}  // namespace
}  // namespace rokconv
