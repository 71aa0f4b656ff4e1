// Arithmetic in double on the float positions and normals the pipeline stores.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

#include "mesh/mesh.hpp"

namespace rokconv::geometry {

inline constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

struct D3 {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

inline D3 d3(const Vec3& v) {
    return {v.x, v.y, v.z};
}
inline D3 operator-(const D3& a, const D3& b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline D3 operator+(const D3& a, const D3& b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
inline D3 operator*(double s, const D3& a) {
    return {s * a.x, s * a.y, s * a.z};
}
inline double dot(const D3& a, const D3& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
inline D3 cross(const D3& a, const D3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline double length(const D3& a) {
    return std::sqrt(dot(a, a));
}
inline Vec3 to_vec3(const D3& a) {
    return {static_cast<float>(a.x), static_cast<float>(a.y), static_cast<float>(a.z)};
}
inline double component(const Vec3& v, int axis) {
    return axis == 0 ? v.x : axis == 1 ? v.y : v.z;
}

}  // namespace rokconv::geometry
