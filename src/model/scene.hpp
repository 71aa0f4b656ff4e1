// The model as the OBJ and glTF writers take it: in their frame, with each face's ring, its
// material, smoothed corner normals and the vertices they make.
#pragma once

#include <bit>
#include <cstdint>
#include <string>
#include <vector>

#include "model/look.hpp"
#include "model/mesh.hpp"
#include "rokconv/omitted.hpp"

namespace rokconv {

// OBJ and glTF are right-handed with Y up and a polygon's front is the side from which its
// vertices run counter-clockwise; LightWave's frame is left-handed and its fronts run clockwise.
// So positions are the LWOB ones (x * 8, y * -8, z * 8) with Z negated, and every ring is
// reversed: the model keeps its shape, is not mirrored, and shows the same faces in front.
struct SceneFace {
    std::uint32_t first = 0;     // corners[first .. first + count): 0-based points, reversed ring
    std::uint32_t count = 0;     // 2 or more; a face of 2 corners is drawn as a line
    std::int32_t material = -1;  // index into Scene::materials, -1 for none
    std::uint32_t polygon = 0;   // index into Model::polygons
};

struct SceneLine {
    std::uint32_t from = 0;  // 0-based points
    std::uint32_t to = 0;
    std::int32_t material = -1;
};

struct Material {
    std::string name;  // "ROK<index>", as the LWOB surface is named
    Look look;
};

struct Scene {
    std::vector<Vec3> positions;  // one for each point of the model
    std::vector<std::uint32_t> corners;
    std::vector<SceneFace> faces;
    std::vector<SceneLine> lines;
    std::vector<Material> materials;  // ascending palette index
    Omitted omitted;
};

// one more left out, the one at index
inline void leave_out(Omission& o, std::size_t index) {
    if (o.count == 0 || index < o.first) o.first = index;
    ++o.count;
}

// the scene of a model, leaving out faces and lines whose points lie outside the point table or
// whose positions are not finite, and faces of no points; false when a face's edges lie outside
// the model's tables (a model built by hand)
[[nodiscard]] bool build_scene(const Model& model, Scene& scene);

// The vertices that the smoothed normals of the corners make: the normal of each corner of the
// faces of 3 or more corners (zero at the corners of a face without area, and of faces of 2
// corners), and a point becomes several vertices only where its corners' normals differ.
// vertex_of has one entry a corner; the vertices are ordered by point, then by first use.
struct Shading {
    std::vector<Vec3> face_normal;  // one a face: zero for one without area or of 2 corners
    std::vector<std::uint32_t> vertex_of;
    std::vector<std::uint32_t> vertex_point;  // one a vertex
    std::vector<Vec3> vertex_normal;
};

Shading shade(const Scene& scene);

// LightWave's smoothing angle, 44.5 degrees, as the surfaces state it
inline constexpr float kSmoothingAngle = std::bit_cast<float>(0x3F46D3F2u);

// a colour component 0-255 as sRGB, converted to linear light
double linear(std::uint8_t component);

}  // namespace rokconv
