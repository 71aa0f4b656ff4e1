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
// triangles: returns false and appends nothing.
bool triangulate_ring(std::span<const Vec3> ring, std::vector<std::uint32_t>& triangles);
// the same for a ring whose face_normal is known
bool triangulate_ring(std::span<const Vec3> ring, const Vec3& normal,
                      std::vector<std::uint32_t>& triangles);

// A face for smoothing: its corners are points[first .. first + count) of the corner table, its
// normal is its unit Newell normal (zero for a face without area), and only faces of the same
// group (the same surface) smooth into each other.
struct ShadedFace {
    std::uint32_t first = 0;
    std::uint32_t count = 0;
    std::int32_t group = 0;
    Vec3 normal;
};

// Smoothing, as a LightWave surface with a maximum smoothing angle does it: the normal at each
// corner of a face is the normalised sum of the normals of the faces of its group that meet at
// the corner's point and lie within max_angle (radians, up to 1e-6 in its cosine for rounding)
// of the face, the face itself included, each weighted by the face's interior angle at that
// corner (more than half a turn where the face turns back). A face meeting a point at several
// corners counts once for each. Returns one unit normal per corner, in the corner table's order;
// a face without area (normal zero), or whose corners lie outside the tables, gets its corners'
// normals zero and adds to no other's; where the sum vanishes a corner keeps its face's normal.
// points are 0-based indices into positions. O(corners) where the faces of a group at a point
// lie within half the angle of their mean; elsewhere k corners at a point are tested in pairs
// up to 32, and beyond through a k-d tree of their normals.
std::vector<Vec3> smooth_normals(std::span<const ShadedFace> faces,
                                 std::span<const std::uint32_t> points,
                                 std::span<const Vec3> positions, double max_angle);

// the interior angle of a face at a corner, from the positions before, at and after it: more than
// half a turn where the face turns back against its normal
float corner_angle(const Vec3& before, const Vec3& at, const Vec3& after, const Vec3& normal);

// corner_angle of each corner of a ring, into angles
void corner_angles(std::span<const Vec3> ring, const Vec3& normal, std::span<float> angles);

// a corner of a face with a normal, at the point being smoothed
struct SmoothCorner {
    std::uint32_t out = 0;  // where its normal goes
    std::int32_t group = 0;
    float angle = 0.0f;  // corner_angle
    Vec3 normal;         // its face's
};

// The smoothing of smooth_normals one point at a time, for a caller that has the corners of
// each point at hand: point() sets out[c.out] for each corner c at a point, given in corner
// order (it reorders them).
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
