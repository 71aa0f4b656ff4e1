#include <cmath>
#include <numbers>

#include "mesh/mesh.hpp"
#include "mesh/vector.hpp"

namespace rokconv {

using namespace geometry;

namespace {

// What a corner's angle is found from: the length of the cross product of its two edges and
// their dot product, and whether it turns back against the face's normal.
struct Turn {
    double y = 0.0;
    double x = 0.0;
    bool back = false;  // it turns back
};

Turn turn_at(const Vec3& before, const Vec3& at, const Vec3& after, const D3& normal) {
    const D3 p = d3(at);
    const D3 a = d3(before) - p;
    const D3 b = d3(after) - p;
    const D3 turn = cross(b, a);
    return {length(turn), dot(a, b), dot(turn, normal) < 0.0};
}

// The angles of n corners, each between its two edges given the length of their cross product
// (y) and their dot product (x), in [0, pi], and the rest of the turn where the corner turns back
// against the face: atan2(y, x) for y >= 0 by an odd polynomial for atan on [0, 1], within 1e-7
// of the exact angle, which as a weight is exact enough and costs a tenth of the library's.
// The corners' turns are found first and their angles after, without branches: one corner's
// polynomial does not wait for the one before, and the processor works on several at once.
void angles_of(const double* y, const double* x, const bool* back, float* out, std::size_t n) {
    for (std::size_t k = 0; k < n; ++k) {
        const double ax = std::abs(x[k]);
        const bool steep = y[k] > ax;
        const double over = steep ? ax : y[k];
        const double under = steep ? y[k] : ax;
        const double ratio = over / under;
        const double t = (steep | (ax > 0.0)) ? ratio : 0.0;
        // atan(t) = t - t^3/3 + ... on [0, 1], through its minimax fit, highest power first
        constexpr double kAtan[] = {-0.0040540580, 0.0218612288, -0.0559098861, 0.0964200441,
                                    -0.1390853351, 0.1994653599, -0.3332985605, 0.9999993329};
        const double t2 = t * t;
        double a = 0.0;
        for (const double c : kAtan)
            a = a * t2 + c;
        a *= t;
        a = steep ? std::numbers::pi / 2 - a : a;
        a = x[k] < 0.0 ? std::numbers::pi - a : a;
        a = back[k] ? 2.0 * std::numbers::pi - a : a;
        out[k] = static_cast<float>(a);
    }
}

}  // namespace

void corner_angles(std::span<const Vec3> ring, const Vec3& normal, std::span<float> angles) {
    const std::size_t n = ring.size();
    const D3 towards = d3(normal);
    constexpr std::size_t kBlock = 16;
    double y[kBlock];
    double x[kBlock];
    bool back[kBlock];
    for (std::size_t first = 0; first < n; first += kBlock) {
        const std::size_t m = std::min(kBlock, n - first);
        for (std::size_t i = 0; i < m; ++i) {
            const std::size_t k = first + i;
            const Turn t = turn_at(ring[k == 0 ? n - 1 : k - 1], ring[k],
                                   ring[k + 1 == n ? 0 : k + 1], towards);
            y[i] = t.y;
            x[i] = t.x;
            back[i] = t.back;
        }
        angles_of(y, x, back, angles.data() + first, m);
    }
}

}  // namespace rokconv
