// Geometry that the triangle-based and smoothed outputs share: face normals, triangulation of a
// face's ring, and per-corner normals smoothed as LightWave smooths a surface.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace rokconv {

// a position or a normal as the outputs store it; computations on them are made in double
struct Vec3 {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
};

// The unit Newell normal of a ring of positions, computed in double: the side from which the
// ring runs counter-clockwise. Zero for a ring without area: fewer than 3 distinct points, or on
// one line within the rounding of the positions to float, taken as twice its area being at most
// 2^-21 times its perimeter times its largest coordinate (a width of 8 roundings). Zero too for
// positions that are not finite.
Vec3 face_normal(std::span<const Vec3> ring);

// Triangulates a ring of positions given in order, appending index triples into the ring to
// triangles, each running the same way round as the ring. The ring is projected onto its plane
// (dropping its Newell normal's largest axis) and cut into ears, so a concave face of n
// distinct corners is covered exactly by n - 2 triangles, none outside it and none overlapping.
// A point equal to the one before it is left out. A ring that is not a simple polygon (it
// crosses or touches itself, or visits a point twice) is cut into a fan from its first point
// instead, each triangle in ring order, leaving out those without area. Costs O(n) for a convex
// ring, else O(n log n) to test that it is simple and O(n * r) at worst for r reflex corners
// (measured near n^1.5 on star-shaped rings). A ring without area (face_normal zero) gets no
// triangles: returns false and appends nothing. normal is the ring's face_normal.
bool triangulate_ring(std::span<const Vec3> ring, const Vec3& normal,
                      std::vector<std::uint32_t>& triangles);

// the interior angle of a face at each corner of its ring, into angles: more than half a turn
// where the face turns back against its normal
void corner_angles(std::span<const Vec3> ring, const Vec3& normal, std::span<float> angles);

// a corner of a face with a normal, at the point being smoothed
struct SmoothCorner {
    std::uint32_t out = 0;  // where its normal goes
    std::int32_t group = 0;
    float angle = 0.0f;  // its face's interior angle there, as corner_angles gives it
    Vec3 normal;         // its face's
};

// Smoothing, as a LightWave surface with a maximum smoothing angle does it, one point at a time:
// point() sets out[c.out] for each corner c at a point to the normalised sum of the normals of
// the corners of its group there that lie within max_angle (radians, up to 1e-6 in its cosine
// for rounding) of its own, itself included, each weighted by its angle. A face meeting the
// point at several corners counts once for each. Where the sum vanishes a corner keeps its
// face's normal. The corners are given in corner order (it reorders them). O(corners) where the
// corners of a group lie within half the angle of their mean; elsewhere k corners are tested in
// pairs up to 32, and beyond through a k-d tree of their normals.
class Smoother {
  public:
    explicit Smoother(double max_angle);
    ~Smoother();
    Smoother(const Smoother&) = delete;
    Smoother& operator=(const Smoother&) = delete;
    void point(std::span<SmoothCorner> at, std::span<Vec3> out);

  private:
    struct Scratch;  // kept from point to point
    double limit_;
    double cos_limit_;
    double cos_half_;
    std::unique_ptr<Scratch> scratch_;
};

}  // namespace rokconv
