#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <memory>
#include <numbers>
#include <set>

#include "mesh/mesh.hpp"
#include "mesh/vector.hpp"

namespace rokconv {

using namespace geometry;

namespace {

// ---- exact predicates on points with float coordinates ----

// left uninitialised by default: a face's points are set before use, and its arrays are made
// for every face
struct P2 {
    double x;
    double y;
};

bool operator==(const P2& a, const P2& b) {
    return a.x == b.x && a.y == b.y;
}
bool lex_less(const P2& a, const P2& b) {
    return a.x < b.x || (a.x == b.x && a.y < b.y);
}

void two_sum(double a, double b, double& sum, double& error) {
    sum = a + b;
    const double bv = sum - a;
    const double av = sum - bv;
    error = (a - av) + (b - bv);
}

// The products of float coordinates are exact in double, so their sum, carried as an expansion
// of non-overlapping parts (smallest first), has the sign of its largest part.
int exact_orient(const P2& a, const P2& b, const P2& c) {
    const std::array<double, 6> terms = {a.x * b.y,    -(a.y * b.x), b.x * c.y,
                                         -(b.y * c.x), c.x * a.y,    -(c.y * a.x)};
    std::array<double, 6> parts{};
    std::size_t n = 0;
    for (double q : terms) {
        for (std::size_t i = 0; i < n; ++i)
            two_sum(q, parts[i], q, parts[i]);
        parts[n++] = q;
    }
    for (std::size_t i = n; i-- > 0;)
        if (parts[i] != 0.0) return parts[i] > 0.0 ? 1 : -1;
    return 0;
}

// The sign of twice the area of (a, b, c): 1 counter-clockwise, -1 clockwise, 0 on one line.
// Exact for float coordinates: the double result is taken where it exceeds its rounding bound.
int orient(const P2& a, const P2& b, const P2& c) {
    const double left = (a.x - c.x) * (b.y - c.y);
    const double right = (a.y - c.y) * (b.x - c.x);
    const double det = left - right;
    const double bound = (3.0 + 16.0 * 0x1p-53) * 0x1p-53 * (std::abs(left) + std::abs(right));
    if (det > bound) return 1;
    if (-det > bound) return -1;
    return exact_orient(a, b, c);
}

// p, on the line through a and b, lies on the segment between them
bool within(const P2& a, const P2& b, const P2& p) {
    return std::min(a.x, b.x) <= p.x && p.x <= std::max(a.x, b.x) && std::min(a.y, b.y) <= p.y &&
           p.y <= std::max(a.y, b.y);
}

// the closed segments ab and cd have a point in common
bool segments_meet(const P2& a, const P2& b, const P2& c, const P2& d) {
    if (std::max(a.x, b.x) < std::min(c.x, d.x) || std::max(c.x, d.x) < std::min(a.x, b.x) ||
        std::max(a.y, b.y) < std::min(c.y, d.y) || std::max(c.y, d.y) < std::min(a.y, b.y))
        return false;
    const int o1 = orient(a, b, c);
    const int o2 = orient(a, b, d);
    const int o3 = orient(c, d, a);
    const int o4 = orient(c, d, b);
    if (o1 * o2 < 0 && o3 * o4 < 0) return true;
    return (o1 == 0 && within(a, b, c)) || (o2 == 0 && within(a, b, d)) ||
           (o3 == 0 && within(c, d, a)) || (o4 == 0 && within(c, d, b));
}

// ---- simplicity ----

// Up to this many points every pair of edges is tested; beyond, a sweep tests only neighbours.
constexpr std::size_t kPairwiseSimple = 16;

// Whether a ring of points, consecutive points distinct, neither crosses nor touches itself:
// no edge turns back along the one before it, no two other edges have a point in common.
// O(n log n): a sweep from left to right that stops at the first meeting, before which the
// edges it holds keep their order from bottom to top.
bool is_simple(std::span<const P2> v) {
    const std::size_t m = v.size();
    for (std::size_t i = 0; i < m; ++i) {
        const P2& a = v[i];
        const P2& b = v[(i + 1) % m];
        const P2& c = v[(i + 2) % m];
        if (orient(a, b, c) == 0 &&
            (a.x != b.x ? (b.x > a.x) != (c.x > b.x) : (b.y > a.y) != (c.y > b.y)))
            return false;
    }
    // edge i runs from point i to point i + 1; adjacent edges meet only at their common point
    auto adjacent = [m](std::size_t i, std::size_t j) {
        return (i + 1) % m == j || (j + 1) % m == i;
    };
    auto meet = [&](std::size_t i, std::size_t j) {
        return !adjacent(i, j) && segments_meet(v[i], v[(i + 1) % m], v[j], v[(j + 1) % m]);
    };
    if (m <= kPairwiseSimple) {
        for (std::size_t i = 0; i < m; ++i)
            for (std::size_t j = i + 2; j < m; ++j)
                if (meet(i, j)) return false;
        return true;
    }

    std::vector<std::uint32_t> order(m);
    for (std::uint32_t i = 0; i < m; ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(),
              [&](std::uint32_t a, std::uint32_t b) { return lex_less(v[a], v[b]); });
    for (std::size_t k = 1; k < m; ++k)
        if (v[order[k - 1]] == v[order[k]]) return false;  // a point visited twice

    auto left = [&](std::uint32_t e) {
        const P2& a = v[e];
        const P2& b = v[(e + 1) % m];
        return lex_less(a, b) ? a : b;
    };
    auto right = [&](std::uint32_t e) {
        const P2& a = v[e];
        const P2& b = v[(e + 1) % m];
        return lex_less(a, b) ? b : a;
    };
    // s below t, t starting no further left: by the side of s's line that t's left end (or,
    // starting where s does, its right end) lies on
    auto below_later = [&](std::uint32_t s, std::uint32_t t) {
        int o = orient(left(s), right(s), left(t));
        if (o == 0) o = orient(left(s), right(s), right(t));
        return o != 0 ? o > 0 : s < t;
    };
    auto below = [&](std::uint32_t s, std::uint32_t t) {
        if (s == t) return false;
        return lex_less(left(t), left(s)) ? !below_later(t, s) : below_later(s, t);
    };
    std::set<std::uint32_t, decltype(below)> active(below);
    std::vector<std::set<std::uint32_t, decltype(below)>::iterator> at(m, active.end());
    for (const std::uint32_t p : order) {
        const std::uint32_t edges[2] = {static_cast<std::uint32_t>((p + m - 1) % m), p};
        for (const std::uint32_t e : edges) {  // the edges that end here leave first
            if (!(right(e) == v[p])) continue;
            const auto it = at[e];
            if (it != active.begin() && std::next(it) != active.end() &&
                meet(*std::prev(it), *std::next(it)))
                return false;
            active.erase(it);
        }
        for (const std::uint32_t e : edges) {
            if (!(left(e) == v[p])) continue;
            const auto it = active.insert(e).first;
            at[e] = it;
            if (it != active.begin() && meet(*std::prev(it), e)) return false;
            if (std::next(it) != active.end() && meet(e, *std::next(it))) return false;
        }
    }
    return true;
}

// ---- ear clipping ----

// Whether a counter-clockwise ring has only left turns and winds once round (one point
// furthest right): it is then convex and simple.
bool is_convex(std::span<const P2> v) {
    const std::size_t m = v.size();
    std::size_t rightmost = 0;
    for (std::size_t i = 0; i < m; ++i) {
        const P2& a = v[i == 0 ? m - 1 : i - 1];
        const P2& b = v[i];
        const P2& c = v[i + 1 == m ? 0 : i + 1];
        if (orient(a, b, c) <= 0) return false;
        if (lex_less(a, b) && lex_less(c, b)) ++rightmost;
    }
    return rightmost == 1;
}

// Cuts a simple counter-clockwise ring into ears, appending the triangles by the indices in
// index. A corner is an ear when it turns left and no other corner lies in its triangle, edges
// included; only corners that do not turn left can (for a simple ring, the one in the triangle
// furthest from the base does not), so only they are tested, found through a grid. Cutting an
// ear changes only its neighbours: the others keep what they were, and only the neighbours are
// tested again. So a convex ring costs O(n). False when no ear is left to cut, the ring then not
// being simple after all.
bool clip_ears(std::span<const P2> v, std::span<const std::uint32_t> index,
               std::vector<std::uint32_t>& out) {
    const auto m = static_cast<std::uint32_t>(v.size());
    std::vector<std::uint32_t> prev(m);
    std::vector<std::uint32_t> next(m);
    std::vector<char> reflex(m);  // turns right or goes straight on; only ever cleared
    std::vector<char> gone(m, 0);
    std::uint32_t reflex_count = 0;
    double largest = 0.0;
    constexpr double kInf = std::numeric_limits<double>::infinity();
    P2 lo = {kInf, kInf};  // the box of the reflex corners
    P2 hi = {-kInf, -kInf};
    for (std::uint32_t i = 0; i < m; ++i) {
        prev[i] = i == 0 ? m - 1 : i - 1;
        next[i] = i + 1 == m ? 0 : i + 1;
        reflex[i] = orient(v[prev[i]], v[i], v[next[i]]) <= 0;
        largest = std::max({largest, std::abs(v[i].x), std::abs(v[i].y)});
        if (!reflex[i]) continue;
        ++reflex_count;
        lo = {std::min(lo.x, v[i].x), std::min(lo.y, v[i].y)};
        hi = {std::max(hi.x, v[i].x), std::max(hi.y, v[i].y)};
    }
    if (reflex_count == 0) lo = hi = v[0];

    // The reflex corners by cell of a grid over their box, about one a cell; a cell's list drops
    // corners no longer reflex as it is walked. A cell is found from a coordinate by a rounding
    // that is monotonic in it, so the cells between those of two coordinates hold every corner
    // between them.
    const auto side = std::max<std::uint32_t>(
        1, static_cast<std::uint32_t>(std::sqrt(static_cast<double>(reflex_count))));
    const double scale_x = hi.x > lo.x ? side / (hi.x - lo.x) : 0.0;
    const double scale_y = hi.y > lo.y ? side / (hi.y - lo.y) : 0.0;
    auto cell = [side](double offset, double scale) {
        const double c = offset * scale;
        return !(c > 0.0) ? 0u : c >= side ? side - 1 : static_cast<std::uint32_t>(c);
    };
    std::vector<std::uint32_t> head(std::size_t{side} * side, kNone);
    std::vector<std::uint32_t> link(m, kNone);
    for (std::uint32_t i = 0; i < m; ++i) {
        if (!reflex[i]) continue;
        auto& h =
            head[std::size_t{cell(v[i].y - lo.y, scale_y)} * side + cell(v[i].x - lo.x, scale_x)];
        link[i] = h;
        h = i;
    }
    // a row of cells spans these y, widened by far more than the rounding of the bounds
    const double slack = largest * 1e-9;
    auto row = [&](std::uint32_t cy) {
        if (scale_y == 0.0) return P2{-kInf, kInf};
        return P2{cy == 0 ? -kInf : lo.y + cy / scale_y - slack,
                  cy + 1 == side ? kInf : lo.y + (cy + 1) / scale_y + slack};
    };

    // A corner is an ear when no reflex corner lies in its triangle. Row by row of the grid,
    // only the cells the triangle spans in that row are searched, so a long thin triangle
    // searches along its length rather than over its box.
    auto is_ear = [&](std::uint32_t i) {
        const P2 t[3] = {v[prev[i]], v[i], v[next[i]]};
        if (orient(t[0], t[1], t[2]) <= 0) return false;
        const double bottom = std::min({t[0].y, t[1].y, t[2].y});
        const double top = std::max({t[0].y, t[1].y, t[2].y});
        const std::uint32_t y1 = cell(top - lo.y, scale_y);
        for (std::uint32_t cy = cell(bottom - lo.y, scale_y); cy <= y1; ++cy) {
            // the triangle's extent in x within the row: its corners in the row and where its
            // edges cross the row's bounds
            const P2 band = row(cy);
            double left = kInf;
            double right = -kInf;
            for (int k = 0; k < 3; ++k) {
                const P2& p = t[k];
                const P2& q = t[(k + 1) % 3];
                if (band.x <= p.y && p.y <= band.y) {
                    left = std::min(left, p.x);
                    right = std::max(right, p.x);
                }
                for (const double y : {band.x, band.y}) {
                    if ((p.y < y) == (q.y < y) || p.y == y || q.y == y) continue;
                    const double x = p.x + (y - p.y) / (q.y - p.y) * (q.x - p.x);
                    left = std::min(left, x);
                    right = std::max(right, x);
                }
            }
            if (left > right) continue;
            const std::uint32_t x1 = cell(right + slack - lo.x, scale_x);
            for (std::uint32_t cx = cell(left - slack - lo.x, scale_x); cx <= x1; ++cx) {
                for (std::uint32_t* k = &head[std::size_t{cy} * side + cx]; *k != kNone;) {
                    const std::uint32_t r = *k;
                    if (!reflex[r]) {
                        *k = link[r];
                        continue;
                    }
                    k = &link[r];
                    if (r == prev[i] || r == next[i]) continue;
                    const P2& p = v[r];
                    if (orient(t[0], t[1], p) >= 0 && orient(t[1], t[2], p) >= 0 &&
                        orient(t[2], t[0], p) >= 0)
                        return false;
                }
            }
        }
        return true;
    };

    // In passes round the ring: a corner whose neighbour was cut waits for the next pass, so a
    // pass cuts at most every other corner and a convex ring halves with each, its triangles
    // staying local (small boxes to search) and well shaped. A corner found not to be an ear is
    // tested again only once a neighbour is cut.
    std::vector<std::uint32_t> todo(m);
    for (std::uint32_t i = 0; i < m; ++i)
        todo[i] = i;
    std::vector<std::uint32_t> later;
    std::vector<std::uint32_t> touched(m, 0);  // the pass in which a neighbour was cut
    std::uint32_t left = m;
    std::uint32_t last = 0;
    for (std::uint32_t pass = 1; left > 3 && !todo.empty(); ++pass) {
        later.clear();
        for (const std::uint32_t i : todo) {
            if (left == 3) break;
            if (gone[i] || touched[i] == pass || !is_ear(i)) continue;
            const std::uint32_t a = prev[i];
            const std::uint32_t c = next[i];
            out.insert(out.end(), {index[a], index[i], index[c]});
            gone[i] = 1;
            next[a] = c;
            prev[c] = a;
            --left;
            for (const std::uint32_t n : {a, c}) {
                if (reflex[n] && orient(v[prev[n]], v[n], v[next[n]]) > 0) reflex[n] = 0;
                touched[n] = pass;
                later.push_back(n);
            }
            last = a;
        }
        todo.swap(later);
    }
    if (left > 3 || orient(v[prev[last]], v[last], v[next[last]]) <= 0) return false;
    out.insert(out.end(), {index[prev[last]], index[last], index[next[last]]});
    return true;
}

// A fan from the first point over the ring's points in space, for a ring that is not a simple
// polygon or whose projection folds points together: in ring order, so a triangle runs the other
// way round where the ring does. A point equal to the one before it is left out, and so are
// triangles without area, which cover nothing.
bool fan_in_space(std::span<const Vec3> ring, std::vector<std::uint32_t>& triangles) {
    std::vector<std::uint32_t> kept;
    for (std::uint32_t i = 0; i < ring.size(); ++i) {
        const D3 p = d3(ring[i]);
        if (!kept.empty() && length(p - d3(ring[kept.back()])) == 0.0) continue;
        kept.push_back(i);
    }
    const std::size_t before = triangles.size();
    const D3 o = d3(ring[kept[0]]);
    for (std::size_t i = 1; i + 1 < kept.size(); ++i) {
        const D3 c = cross(d3(ring[kept[i]]) - o, d3(ring[kept[i + 1]]) - o);
        if (c.x != 0.0 || c.y != 0.0 || c.z != 0.0)
            triangles.insert(triangles.end(), {kept[0], kept[i], kept[i + 1]});
    }
    return triangles.size() > before;
}

}  // namespace

bool triangulate_ring(std::span<const Vec3> ring, const Vec3& normal,
                      std::vector<std::uint32_t>& triangles) {
    const D3 n = d3(normal);
    if (n.x == 0.0 && n.y == 0.0 && n.z == 0.0) return false;

    // Dropping the normal's largest axis keeps the coordinates as they are (floats), so the
    // predicates are exact; the first remaining axis is mirrored where that makes the ring run
    // counter-clockwise.
    const double an[3] = {std::abs(n.x), std::abs(n.y), std::abs(n.z)};
    const int drop = an[0] >= an[1] && an[0] >= an[2] ? 0 : an[1] >= an[2] ? 1 : 2;
    const double flip = (drop == 0 ? n.x : drop == 1 ? n.y : n.z) < 0.0 ? -1.0 : 1.0;
    const int u = (drop + 1) % 3;
    const int w = (drop + 2) % 3;

    // a point equal (in the plane) to the one kept before it is left out, as is a run at the end
    // equal to the first point
    constexpr std::size_t kSmall = 16;
    std::array<P2, kSmall> small_points;
    std::array<std::uint32_t, kSmall> small_index;
    std::vector<P2> big_points;
    std::vector<std::uint32_t> big_index;
    std::span<P2> v(small_points);
    std::span<std::uint32_t> index(small_index);
    if (ring.size() > kSmall) {
        big_points.resize(ring.size());
        big_index.resize(ring.size());
        v = big_points;
        index = big_index;
    }
    // Points apart in space that the projection brings together (a face far from flat) would be
    // lost: such a ring is fanned in space instead.
    auto same = [&](std::size_t i, std::size_t j) {
        return ring[i].x == ring[j].x && ring[i].y == ring[j].y && ring[i].z == ring[j].z;
    };
    bool folded = false;
    std::size_t m = 0;
    for (std::size_t i = 0; i < ring.size(); ++i) {
        const P2 p = {flip * component(ring[i], u), component(ring[i], w)};
        if (m > 0 && p == v[m - 1]) {
            folded = folded || !same(i, index[m - 1]);
            continue;
        }
        v[m] = p;
        index[m++] = static_cast<std::uint32_t>(i);
    }
    while (m > 1 && v[m - 1] == v[0]) {
        folded = folded || !same(index[m - 1], index[0]);
        --m;
    }
    if (folded || m < 3) return fan_in_space(ring, triangles);
    v = v.first(m);
    index = index.first(m);

    if (m == 3 || is_convex(v)) {
        for (std::size_t i = 1; i + 1 < m; ++i)
            triangles.insert(triangles.end(), {index[0], index[i], index[i + 1]});
        return true;
    }
    const std::size_t start = triangles.size();
    if (is_simple(v) && clip_ears(v, index, triangles)) return true;
    triangles.resize(start);
    return fan_in_space(ring, triangles);
}

}  // namespace rokconv
