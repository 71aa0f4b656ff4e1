// The model as the writers of polygon formats (OBJ, glTF, STL) take it: in their frame, with each
// face's ring, its material, smoothed corner normals and the vertices they make.
#pragma once

#include <bit>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "mesh/mesh.hpp"
#include "model/look.hpp"
#include "model/omission.hpp"
#include "rokconv/format.hpp"
#include "util/compat.hpp"
#include "util/memory.hpp"

namespace rokconv {

// what the pipeline leaves out of a model
struct Omitted {
    Omission faces_outside;  // faces naming a point outside the point table
    Omission lines_outside;  // lines naming such a point
    // faces and lines using a point whose scaled position is not a finite single-precision value
    Omission faces_not_finite;
    Omission lines_not_finite;
    // faces without area: in glTF, fewer than 3 distinct points or all on one line; in OBJ,
    // faces of no points
    Omission faces_without_area;
};

// Puts what the pipeline left out into left_out, by line where there is a report.
void tally_omitted(const Omitted& omitted, const LoadReport* report, LeftOut& left_out);

struct SceneLine {
    std::uint32_t from = 0;  // 0-based points
    std::uint32_t to = 0;
    std::int32_t material = -1;
};

struct Material {
    std::string name;         // "ROK<index>", as the LWOB surface is named
    std::int32_t colour = 0;  // its palette index
    Look look;
};

// OBJ and glTF are right-handed with Y up and a polygon's front is the side from which its
// vertices run counter-clockwise; LightWave's frame is left-handed and its fronts run clockwise.
// So positions are the LWOB ones (x * 8, y * -8, z * 8) with Z negated, and every ring is
// reversed: the model keeps its shape, is not mirrored, and shows the same faces in front.
//
// The faces are held side by side: face f's corners are corners[face_start[f] ..
// face_start[f + 1]), 0-based points of its reversed ring, 2 or more (a face of 2 corners is
// drawn as a line). Each face's normal is its face_normal, zero for a face of 2 corners or
// without area; each corner's angle is kept in its slot (CornerSlots).
struct Scene {
    std::vector<Vec3> positions;  // one for each point of the model
    std::vector<std::uint32_t> corners;
    std::vector<std::uint32_t> face_start;    // one more than the faces
    std::vector<std::int32_t> face_material;  // index into materials, -1 for none
    std::vector<Vec3> face_normal;
    std::vector<std::uint32_t> point_corners;  // how many corners each point has
    std::vector<SceneLine> lines;
    std::vector<Material> materials;  // ascending palette index
    Omitted omitted;
    std::vector<std::size_t> left_out;  // the model's faces not taken, ascending
    unsigned threads = 1;               // that the steps below share their work among

    std::size_t face_count() const { return face_material.size(); }
};

// Told of the faces of a share of the scene as shape_faces shapes them, on the share's thread:
// first the share, the faces [begin, end), then each face in order with its ring of positions
// and its normal.
class FaceSink {
  public:
    virtual void share(std::size_t begin, std::size_t end) = 0;
    virtual void face(std::size_t f, std::span<const Vec3> ring, const Vec3& normal) = 0;

  protected:
    ~FaceSink() = default;
};

// The pipeline's steps, which build_scene below runs in order: the positions; the faces and
// lines, leaving out faces and lines whose points lie outside the point table or whose positions
// are not finite, and faces of no points (false when a face's edges lie outside the model's
// tables, a model built by hand), the faces shared among the scene's threads. Then
// place_corners and shape_faces.
void place_points(const Model& model, Scene& scene);
[[nodiscard]] bool take_faces(const Model& model, Scene& scene);

// whether model line i is one of the scene's lines: its points lie within the point table and
// their positions are finite
bool line_drawn(const Model& model, const Scene& scene, std::size_t i);

// the index in Model::faces of the scene's face f
std::size_t face_of(const Scene& scene, std::size_t f);

// The corners of each point, by a counting sort: point p's are the slots [start[p],
// start[p + 1]), in corner order. A slot holds its corner's face and angle, until shade() puts
// the corner's vertex in place of the face.
struct CornerSlots {
    struct Slot {
        std::uint32_t ref = 0;  // the face, then the vertex
        float angle = 0.0f;
    };
    std::vector<std::uint32_t> start;
    std::vector<Slot> slots;
};

// fills slots with each corner's face from the scene, whose point_corners it frees; returns
// each corner's slot
std::vector<std::uint32_t> place_corners(Scene& scene, CornerSlots& slots);

// Each face's normal, into face_normal, and the angle of each of its corners, into the corner's
// slot (slot_of as place_corners returns it; empty, no angles), the faces shared among the
// scene's threads. With sinks, the faces are shared among sinks.size() threads, the t-th of
// nearly equal shares going to sinks[t].
void shape_faces(Scene& scene, CornerSlots& slots, std::span<const std::uint32_t> slot_of,
                 std::span<FaceSink* const> sinks = {});

// The vertices that the smoothed normals of the corners make, a point becoming several only
// where its corners' normals differ: each slot's ref becomes its corner's vertex. A corner of a
// face without a normal has a zero normal. The vertices are ordered by point, then by first use:
// point p's are [vertex_start[p], vertex_start[p + 1]).
struct Shading {
    std::vector<std::uint32_t> vertex_start;
    std::vector<Vec3> vertex_normal;  // one a vertex
};

Shading shade(const Scene& scene, CornerSlots& slots);

// What a writer does at the pipeline's steps.
struct PipelineHooks {
    // Given place, which places the corners at their points, to call while the writer does
    // other work beside it on other threads (OBJ writes its v lines meanwhile). Left empty,
    // place runs alone.
    std::function<void(const std::function<void()>& place)> while_placing;
    // each told of its share of the faces as they are shaped, a thread each
    std::span<FaceSink* const> sinks;
    // whether the corners are placed and their angles found, for shade() to smooth: a format of
    // flat facets needs neither
    bool smooth = true;
};

// A model's scene, each corner's slot by corner, and the slots themselves.
struct Pipeline {
    Scene scene;
    CornerSlots slots;
    std::vector<std::uint32_t> slot_of;
};

// The one order of the pipeline's steps, for every format made of the scene: the points placed
// in the frame (place_points); the faces and lines taken (take_faces), false when a face's edges
// lie outside the model's tables; where smoothing, the corners placed at their points
// (place_corners, through hooks.while_placing); the faces shaped (shape_faces), the sinks told
// of them; the work shared among threads (as threads_for gives them). The writer then frees what
// it has done with and makes the vertices with shade().
[[nodiscard]] bool build_scene(const Model& model, unsigned threads, const PipelineHooks& hooks,
                               Pipeline& pipeline);

// LightWave's smoothing angle, 44.5 degrees, as the surfaces state it
inline constexpr float kSmoothingAngle = compat::bit_cast<float>(0x3F46D3F2u);

// a colour component 0-255 as sRGB, converted to linear light
double linear(std::uint8_t component);

}  // namespace rokconv
