#include <algorithm>
#include <cmath>

#include "mesh/mesh.hpp"
#include "mesh/vector.hpp"

namespace rokconv {

using namespace geometry;

// Twice the ring's vector area (the Newell normal, unnormalised), or zero when the ring has no
// area. Rounding to float moves a coordinate by up to 2^-24 of the ring's largest coordinate M,
// so points computed on one line end up within sqrt(3) 2^-24 M of it, and twice the area of
// their ring is at most 2 sqrt(3) 2^-24 M times its perimeter P (measured: 1.4 2^-24 M P). The
// ring is taken as without area up to 2^-21 M P, more than twice that: its width (twice its area
// over its perimeter) is then within 8 roundings of its coordinates. The bound scales with the
// ring's place and size, so a small face near the origin keeps its area.
D3 area_vector(std::span<const Vec3> ring) {
    if (ring.size() < 3) return {};
    const D3 origin = d3(ring[0]);  // offsets from a corner lose less to cancellation
    D3 sum;
    double perimeter = 0.0;
    double largest = 0.0;
    D3 a;  // ring[i] - origin
    for (std::size_t i = 0; i < ring.size(); ++i) {
        const Vec3& p = ring[i];
        largest = std::max(
            {largest, std::abs(double{p.x}), std::abs(double{p.y}), std::abs(double{p.z})});
        const D3 b = d3(ring[i + 1 == ring.size() ? 0 : i + 1]) - origin;
        sum = sum + cross(a, b);
        perimeter += length(b - a);
        a = b;
    }
    const double twice_area = length(sum);
    // false for NaN or infinite positions too
    if (!(twice_area > perimeter * largest * 0x1p-21) || !std::isfinite(twice_area)) return {};
    return sum;
}

Vec3 face_normal(std::span<const Vec3> ring) {
    const D3 n = area_vector(ring);
    const double len = length(n);
    return len > 0.0 ? to_vec3((1.0 / len) * n) : Vec3{};
}

}  // namespace rokconv
